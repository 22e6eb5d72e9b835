#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/session.h"
#include "ladder/ladder_grid.h"
#include "platform/text_encoding.h"
#include "settings/ini_file.h"
#include "support/fake_platform.h"
#include "support/fake_view.h"
#include "terminal/script_book_source.h"

namespace velmora::testing {

// Mode SCRIPT with no terminal process and no sec.dat: everything comes through the FIFO,
// written here by hand as velmora.lua would.
class ScriptModeTest : public ::testing::Test, protected FakePlatform {
protected:
    ScriptModeTest() : session(platform(), options()) {
        writeFile(programFolder.file("Velmora.ini"),
                  "[COMMON]\r\nQuikPath=" + quikFolder.path() +
                      "\r\nBookSource=script\r\nOutputWay=TRI\r\nLogLevel=1\r\n[SCRIPT]\r\n"
                      "Instruments=SPBFUT:SiZ6, TQBR:SBER\r\n[DEFAULT]\r\nDefaultContract=SiZ6\r\n"
                      "[POSITION]\r\nDOMRowCount=11\r\n");
    }
    ~ScriptModeTest() override {
        if (writer >= 0) ::close(writer);
    }

    // The slot's request as the script reads it, its run, and the stream it names.
    static std::string linkFolder() { return std::getenv("VELMORA_LINK_FOLDER"); }
    static std::string requestPath() { return linkFolder() + "velmora-1.txt"; }
    static std::string requestValue(const std::string& key) { return requestValue(readFile(requestPath()), key); }
    static std::string requestValue(const std::string& text, const std::string& key) {
        const std::size_t at = text.find("\r\n" + key + "=");
        if (at == std::string::npos) return {};
        const std::size_t start = at + key.size() + 3;
        return text.substr(start, text.find("\r\n", start) - start);
    }
    static std::string streamPath() { return requestValue("stream"); }
    static std::string expectedRequest(const std::string& want) {
        const std::string run = requestValue("run");
        return "velmora-link 2\r\nrun=" + run + "\r\nstream=" + linkFolder() + "velmora-1-" + run +
               ".fifo\r\nwant=" + want + "\r\ncommands=\r\n";
    }
    static std::string hello() { return "velmora-link\t2\ttest\t" + requestValue("run") + "\tL1\n"; }
    void connectWriter() {
        writer = ::open(streamPath().c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(writer, 0);
    }
    void send(const std::string& lines) {
        const std::string bytes = utf8ToCp1251(lines);
        ASSERT_EQ(::write(writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        session.PollBooks(view);
    }
    // The link's clock and the program's move together.
    void tick(std::chrono::milliseconds later) {
        now += later;
        LocalDateTime& time = clock.time;
        const long long ms = ((time.hour * 60LL + time.minute) * 60 + time.second) * 1000 + time.millisecond +
                             later.count();
        time.millisecond = static_cast<int>(ms % 1000);
        time.second = static_cast<int>(ms / 1000 % 60);
        time.minute = static_cast<int>(ms / 60000 % 60);
        time.hour = static_cast<int>(ms / 3600000);
        session.RefreshTick(view);
    }
    SessionOptions options() {
        return {programFolder.path(), [this] { return now; }};
    }
    std::string logText() const { return cp1251ToUtf8(readFile(programFolder.file("Velmora.log"))); }
    // Rows 1.. of the ladder as "price sell buy".
    std::vector<std::string> ladderRows() const {
        std::vector<std::string> rows;
        for (int r = 1; r < session.ladder().rowCount() - 1; ++r)
            if (!session.ladder().cell(r, LadderGrid::PriceColumn).empty())
                rows.push_back(session.ladder().cell(r, LadderGrid::PriceColumn) + " " +
                               session.ladder().cell(r, LadderGrid::SellQuantity) + " " +
                               session.ladder().cell(r, LadderGrid::BuyQuantity));
        return rows;
    }
    std::string trades() const { return readFile(quikFolder.file("quik.tri")); }
    const ScriptLink& scriptLink() const {
        return *dynamic_cast<const ScriptBookSource&>(session.books()).link();
    }

    TempFolder programFolder, quikFolder;
    Session session;
    FakeView view;
    LinkTime now{std::chrono::seconds(1000)};
    int writer = -1;
};

// The ladder row showing `price`; -1 when none does.
inline int rowOf(const LadderGrid& ladder, const std::string& price) {
    for (int r = 1; r < ladder.rowCount() - 1; ++r)
        if (ladder.cell(r, LadderGrid::PriceColumn) == price) return r;
    return -1;
}

}  // namespace velmora::testing
