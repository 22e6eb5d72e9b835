#include "terminal/quote_discovery.h"

#include <gtest/gtest.h>

#include "platform/text_encoding.h"

#include <cstdio>

#include "core/instrument_change.h"
#include "support/book_parts.h"
#include "settings/program_error.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "support/fake_view.h"
#include "support/fake_platform.h"
#include "terminal/book_layout.h"
#include "terminal/log_lines.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

constexpr TerminalAddress base = 0x100;

// Throws on a read of one address, as a failing allocation deep in a read would.
class ThrowingHandle : public ProcessHandle {
public:
    ThrowingHandle(FakeMemory& memory, TerminalAddress failing) : memory_(memory), failing_(failing) {}
    bool read(TerminalAddress address, void* destination, std::size_t count) override {
        if (address == failing_) throw ProgramError("out of memory");
        return memory_.read(address, destination, count);
    }

private:
    FakeMemory& memory_;
    TerminalAddress failing_;
};

class QuoteDiscoveryTest : public ::testing::Test, protected velmora::testing::FakePlatform {
protected:
    BookParts parts{platform()};
    FakeView view;
    FakeMemory& memory = processAccess.memory;
    BookLayout layout{memory};

    QuoteDiscoveryTest() {
        parts.discovery.reset();
        parts.StopOrders = std::make_unique<TStopOrders>();
        parts.SecurityList = std::make_unique<TSecShareList>();
        parts.terminal.attach(0, processAccess.open(1));
        parts.settings.DOMBASE = base;
        for (const char* ticker : {"SiZ6", "brX6", "BRX6", "RIZ6"}) {
            auto record = std::make_unique<TSecShareRecord>();
            record->Ticker = ticker;
            parts.SecurityList->append(std::move(record));
        }
    }

    // A chain of headers, each with its own pointer array, linked in the given order.
    void chain(const std::vector<std::pair<TerminalAddress, std::int32_t>>& headers) {
        memory.writeWord(base, headers.empty() ? 0 : headers[0].first);
        for (std::size_t i = 0; i < headers.size(); ++i) {
            TerminalAddress next = i + 1 < headers.size() ? headers[i + 1].first : 0;
            layout.header(headers[i].first, next, headers[i].second, headers[i].first + 0x8000);
        }
    }

    const TQuoteTable& table(std::size_t position) const { return *(parts.discovery.tables())[position]; }

    // A chosen book that has been read once, as the ladder would have done.
    void chooseAndRead(const char* ticker) {
        parts.settings.DefaultContract = ticker;
        parts.RefreshQuoteTables(view);
        ASSERT_TRUE(parts.instrumentChosen());
        TQuoteTable& chosen = *parts.discovery.table();
        layout.fill(chosen.RecordAddress, chosen.TableAddress, 0x50000, {bid(100, 1), ask(101, 2)});
        chosen.GetQuotes(parts.terminal.process(), parts.log);
        ASSERT_EQ(chosen.Count(), 2);
    }
};

TEST_F(QuoteDiscoveryTest, ChainIsWalkedInOrderSkippingHeadersWithoutBook) {
    chain({{0x1000, 0}, {0x2000, 1}, {0x3000, 3}});
    memory.writeWord(0x2000 + 8, 0);
    GetQuoteTables(parts.terminal.process(), base, parts.discovery.tables(), parts.log);
    ASSERT_EQ(parts.discovery.tables().size(), 2u);
    EXPECT_EQ(table(0).RecordAddress, 0x1000u);
    EXPECT_EQ(table(0).TableAddress, 0x9000u);
    EXPECT_EQ(table(0).NextAddress, 0x2000u);
    EXPECT_EQ(table(0).SecIndex, 0);
    EXPECT_EQ(table(1).RecordAddress, 0x3000u);
    EXPECT_EQ(table(1).SecIndex, 3);
    EXPECT_EQ(table(1).NextAddress, 0u);
}

TEST_F(QuoteDiscoveryTest, EmptyChainClearsTheChoice) {
    chain({{0x1000, 0}});
    chooseAndRead("SiZ6");
    chain({});
    parts.RefreshQuoteTables(view);
    EXPECT_TRUE(parts.discovery.tables().empty());
    EXPECT_TRUE(view.items.empty());
    EXPECT_EQ(view.selected, -1);
    EXPECT_EQ(parts.discovery.table(), nullptr);
    EXPECT_EQ(parts.discovery.security(), nullptr);
}

TEST_F(QuoteDiscoveryTest, WalkEndsOnALoopOrAFailedRead) {
    chain({{0x1000, 0}, {0x2000, 1}, {0x3000, 3}});
    memory.writeWord(0x3000, 0x2000);  // back to the second header
    GetQuoteTables(parts.terminal.process(), base, parts.discovery.tables(), parts.log);
    EXPECT_EQ(parts.discovery.tables().size(), 3u);

    parts.discovery.tables().clear();
    memory.writeWord(0x1000, 0x1000);  // a header that points at itself
    GetQuoteTables(parts.terminal.process(), base, parts.discovery.tables(), parts.log);
    EXPECT_EQ(parts.discovery.tables().size(), 1u);

    parts.discovery.tables().clear();
    chain({{0x1000, 0}, {0x2000, 1}, {0x3000, 3}});
    memory.unmap(0x2000);
    memory.readCount = 0;
    GetQuoteTables(parts.terminal.process(), base, parts.discovery.tables(), parts.log);
    EXPECT_EQ(parts.discovery.tables().size(), 1u);
    EXPECT_EQ(memory.readCount, 3) << "the failed header is not followed further";

    parts.discovery.tables().clear();
    GetQuoteTables(parts.terminal.process(), 0, parts.discovery.tables(), parts.log);
    GetQuoteTables(nullptr, base, parts.discovery.tables(), parts.log);
    EXPECT_TRUE(parts.discovery.tables().empty());
}

TEST_F(QuoteDiscoveryTest, WalkFollowsAtMostAHundredThousandHeaders) {
    constexpr TerminalAddress first = 0x100000;
    constexpr std::uint32_t headers = 100002;
    std::vector<std::uint32_t> words;
    for (std::uint32_t i = 0; i < headers; ++i) {
        TerminalAddress next = i + 1 < headers ? first + 16 * (i + 1) : 0;
        words.insert(words.end(), {next, 0, 0x9000, 0});
    }
    memory.write(first, words.data(), words.size() * 4);
    memory.writeWord(base, first);
    GetQuoteTables(parts.terminal.process(), base, parts.discovery.tables(), parts.log);
    EXPECT_EQ(parts.discovery.tables().size(), 100000u);
}

TEST_F(QuoteDiscoveryTest, ExceptionKeepsTheTablesFoundBeforeIt) {
    TempFolder folder;
    parts.log.LogPath = folder.file("Velmora.log");
    parts.log.LogThreshold = 1;
    chain({{0x1000, 0}, {0x2000, 3}});
    parts.terminal.attach(0, std::make_unique<ThrowingHandle>(memory, 0x2000));
    parts.RefreshQuoteTables(view);
    EXPECT_EQ(logMessages(parts.log.LogPath), (std::vector<std::string>{"GetQuoteTables exception: out of memory"}));
    ASSERT_EQ(view.items.size(), 1u);
    EXPECT_EQ(view.items[0].ticker, "SiZ6");
}

TEST_F(QuoteDiscoveryTest, ChooserIsSortedIgnoringCaseAndSelectsTheDefaultContract) {
    chain({{0x1000, 3}, {0x2000, 0}, {0x3000, 2}, {0x4000, 1}});
    parts.settings.DefaultContract = "siz6";
    parts.RefreshQuoteTables(view);
    EXPECT_EQ(view.items, (std::vector<InstrumentItem>{{"BRX6", 2}, {"brX6", 3}, {"RIZ6", 0}, {"SiZ6", 1}}))
        << "equal texts keep chain order";
    EXPECT_EQ(view.selected, 3);
    EXPECT_EQ(parts.discovery.table(), &table(1));
    EXPECT_EQ(parts.discovery.security(), &parts.SecurityList->at(0));
    EXPECT_EQ(parts.settings.DefaultContract, "siz6");

    parts.settings.DefaultContract = "brx6";
    parts.RefreshQuoteTables(view);
    EXPECT_EQ(view.selected, 0) << "the first matching item wins";
    EXPECT_EQ(parts.discovery.security(), &parts.SecurityList->at(2));

    parts.settings.DefaultContract = "GDZ6";
    parts.RefreshQuoteTables(view);
    EXPECT_EQ(view.selected, -1);
    EXPECT_FALSE(parts.instrumentChosen());
}

TEST_F(QuoteDiscoveryTest, PassThatKeepsTheInstrumentDisturbsNothing) {
    chain({{0x1000, 3}, {0x2000, 0}});
    chooseAndRead("SiZ6");
    parts.StopOrders->append(std::make_unique<TStopOrder>());
    view.price = "100.5";
    int refills = view.itemRefills;

    parts.RefreshQuoteTables(view);
    EXPECT_EQ(view.itemRefills, refills) << "an unchanged chooser is not refilled";
    EXPECT_EQ(parts.StopOrders->Count(), 1);
    EXPECT_EQ(view.price, "100.5");
    ASSERT_TRUE(parts.instrumentChosen());
    EXPECT_EQ(parts.discovery.table(), &table(1));
    ASSERT_EQ(parts.discovery.table()->Count(), 2) << "the rows carry over to the new table";
    EXPECT_EQ(parts.discovery.table()->BestAsk()->IntPrice, 101u);

    // The instrument gone from the terminal: no choice, but the stops stay.
    chain({{0x1000, 3}});
    parts.RefreshQuoteTables(view);
    EXPECT_FALSE(parts.instrumentChosen());
    EXPECT_EQ(parts.StopOrders->Count(), 1);
    EXPECT_EQ(view.items, (std::vector<InstrumentItem>{{"RIZ6", 0}}));
}

TEST_F(QuoteDiscoveryTest, MovedBookStartsWithoutRows) {
    chain({{0x1000, 3}, {0x2000, 0}});
    chooseAndRead("SiZ6");
    chain({{0x1000, 3}, {0x5000, 0}});
    parts.RefreshQuoteTables(view);
    ASSERT_TRUE(parts.instrumentChosen());
    EXPECT_EQ(parts.discovery.table()->RecordAddress, 0x5000u);
    EXPECT_EQ(parts.discovery.table()->Count(), 0);

    chooseAndRead("SiZ6");
    memory.writeWord(0x5000 + 8, 0x7777);  // same header, a new pointer array
    parts.RefreshQuoteTables(view);
    ASSERT_TRUE(parts.instrumentChosen());
    EXPECT_EQ(parts.discovery.table()->Count(), 0);
}

TEST_F(QuoteDiscoveryTest, TablesOutsideTheSecurityListAreNotOffered) {
    chain({{0x1000, 7}, {0x2000, -1}, {0x3000, 0}});
    parts.settings.DefaultContract = "SiZ6";
    parts.RefreshQuoteTables(view);
    EXPECT_EQ(parts.discovery.tables().size(), 3u);
    EXPECT_EQ(view.items, (std::vector<InstrumentItem>{{"SiZ6", 2}}));
    EXPECT_EQ(parts.discovery.table(), &table(2));

    parts.SecurityList.reset();
    parts.RefreshQuoteTables(view);
    EXPECT_TRUE(view.items.empty());
    EXPECT_FALSE(parts.instrumentChosen());
    EXPECT_EQ(parts.discovery.security(), nullptr);
}

TEST_F(QuoteDiscoveryTest, PickingAnInstrumentRepointsAndDropsStopsAndPrice) {
    TempFolder folder;
    parts.log.LogPath = folder.file("Velmora.log");
    parts.log.LogThreshold = 5;
    chain({{0x1000, 3}, {0x2000, 0}});
    parts.settings.DefaultContract = "SiZ6";
    parts.RefreshQuoteTables(view);
    parts.StopOrders->append(std::make_unique<TStopOrder>());
    view.price = "100.5";
    std::remove(parts.log.LogPath.c_str());

    view.selected = 0;  // RIZ6
    ChangeInstrument(parts.books, parts.settings, parts.StopOrders.get(), parts.log, view);
    EXPECT_EQ(parts.settings.DefaultContract, "RIZ6");
    EXPECT_EQ(parts.discovery.table(), &table(0));
    EXPECT_EQ(parts.discovery.security(), &parts.SecurityList->at(3));
    EXPECT_EQ(view.price, "");
    EXPECT_EQ(parts.StopOrders->Count(), 0);
    std::string log = readFile(parts.log.LogPath);
    EXPECT_NE(log.find("Changing sec...\r\n"), std::string::npos);
    EXPECT_NE(log.find("QuoteTable:RecAddress:00001000; QuoteTable Address: 00009000; NextAddress: 00002000; "
                       "SecIndex: 00000003\r\nItems :\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("SecRec:ID:$0000IDX:3; CLASS:; TICKER:RIZ6\r\n"), std::string::npos);
    // The stops were set for the instrument shown before; the user is told they went.
    EXPECT_EQ(view.caption, "Сняты стопы по SiZ6: 1");
    EXPECT_NE(log.find(utf8ToCp1251("Сняты стопы по SiZ6: 1\r\n")), std::string::npos);
}

}  // namespace
