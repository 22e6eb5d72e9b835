// The stand-in terminal: serves a folder the way the QUIK terminal would, for tests and demos.
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "book_memory.h"
#include "decoys.h"
#include "exchange.h"
#include "hostility.h"
#include "link_messages.h"
#include "order_book.h"
#include "reply_lines.h"
#include "script_feed.h"
#include "securities.h"
#include "system.h"
#include "transaction.h"
#include "transaction_inbox.h"

namespace standin {
namespace {

volatile std::sig_atomic_t stopRequested = 0;

constexpr const char* usage =
    "usage: info.exe --folder DIR [--sec-version 1|2] [--rate MS] [--seed N] [--static]\n"
    "                [--dump-books] [--write-ini PATH] [--ini-quik-path PATH] [--output-way TRI|DLL] [--list]\n"
    "                [--random-base] [--decoys] [--decoy-megabytes N]\n"
    "                [--hostile] [--faults LIST] [--fault-every MS] [--fault-hold MS] [--tear-pause MS]\n"
    "                [--report-faults] [--restart-every SECONDS] [--exit-after SECONDS] [--print-pid]\n"
    "                [--price-band PERCENT] [--max-quantity N] [--reject-every N] [--reply-delay MS]\n"
    "                [--withhold-replies] [--script PATH] [--book-depth N]\n"
    "                [--trade-accounts LIST] [--report-script] [--script-fault FUNCTION]\n"
    "                [--trade-rate N] [--step-price VALUE] [--step-price-every MS]\n";

// The terminal's static data: the chain head lives somewhere in here with --random-base,
// inside the executable's image like a global variable of the real terminal.
std::uint32_t imageData[1 << 18];

struct Options {
    std::string folder;
    int secVersion = 1;
    int rateMs = 100;
    std::uint32_t seed = 0;
    bool seeded = false;
    bool fixedBooks = false;
    bool dumpBooks = false;
    bool list = false;
    std::string iniPath;
    std::string iniQuikPath;
    std::string outputWay = "TRI";
    bool randomBase = false;
    bool decoys = false;
    std::size_t decoyMegabytes = 4;
    bool hostile = false;
    std::vector<Fault> faults = allFaults();
    int faultEveryMs = 500;
    int faultHoldMs = 300;
    int tearPauseMs = -1;  // -1: 1 when hostile, else 0
    bool reportFaults = false;
    bool reportMoves = false;
    double restartEvery = 0;
    double exitAfter = 0;
    bool printPid = false;
    ExchangeRules rules;
    int replyDelayMs = 0;
    bool withholdReplies = false;
    std::string script;  // a Lua script to host, as the terminal's scripts dialog would
    std::size_t bookDepth = 0;  // levels a side in every moving book; 0: from 5 to 25
    std::vector<TradeAccount> accounts{{"DEMO1", "|SPBFUT|SPBOPT|"}, {"DEMO2", "|TQBR|TQOB|"}};
    bool reportScript = false;
    std::vector<std::string> scriptFaults;  // host functions that fail whenever called
    double tradeRate = -1;      // anonymous trades a second beside the market's own; -1: 4, none with --static
    double stepPrice = 0;       // every futures' step price; 0: each its own
    int stepPriceEveryMs = 0;   // how often the step prices move; 0: never
};

// "ID=CLASSES,ID=CLASSES": the rows of trade_accounts; an empty list gives none.
std::vector<TradeAccount> parseAccounts(const std::string& list) {
    std::vector<TradeAccount> accounts;
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        const std::string item = list.substr(start, comma - start);
        const std::size_t equals = item.find('=');
        if (equals == 0 || equals == std::string::npos)
            throw std::invalid_argument("--trade-accounts takes ID=CLASSES items separated by commas");
        accounts.push_back({item.substr(0, equals), item.substr(equals + 1)});
        start = comma + 1;
    }
    return accounts;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    auto needValue = [&](int& i) -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(std::string(argv[i]) + " needs a value");
        return argv[++i];
    };
    auto number = [&](int& i, double low, double high) {
        std::string text = needValue(i);
        std::size_t used = 0;
        double value = 0;
        try {
            value = std::stod(text, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used != text.size() || !(value >= low && value <= high))
            throw std::invalid_argument(std::string(argv[i - 1]) + " takes a number from " + std::to_string(low) +
                                        " to " + std::to_string(high));
        return value;
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--restart-every") {
            options.restartEvery = number(i, 0.1, 86400);
            continue;
        }
        if (arg == "--folder") options.folder = needValue(i);
        else if (arg == "--sec-version") options.secVersion = std::stoi(needValue(i));
        else if (arg == "--rate") options.rateMs = std::stoi(needValue(i));
        else if (arg == "--seed") options.seed = static_cast<std::uint32_t>(std::stoul(needValue(i))), options.seeded = true;
        else if (arg == "--static") options.fixedBooks = true;
        else if (arg == "--dump-books") options.dumpBooks = true;
        else if (arg == "--list") options.list = true;
        else if (arg == "--write-ini") options.iniPath = needValue(i);
        else if (arg == "--ini-quik-path") options.iniQuikPath = needValue(i);
        else if (arg == "--output-way") options.outputWay = needValue(i);
        else if (arg == "--random-base") options.randomBase = true;
        else if (arg == "--decoys") options.decoys = true;
        else if (arg == "--decoy-megabytes") options.decoyMegabytes = static_cast<std::size_t>(number(i, 0, 1536)), options.decoys = true;
        else if (arg == "--hostile") options.hostile = true;
        else if (arg == "--fault-every") options.faultEveryMs = static_cast<int>(number(i, 10, 3600000));
        else if (arg == "--fault-hold") options.faultHoldMs = static_cast<int>(number(i, 1, 3600000));
        else if (arg == "--tear-pause") options.tearPauseMs = static_cast<int>(number(i, 0, 1000));
        else if (arg == "--report-faults") options.reportFaults = true;
        else if (arg == "--report-moves") options.reportMoves = true;
        else if (arg == "--exit-after") options.exitAfter = number(i, 0.1, 86400);
        else if (arg == "--print-pid") options.printPid = true;
        else if (arg == "--price-band") options.rules.priceBandPercent = number(i, 0.001, 1000);
        else if (arg == "--max-quantity") options.rules.maxQuantity = static_cast<std::uint32_t>(number(i, 1, 1000000));
        else if (arg == "--reject-every") options.rules.rejectEvery = static_cast<std::uint32_t>(number(i, 1, 1000000));
        else if (arg == "--reply-delay") options.replyDelayMs = static_cast<int>(number(i, 0, 3600000));
        else if (arg == "--withhold-replies") options.withholdReplies = true;
        else if (arg == "--script") options.script = needValue(i);
        else if (arg == "--book-depth") options.bookDepth = static_cast<std::size_t>(number(i, 1, 100));
        else if (arg == "--trade-accounts") options.accounts = parseAccounts(needValue(i));
        else if (arg == "--report-script") options.reportScript = true;
        else if (arg == "--script-fault") options.scriptFaults.push_back(needValue(i));
        else if (arg == "--trade-rate") options.tradeRate = number(i, 0, 100000);
        else if (arg == "--step-price") options.stepPrice = number(i, 0.000001, 1e9);
        else if (arg == "--step-price-every") options.stepPriceEveryMs = static_cast<int>(number(i, 10, 3600000));
        else if (arg == "--faults") {
            auto faults = parseFaults(needValue(i));
            if (!faults) throw std::invalid_argument("--faults takes a comma-separated list of fault names");
            options.faults = *faults;
        }
        else throw std::invalid_argument("unknown option " + arg);
    }
    if (options.folder.empty() && !options.list) throw std::invalid_argument("--folder is required");
    if (options.secVersion != 1 && options.secVersion != 2) throw std::invalid_argument("--sec-version is 1 or 2");
    if (options.rateMs < 1) throw std::invalid_argument("--rate must be positive");
    if (options.tearPauseMs < 0) options.tearPauseMs = options.hostile ? 1 : 0;
    if (options.tradeRate < 0) options.tradeRate = options.fixedBooks ? 0 : 4;
    return options;
}

// Chain order mixes the securities' file order, and two headers carry no book.
std::vector<BookMemory::Header> chainOrder(const std::vector<Security>& securities) {
    const int order[] = {3, 0, 11, 12, 1, 7, 4, 2, 10, 5, 6, 8};
    std::vector<BookMemory::Header> chain;
    for (int index : order)
        chain.push_back({index, securities[static_cast<std::size_t>(index)].startPrice != 0});
    return chain;
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

void appendLine(const std::string& path, const std::string& line) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << line << "\r\n";
    if (!out.flush()) std::cerr << "info.exe: cannot write " << path << '\n';
}

// The QuikPath the ini's reader uses: a Linux program beside a terminal under Wine needs the
// Unix path of the folder, not the Windows one.
std::string iniQuikPath(const Options& options, const std::string& canonical, const std::string& folder) {
    if (!options.iniQuikPath.empty()) return options.iniQuikPath;
    std::string path = linuxPath(canonical);
    if (path.empty()) return folder;
    return path.back() == '/' ? path : path + "/";
}

std::string iniText(const std::string& quikPath, const Options& options, std::uint32_t domBase,
                    const std::string& defaultContract) {
    char base[16];
    std::snprintf(base, sizeof base, "0x%08X", domBase);
    std::string lines[] = {
        "[COMMON]", "QuikPath=" + quikPath, "OutputWay=" + options.outputWay, "ACCOUNT=DEMO1", "SECTION=FORTS",
        "LogLevel=1",
        "[DEFAULT]", "DefaultContract=" + defaultContract, "DefaultContractCnt=1", "DefaultLimitOrderShift=1",
        "DefaultLimitStopShift=1", "DefaultFullView=1", "DefaultStayOnTop=0",
        "[POSITION]", "Left=100", "Top=100", "Height=750", "FullWidth=500", "ShortWidth=255", "DOMPanelWidth=250",
        "DOMCol1Width=40", "DOMCol2Width=40", "DOMCol3Width=40", "DOMCol4Width=40", "DOMCol5Width=40",
        "DOMCol6Width=26", "DOMRowHeight=15", "DOMRowCount=41", "DOMFontSize=8", "DomFontName=Courier New",
        "[HOTKEYS]", "MARKETBUY=112", "MARKETSELL=113", "MARKETPLUSBUY=32880", "MARKETPLUSSELL=32881",
        "CLEARALL=116", "CLEARALLSTOPS=0",
        "[TECH]", std::string("DOMBASE=") + base, "ReadSecVersion=" + std::to_string(options.secVersion),
    };
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return toWindows1251(text);
}

using Clock = std::chrono::steady_clock;

class Terminal {
public:
    Terminal(const Options& options, std::string folder, std::uint32_t seed)
        : options_(options), folder_(std::move(folder)), securities_(standardSecurities()),
          chain_(chainOrder(securities_)), memory_(chain_, headWord(options, seed)), random_(seed),
          tapeRandom_(seed ^ 0xA54FF53Au),
          exchange_(securities_, chain_, books_, options.rules) {
        memory_.setTearPause(std::chrono::milliseconds(options.tearPauseMs));
        for (std::size_t i = 0; i < chain_.size(); ++i) {
            const Security& s = securities_[static_cast<std::size_t>(chain_[i].securityIndex)];
            books_.emplace_back(static_cast<std::uint32_t>(s.intPriceStep), s.startPrice);
            if (!chain_[i].hasBook) continue;
            if (options.fixedBooks) {
                books_.back().fillScripted(static_cast<int>(i));
                // One resting order of the user's from an earlier session, to be seen and killed.
                if (i == 1) {
                    const std::uint32_t price = s.startPrice - 3 * static_cast<std::uint32_t>(s.intPriceStep);
                    books_.back().placeOrder(false, price, 2);
                    exchange_.addRestingOrder(i, false, price, 2);
                }
            } else {
                if (options.bookDepth > 0) books_.back().holdDepth(options.bookDepth);
                books_.back().fillRandom(random_);
            }
            memory_.writeBook(i, books_.back().rows());
        }
        if (options.decoys) {
            std::mt19937 decoyRandom(seed ^ 0xBB67AE85u);
            decoys_ = std::make_unique<Decoys>(options.decoyMegabytes << 20, memory_.headerAddress(1),
                                               static_cast<std::int32_t>(securities_.size()), decoyRandom);
        }
    }

    // The word of static data that holds the chain head, at an offset drawn from the seed.
    static std::uint32_t* headWord(const Options& options, std::uint32_t seed) {
        if (!options.randomBase) return nullptr;
        std::mt19937 random(seed ^ 0x3C6EF372u);
        return &imageData[random() % (std::size(imageData) - 4)];
    }

    // Breaks one book or header the way `fault` says and freezes that book until repair.
    void startFault(Fault fault, std::mt19937& random) {
        std::vector<std::size_t> withBook;
        for (std::size_t i = 0; i < chain_.size(); ++i)
            if (chain_[i].hasBook && memory_.shownLevels(i) >= 2) withBook.push_back(i);
        if (withBook.empty()) return;
        std::size_t header = withBook[random() % withBook.size()];
        std::size_t levels = memory_.shownLevels(header);
        std::size_t detail = 0;
        switch (fault) {
        case Fault::Torn: memory_.tearBook(header, books_[header].rows()); break;
        case Fault::Loop:
            header = random() % chain_.size();
            detail = random() % (header + 1);
            memory_.setNext(header, memory_.headerAddress(detail));
            break;
        case Fault::UnmappedArray: memory_.setArray(header, memory_.unmappedAddress()); break;
        case Fault::UnmappedEntry:
            detail = random() % levels;
            memory_.setPointer(header, detail, memory_.unmappedAddress());
            break;
        case Fault::EmptyCount: memory_.setCount(header, 0); break;
        case Fault::EmptyArray: memory_.setPointer(header, 0, 0); break;
        case Fault::BothSides:
        case Fault::OwnBothSides:
            detail = random() % levels;
            memory_.fillBothSides(header, detail, fault == Fault::OwnBothSides);
            break;
        case Fault::BrokenOrder:
            detail = random() % (levels - 1);
            memory_.swapPointers(header, detail);
            break;
        }
        faulty_ = header;
        if (options_.reportFaults) {
            std::printf("FAULT %s %zu %zu\n", faultName(fault), header, detail);
            std::fflush(stdout);
        }
    }

    void repairFault() {
        if (faulty_ >= chain_.size()) return;
        memory_.restoreHeader(faulty_);
        memory_.writeBook(faulty_, books_[faulty_].rows());
        faulty_ = chain_.size();
    }

    std::uint32_t domBase() const { return memory_.chainHeadAddress(); }

    std::string defaultContract() const { return securities_[static_cast<std::size_t>(chain_[1].securityIndex)].code(); }

    void marketTick() {
        std::int64_t shownWritten = 0;
        for (std::size_t i = 0; i < chain_.size(); ++i) {
            if (!chain_[i].hasBook || i == faulty_) continue;
            const std::optional<Fill> traded = books_[i].step(random_);
            memory_.writeBook(i, books_[i].rows());
            if (feed_) feed_->bookChanged(i);
            if (feed_ && traded) feed_->tape(static_cast<std::size_t>(chain_[i].securityIndex), *traded);
            report(exchange_.settle(i));
            if (i == 1) shownWritten = std::chrono::steady_clock::now().time_since_epoch().count();
        }
        if (options_.reportMoves && shownWritten != 0) {
            std::printf("MOVE %lld %016llx\n", static_cast<long long>(shownWritten),
                        static_cast<unsigned long long>(rowsDigest(books_[1].rows())));
            std::fflush(stdout);
        }
    }

    // FNV-1a over each row's side, price, quantity and own quantity, in book order.
    static std::uint64_t rowsDigest(const std::vector<BookRow>& rows) {
        std::uint64_t digest = 14695981039346656037ull;
        for (const BookRow& row : rows)
            for (std::uint32_t word : {row.sell ? 1u : 0u, row.price, row.quantity, row.own})
                for (int shift = 0; shift < 32; shift += 8) digest = (digest ^ ((word >> shift) & 0xFF)) * 1099511628211ull;
        return digest;
    }

    // Where a transaction came from and its final reply goes: quik.tri and quik.tro, a connection
    // of the library, or a script's sendTransaction (whose reply is OnTransReply alone).
    struct Source {
        enum Kind { File, Library, Script } kind = File;
        std::uint64_t client = 0;
    };

    void handle(const std::string& text, Source source) {
        CheckedTransaction checked = checkTransaction(text, securities_);
        // The library's and the script's callers learn of the sending from the send's own result.
        if (source.kind == Source::File)
            appendLine(tro(), sentLine(checked.transIdText, Exchange::transName(checked.action)));
        Outcome outcome = exchange_.execute(checked);
        const bool bookChanged = outcome.header < chain_.size();
        if (bookChanged) memory_.writeBook(outcome.header, books_[outcome.header].rows());
        if (bookChanged && feed_) {
            feed_->bookChanged(outcome.header);
            for (const Fill& fill : outcome.fills)
                feed_->tape(static_cast<std::size_t>(chain_[outcome.header].securityIndex), fill);
        }
        report(outcome.changed);
        if (!options_.withholdReplies) {
            ScriptReply script{transId(checked), outcome.status, outcome.orderNumber, outcome.description,
                               checked.transaction ? checked.transaction->securityIndex : SIZE_MAX};
            Reply reply{Clock::now() + std::chrono::milliseconds(options_.replyDelayMs), source, {}, script};
            if (source.kind == Source::Library)
                reply.text = encodeReply({outcome.status, transId(checked), outcome.orderNumber, outcome.description});
            else if (source.kind == Source::File)
                reply.text = finalLine(checked.transIdText, outcome.status, outcome.transName, outcome.description,
                                       outcome.orderNumber);
            replies_.push_back(std::move(reply));
            deliverReplies(Clock::now());
        }
        // Last, so that a reader of the dump finds an undelayed reply written already.
        if (bookChanged && options_.dumpBooks) dump();
    }

    // A new connection of the library gets the order table first, then the changes.
    void welcome(std::uint64_t client) {
        if (!link_) return;
        for (const DeskOrder& order : exchange_.desk().orders()) link_->send(client, orderMessage(order, true));
        link_->send(client, loadedMessage);
        link_->admit(client);
    }

    // Final replies held back by --reply-delay go out once due.
    void deliverReplies(Clock::time_point now) {
        while (!replies_.empty() && replies_.front().due <= now) {
            const Reply& reply = replies_.front();
            if (reply.source.kind == Source::File) appendLine(tro(), reply.text);
            else if (reply.source.kind == Source::Library && link_) link_->send(reply.source.client, reply.text);
            if (feed_) feed_->replied(reply.script);
            replies_.pop_front();
        }
    }

    std::optional<Clock::time_point> nextReplyDue() const {
        if (replies_.empty()) return std::nullopt;
        return replies_.front().due;
    }

    void attach(LibraryLink& link) { link_ = &link; }

    // Hosts a script beside the terminal; `workingFolder` is what it sees as the terminal's folder.
    void startScript(const std::string& path, const std::string& workingFolder) {
        feed_ = std::make_unique<ScriptFeed>(workingFolder, securities_, chain_, books_, exchange_.desk(),
                                             options_.accounts, options_.reportScript, options_.stepPrice);
        feed_->start(path, options_.scriptFaults);
    }
    bool scripting() const { return feed_ != nullptr; }
    // What the script sent through sendTransaction, carried out here as any other transaction.
    void handleScriptTransactions() {
        if (!feed_) return;
        for (const std::string& text : feed_->takeTransactions()) handle(text, {Source::Script});
    }
    // A trade of the load at the best bid or offer of a book drawn at random; the book stays as it is.
    void playRandomTrade() {
        if (!feed_) return;
        std::vector<std::size_t> booked;
        for (std::size_t i = 0; i < chain_.size(); ++i)
            if (chain_[i].hasBook) booked.push_back(i);
        const std::size_t header = booked[tapeRandom_() % booked.size()];
        const bool sell = tapeRandom_() % 2;
        std::uint32_t bestBid = 0, bestAsk = 0;
        for (const BookRow& row : books_[header].rows()) {
            if (!row.sell) bestBid = row.price;
            else if (bestAsk == 0) bestAsk = row.price;
        }
        // A seller takes the best bid, a buyer the best offer.
        const std::uint32_t price = sell ? bestBid : bestAsk;
        if (price == 0) return;
        const auto quantity = static_cast<std::uint32_t>(1 + tapeRandom_() % 20);
        feed_->tape(static_cast<std::size_t>(chain_[header].securityIndex), {price, quantity, sell});
    }
    void walkStepPrices() {
        if (feed_) feed_->walkStepPrices(tapeRandom_);
    }
    // While a file server.off lies in the folder the terminal has lost its server, as far as a
    // script can tell.
    void checkServer() {
        if (!feed_) return;
        std::error_code error;
        feed_->setConnected(!std::filesystem::exists(folder_ + "server.off", error));
    }
    // Taken around every change of the terminal's state while a script may read it.
    std::unique_lock<std::mutex> holdScript() { return feed_ ? feed_->hold() : std::unique_lock<std::mutex>(); }
    void stopScript() {
        if (feed_) feed_->stop();
    }

    void dump() const {
        for (std::size_t i = 0; i < chain_.size(); ++i) {
            if (!chain_[i].hasBook) continue;
            std::string code = securities_[static_cast<std::size_t>(chain_[i].securityIndex)].code();
            for (const BookRow& row : books_[i].rows())
                std::printf("%s %c %u %u %u\n", code.c_str(), row.sell ? 'S' : 'B', row.price, row.quantity, row.own);
        }
        std::printf("END\n");
        std::fflush(stdout);
    }

private:
    struct Reply {
        Clock::time_point due;
        Source source;
        std::string text;
        ScriptReply script;
    };

    std::string tro() const { return folder_ + "quik.tro"; }

    static std::uint32_t transId(const CheckedTransaction& checked) {
        if (checked.transaction) return static_cast<std::uint32_t>(checked.transaction->transId);
        std::uint32_t id = 0;
        const std::string& text = checked.transIdText;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
        return error == std::errc() && end == text.data() + text.size() ? id : 0;
    }

    std::string orderMessage(const DeskOrder& order, bool load) const {
        const Security& security = securities_[order.securityIndex];
        OrderMessage message;
        message.load = load;
        message.transId = static_cast<std::uint32_t>(order.transId);
        message.number = order.number;
        message.classCode = security.classCode;
        message.secCode = security.code();
        message.price = order.intPrice / std::pow(10.0, security.decimals);
        message.balance = order.balance;
        message.value = message.price * order.quantity;
        message.sell = order.sell;
        message.status = order.state;
        return encodeOrder(message);
    }

    // Order changes go to every connection of the library, as the terminal's order table does.
    void report(const std::vector<DeskOrder>& changed) {
        if (feed_) feed_->ordersChanged(changed);
        if (!link_) return;
        for (const DeskOrder& order : changed) link_->broadcast(orderMessage(order, false));
    }

    const Options& options_;
    std::string folder_;
    const std::vector<Security>& securities_;
    std::vector<BookMemory::Header> chain_;
    BookMemory memory_;
    std::vector<OrderBook> books_;
    std::mt19937 random_;
    std::mt19937 tapeRandom_;  // apart, so that a seed plays the same market with or without a script
    Exchange exchange_;
    std::deque<Reply> replies_;  // due in order: every reply waits the same delay
    LibraryLink* link_ = nullptr;
    std::unique_ptr<Decoys> decoys_;
    std::size_t faulty_ = SIZE_MAX;  // the header a fault holds, if any
    std::unique_ptr<ScriptFeed> feed_;  // last: the script stops before what it reads goes
};

void listSecurities() {
    const auto& securities = standardSecurities();
    for (std::size_t i = 0; i < securities.size(); ++i) {
        const Security& s = securities[i];
        std::printf("%2zu %-8s %-14s step %d decimals %d base %s isin %s\n", i, s.classCode.c_str(), s.code().c_str(),
                    s.intPriceStep, s.decimals, s.baseContract.c_str(), s.isin.c_str());
    }
}

int run(const Options& options) {
    if (options.list) {
        listSecurities();
        return 0;
    }
    makeFolder(options.folder);
    std::string canonical = canonicalFolder(options.folder);
    if (canonical.empty()) throw std::runtime_error("folder not found: " + options.folder);
    std::string folder = folderPrefix(canonical);

    writeFileBytes(folder + "sec.dat", secFileBytes(standardSecurities(), options.secVersion));
    const std::uint32_t seed = options.seeded ? options.seed : std::random_device{}();
    Terminal terminal(options, folder, seed);
    LibraryLink link(canonical);
    terminal.attach(link);
    TransactionFile transactionFile(folder + "quik.tri");

    // Velmora runs as a separate process of the same user and must be able to read our memory.
    allowReaders();

    if (!options.iniPath.empty())
        writeFileBytes(options.iniPath, iniText(iniQuikPath(options, canonical, folder), options, terminal.domBase(),
                                                terminal.defaultContract()));

    if (!options.script.empty()) terminal.startScript(options.script, canonical);

    std::printf("DOMBASE=0x%08X\n", terminal.domBase());
    if (options.printPid) std::printf("PID=%lu\n", processId());
    std::fflush(stdout);
    if (options.dumpBooks) terminal.dump();

    const auto marketPeriod = std::chrono::milliseconds(options.rateMs);
    const auto filePeriod = std::chrono::milliseconds(100);
    auto nextMarket = Clock::now() + marketPeriod;
    auto nextFile = Clock::now() + filePeriod;
    const auto exitAt = Clock::now() + std::chrono::milliseconds(static_cast<long long>(options.exitAfter * 1000));
    const auto tradePeriod = options.tradeRate > 0 ? std::chrono::duration_cast<Clock::duration>(
                                                         std::chrono::duration<double>(1.0 / options.tradeRate))
                                                   : Clock::duration::zero();
    auto nextTrade = Clock::now() + tradePeriod;
    const auto stepPricePeriod = std::chrono::milliseconds(options.stepPriceEveryMs);
    auto nextStepPrice = Clock::now() + stepPricePeriod;
    std::optional<FaultSchedule> faults;
    if (options.hostile)
        faults.emplace(options.faults, seed, std::chrono::milliseconds(options.faultEveryMs),
                       std::chrono::milliseconds(options.faultHoldMs));
    while (!stopRequested) {
        auto next = options.fixedBooks ? nextFile : std::min(nextMarket, nextFile);
        if (faults) next = std::min(next, faults->nextEvent());
        if (options.exitAfter > 0) next = std::min(next, exitAt);
        if (auto due = terminal.nextReplyDue()) next = std::min(next, *due);
        // A script's transactions wait no longer than its own loop does.
        if (terminal.scripting()) next = std::min(next, Clock::now() + std::chrono::milliseconds(10));
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
        std::vector<LinkEvent> events = link.wait(wait);
        auto scriptHeld = terminal.holdScript();
        for (const LinkEvent& event : events) {
            if (event.joined) terminal.welcome(event.client);
            else terminal.handle(event.text, {Terminal::Source::Library, event.client});
        }
        terminal.handleScriptTransactions();
        auto now = Clock::now();
        terminal.deliverReplies(now);
        if (!options.fixedBooks && now >= nextMarket) {
            terminal.marketTick();
            nextMarket += marketPeriod;
            if (nextMarket < now) nextMarket = now + marketPeriod;
        }
        // With a script this loop turns at least every 10 ms: the tape's timers need no wait of their own.
        if (terminal.scripting() && tradePeriod > Clock::duration::zero()) {
            // After a stall, at most a second's trades come at once.
            if (now - nextTrade > std::chrono::seconds(1)) nextTrade = now - std::chrono::seconds(1);
            for (; nextTrade <= now; nextTrade += tradePeriod) terminal.playRandomTrade();
        }
        if (terminal.scripting() && options.stepPriceEveryMs > 0 && now >= nextStepPrice) {
            terminal.walkStepPrices();
            nextStepPrice = now + stepPricePeriod;
        }
        if (now >= nextFile) {
            for (const std::string& line : transactionFile.newLines()) terminal.handle(line, {});
            terminal.checkServer();
            nextFile = now + filePeriod;
        }
        if (faults) {
            if (faults->repairDue(now)) terminal.repairFault();
            if (auto fault = faults->startDue(now)) terminal.startFault(*fault, faults->random());
        }
        if (options.exitAfter > 0 && now >= exitAt) break;
    }
    terminal.stopScript();
    return 0;
}

}  // namespace
}  // namespace standin

int main(int argc, char** argv) {
    standin::stopOnRequest(standin::stopRequested);
    try {
        standin::Options options = standin::parseOptions(argc, argv);
        if (options.restartEvery > 0) {
            // Every child gets the same seed, so a restarted terminal has the same base, as
            // the same executable would.
            std::vector<std::string> child;
            for (int i = 1; i < argc; ++i) {
                if (std::string(argv[i]) == "--restart-every") {
                    ++i;
                    continue;
                }
                child.push_back(argv[i]);
            }
            char every[32];
            std::snprintf(every, sizeof every, "%g", options.restartEvery);
            child.insert(child.end(), {"--exit-after", every, "--print-pid"});
            if (!options.seeded) child.insert(child.end(), {"--seed", std::to_string(std::random_device{}())});
            return standin::superviseRestarts(child, standin::stopRequested);
        }
        return standin::run(options);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "info.exe: %s\n%s", error.what(), standin::usage);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "info.exe: %s\n", error.what());
        return 1;
    }
}
