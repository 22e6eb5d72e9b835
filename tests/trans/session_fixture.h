#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/session.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "platform/text_encoding.h"
#include "support/fake_platform.h"

namespace velmora::testing {

// One instrument chosen (SPBFUT T1, base B1, step 0.05, two decimals), an empty book
// and stop list, OutputWay DLL; the log and the terminal's folder are temporary.
class SessionFixture : public ::testing::Test, protected FakePlatform {
protected:
    TempFolder folder;
    Session session{platform()};
    TQuoteTable table;

    SessionFixture() {
        session.log.LogPath = folder.file("Velmora.log");
        session.log.LogThreshold = 5;
        session.settings.QuikPath = folder.path();
        session.settings.TRIFileName = folder.file("quik.tri");
        session.settings.ACCOUNT = "A1";
        session.settings.SetOutputWay("DLL");
        session.sender.TransIdCounter = 1001;
        session.SecurityList = std::make_unique<TSecShareList>();
        session.StopOrders = std::make_unique<TStopOrders>();
        session.discovery.show(table, addSecurity("SPBFUT", "T1", "B1"));
    }

    const TSecShareRecord& addSecurity(const std::string& classCode, const std::string& ticker,
                                       const std::string& baseContract) {
        auto record = std::make_unique<TSecShareRecord>();
        record->ClassCode = classCode;
        record->Ticker = ticker;
        record->BaseContract = baseContract;
        record->IntPriceStep = 5;
        record->Decimals = 2;
        session.SecurityList->append(std::move(record));
        return session.SecurityList->at(session.SecurityList->Count() - 1);
    }
    TSecShareRecord& security() { return const_cast<TSecShareRecord&>(*session.discovery.security()); }

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
