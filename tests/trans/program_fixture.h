#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/program.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/text_encoding.h"
#include "support/fakes.h"

namespace velmora::testing {

// A program with one instrument chosen (SPBFUT T1, step 0.05, two decimals), an
// empty book and an empty stop list; the log and the terminal folder in a temporary folder.
class ProgramFixture : public ::testing::Test {
protected:
    FakeProcessAccess processAccess;
    FakeClock clock;
    FakeLocale locale;
    RecordingMessageSink sink;
    FakeTransLibrary transLibrary;
    TempFolder folder;
    Program program{Platform{processAccess, clock, locale, sink, transLibrary}};
    TQuoteTable* table = nullptr;

    ProgramFixture() {
        program.log.LogPath = folder.file("Velmora.log");
        program.log.LogThreshold = 5;
        program.settings.QuikPath = folder.path();
        program.settings.TRIFileName = folder.file("quik.tri");
        program.settings.ACCOUNT = "A1";
        program.settings.OutputWay = "DLL";
        program.TransIdCounter = 1001;
        program.SecurityList = std::make_unique<TSecShareList>();
        program.StopOrders = std::make_unique<TStopOrders>();
        program.quoteTables = std::make_unique<TQuoteTables>();
        program.quoteTables->push_back(std::make_unique<TQuoteTable>());
        table = program.quoteTables->back().get();
        program.CurrentSecurity = &addSecurity("SPBFUT", "T1", "B1", 5, 2);
        program.CurrentQuoteTable = table;
    }

    const TSecShareRecord& addSecurity(const std::string& classCode, const std::string& ticker,
                                       const std::string& baseContract, std::uint32_t intPriceStep,
                                       std::uint32_t decimals) {
        auto record = std::make_unique<TSecShareRecord>();
        record->ClassCode = classCode;
        record->Ticker = ticker;
        record->BaseContract = baseContract;
        record->IntPriceStep = intPriceStep;
        record->Decimals = decimals;
        program.SecurityList->append(std::move(record));
        return program.SecurityList->at(program.SecurityList->Count() - 1);
    }

    // Rows must be added in book order: bids ascending, then asks ascending.
    void addRow(std::uint8_t direction, std::uint32_t intPrice, std::uint32_t quantity = 10) {
        auto row = std::make_unique<TQuoteRecord>();
        row->Direction = direction;
        row->IntPrice = intPrice;
        row->Quantity = quantity;
        table->rows.push_back(std::move(row));
    }

    // Log lines without their time stamp.
    std::vector<std::string> logLines() const {
        std::string stampPrefix = locale.formatDateTime(clock.time) + " [" + std::to_string(clock.time.millisecond) + "]";
        while (stampPrefix.size() < locale.formatDateTime(clock.time).size() + 7) stampPrefix += ' ';
        std::vector<std::string> lines;
        for (std::string line : fileLines(folder.file("Velmora.log"))) {
            line = cp1251ToUtf8(line);
            lines.push_back(line.rfind(stampPrefix, 0) == 0 ? line.substr(stampPrefix.size()) : line);
        }
        return lines;
    }
    bool logged(const std::string& line) const {
        for (const std::string& candidate : logLines())
            if (candidate == line) return true;
        return false;
    }
    bool loggedStartingWith(const std::string& start) const {
        for (const std::string& candidate : logLines())
            if (candidate.rfind(start, 0) == 0) return true;
        return false;
    }

    static std::vector<std::string> fileLines(const std::string& path) {
        std::string text = readFile(path);
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

    // A sent transaction from QUANTITY on: the part a command decides.
    std::string sentTail(std::size_t index) const {
        const std::string& text = transLibrary.sent.at(index);
        return text.substr(text.find("QUANTITY="));
    }
};

}  // namespace velmora::testing
