#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ladder/ladder_grid.h"
#include "orders/order_entry.h"
#include "orders/order_tracking.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/log.h"
#include "settings/settings.h"
#include "terminal/quote_table.h"
#include "terminal/terminal_link.h"
#include "trans/order_delivery.h"
#include "trans/transactions.h"
#include "platform/text_encoding.h"
#include "support/fake_platform.h"

namespace velmora::testing {

// The components behind the order commands, wired as the program wires them; the instrument
// shown is the one the test shows.
struct OrderDesk : OrderSource {
    explicit OrderDesk(Platform platform)
        : messages(platform.messages),
          log(platform.clock, platform.locale, platform.messages),
          library(platform.transLibrary, settings, log),
          tracking(log, platform.transLibrary, platform.clock) {}

    MessageSink& messages;
    Log log;
    Settings settings;
    FileDelivery fileDelivery{settings, log};
    LibraryDelivery library;
    LogOnlyDelivery logOnly{log};
    OrderSender sender{settings, log, messages};
    OrderTracking tracking;
    TerminalLink terminal;
    LadderGrid ladder;
    std::unique_ptr<TSecShareList> SecurityList = std::make_unique<TSecShareList>();
    std::unique_ptr<TStopOrders> StopOrders = std::make_unique<TStopOrders>();
    OrderEntry orders{settings, log, terminal.watch(), ladder, sender, tracking, *this};

    void show(TQuoteTable& table, const TSecShareRecord& security) {
        shownTable_ = &table;
        shownSecurity_ = &security;
    }
    void clearShown() {
        shownTable_ = nullptr;
        shownSecurity_ = nullptr;
    }

    TQuoteTable* shownTable() override { return shownTable_; }
    const TSecShareRecord* shownSecurity() override { return shownSecurity_; }
    TStopOrders* stops() override { return StopOrders.get(); }
    const TSecShareList* securities() override { return SecurityList.get(); }
    std::optional<std::int64_t> shownPositionLots() override { return std::nullopt; }
    OrderDelivery& delivery() override {
        switch (settings.outputMode) {
            case OutputMode::TRI: return fileDelivery;
            case OutputMode::DLL: return library;
            // The script's delivery needs a link these tests do not make.
            case OutputMode::Script:
            case OutputMode::LogOnly: break;
        }
        return logOnly;
    }

private:
    TQuoteTable* shownTable_ = nullptr;
    const TSecShareRecord* shownSecurity_ = nullptr;
};

// One instrument chosen (SPBFUT T1, base B1, step 0.05, two decimals), an empty book
// and stop list, OutputWay DLL; the log and the terminal's folder are temporary.
class OrderFixture : public ::testing::Test, protected FakePlatform {
protected:
    TempFolder folder;
    OrderDesk desk{platform()};
    TQuoteTable table;

    OrderFixture() {
        desk.log.LogPath = folder.file("Velmora.log");
        desk.log.LogThreshold = 5;
        desk.settings.QuikPath = folder.path();
        desk.settings.TRIFileName = folder.file("quik.tri");
        desk.settings.ACCOUNT = "A1";
        desk.settings.SetOutputWay("DLL");
        desk.sender.TransIdCounter = 1001;
        desk.show(table, addSecurity("SPBFUT", "T1", "B1"));
    }

    const TSecShareRecord& addSecurity(const std::string& classCode, const std::string& ticker,
                                       const std::string& baseContract) {
        auto record = std::make_unique<TSecShareRecord>();
        record->ClassCode = classCode;
        record->Ticker = ticker;
        record->BaseContract = baseContract;
        record->IntPriceStep = 5;
        record->Decimals = 2;
        desk.SecurityList->append(std::move(record));
        return desk.SecurityList->at(desk.SecurityList->Count() - 1);
    }
    TSecShareRecord& security() { return const_cast<TSecShareRecord&>(*desk.shownSecurity()); }

    // Integer prices with two decimals, in book order: bids ascending, then asks ascending.
    void setBook(const std::vector<std::uint32_t>& bids, const std::vector<std::uint32_t>& asks) {
        table.Clear();
        for (int side = 0; side < 2; ++side)
            for (std::uint32_t price : side == 0 ? bids : asks) {
                TQuoteRecord row;
                row.Direction = static_cast<std::uint8_t>(side);
                row.IntPrice = price;
                row.Quantity = 10;
                table.rows.push_back(row);
            }
    }

    static std::vector<std::string> fileLines(const std::string& path) {
        std::string text = readFile(path);
        std::vector<std::string> lines;
        for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    // The log's messages, without their time stamps.
    std::vector<std::string> logLines() const {
        std::vector<std::string> lines = fileLines(folder.file("Velmora.log"));
        for (std::string& line : lines) {
            std::size_t text = line.find_first_not_of(' ', line.find(']') + 1);
            line = cp1251ToUtf8(line.substr(std::min(text, line.size())));
        }
        return lines;
    }
    bool logged(const std::string& start) const {
        std::vector<std::string> lines = logLines();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(start, 0) == 0; });
    }
    // What the commands decide: the sent transactions from QUANTITY on.
    std::vector<std::string> sentTails() const {
        std::vector<std::string> tails;
        for (const std::string& text : transLibrary.sent) tails.push_back(text.substr(text.find("QUANTITY=")));
        return tails;
    }
};

using Texts = std::vector<std::string>;

}  // namespace velmora::testing
