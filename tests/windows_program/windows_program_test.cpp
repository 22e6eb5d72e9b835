// The Windows release as its users run it: velmora.exe unpacked from the zip into a fresh folder
// and run under Wine on an X display beside the Windows stand-in terminal, driven by real key
// presses and mouse clicks. Skipped where the zip, the Windows stand-in, Wine, xdotool or a
// display is missing; scripts/test-windows-program provides them all and fails on a skip.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/text_encoding.h"
#include "support/fakes.h"
#include "support/standin_process.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

// The 64-bit launcher itself: the "wine" script would pick the 32-bit loader wherever that is installed.
const char* const wine = "/usr/lib/wine/wine64";

std::string windowsPath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

// Runs a shell command and answers its standard output.
std::string run(const std::string& command) {
    std::string output;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds timeout) {
    for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
        if (ready()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return ready();
}

// The rows of the last whole book description the program logged (level 4, once a tick), as
// "B 92341 49 0" lines in the stand-in's own dump format.
std::vector<std::string> lastLoggedBook(const std::string& logFile) {
    std::string log = cp1251ToUtf8(readFile(logFile));
    std::size_t items = log.rfind("Items :\r\n");
    std::size_t next = log.rfind("CycleNum=");
    if (items == std::string::npos || next == std::string::npos || next < items) return {};
    std::istringstream lines(log.substr(items + 9, next - items - 9));
    static const std::regex row(R"(^\s*\d+\. (BUY|SELL)  Quantity:(\d+); IntPrice:(\d+); SelfQuantity:(\d+)\r?$)");
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, row))
            rows.push_back(std::string(m[1] == "BUY" ? "B" : "S") + " " + m[3].str() + " " + m[2].str() + " " +
                           m[4].str());
    }
    return rows;
}

std::vector<std::string> dumpRows(const std::vector<BookLevel>& levels) {
    std::vector<std::string> rows;
    for (const BookLevel& l : levels)
        rows.push_back(std::string(1, l.side) + " " + std::to_string(l.price) + " " + std::to_string(l.quantity) +
                       " " + std::to_string(l.own));
    return rows;
}

// The screen as the user sees it, to find the ladder's cells by their colours.
struct Screen {
    int width = 0, height = 0;
    std::string rgb;
    bool is(int x, int y, int r, int g, int b) const {
        const char* p = rgb.data() + 3 * (static_cast<std::size_t>(y) * width + x);
        return static_cast<unsigned char>(p[0]) == r && static_cast<unsigned char>(p[1]) == g &&
               static_cast<unsigned char>(p[2]) == b;
    }
};

Screen screenshot(const std::string& path) {
    run("import -window root -depth 8 ppm:" + path + " 2>/dev/null");
    Screen screen;
    std::string bytes = readFile(path);
    std::istringstream in(bytes);
    std::string magic;
    int maximum = 0;
    in >> magic >> screen.width >> screen.height >> maximum;
    in.get();
    if (magic != "P6" || maximum != 255) return {};
    screen.rgb = bytes.substr(static_cast<std::size_t>(in.tellg()));
    if (screen.rgb.size() < static_cast<std::size_t>(3 * screen.width * screen.height)) return {};
    return screen;
}

// The extent of one colour on the lowest (or highest) screen line that has it.
struct Band {
    int left = -1, right = -1, y = -1;
};
Band edgeBand(const Screen& screen, int r, int g, int b, bool lowest) {
    Band band;
    for (int i = 0; i < screen.height && band.y < 0; ++i) {
        int y = lowest ? screen.height - 1 - i : i;
        for (int x = 0; x < screen.width; ++x)
            if (screen.is(x, y, r, g, b)) {
                if (band.left < 0) band.left = x;
                band.right = x;
                band.y = y;
            }
    }
    return band;
}

class WindowsProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("WINEPREFIX", VELMORA_WINDOWS_WINE_PREFIX, 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        if (access(wine, X_OK) != 0 || access(VELMORA_WINDOWS_ZIP, R_OK) != 0 ||
            access(VELMORA_WINDOWS_BIN "/info.exe", R_OK) != 0 || !std::getenv("DISPLAY") ||
            run("command -v xdotool").empty())
            return;
        // A bare prefix has neither of the fonts the window asks for: without them the editors draw
        // no text. Windows has both.
        run(std::string(wine) + " reg add 'HKCU\\Software\\Wine\\Fonts\\Replacements' /v 'MS Sans Serif' /d "
                                "'DejaVu Sans' /f >/dev/null 2>&1");
        run(std::string(wine) + " reg add 'HKCU\\Software\\Wine\\Fonts\\Replacements' /v 'Courier New' /d "
                                "'Liberation Mono' /f >/dev/null 2>&1");
        ready_ = true;
    }

    void SetUp() override {
        if (!ready_)
            GTEST_SKIP() << "needs Wine, xdotool, a display, " VELMORA_WINDOWS_ZIP " and " VELMORA_WINDOWS_BIN
                            "/info.exe (scripts/build-windows makes them)";
        ASSERT_EQ(std::system(("unzip -q -o '" VELMORA_WINDOWS_ZIP "' -d '" + unpacked.path() + "'").c_str()), 0);
        for (const auto& entry : std::filesystem::directory_iterator(unpacked.path()))
            if (std::filesystem::exists(entry.path() / "velmora.exe")) app = entry.path().string() + "/";
        ASSERT_FALSE(app.empty()) << "no velmora.exe in the zip";
        // The program and the script meet in a folder of this test's, named as Windows names it.
        setenv("VELMORA_LINK_FOLDER", windowsPath(link.path()).c_str(), 1);
    }

    void startTerminal(std::vector<std::string> extra = {"--reject-every", "3"}) {
        std::vector<std::string> arguments{VELMORA_WINDOWS_BIN "/info.exe", "--folder", windowsPath(quik.path()),
                                           "--static", "--dump-books"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        terminal = std::make_unique<StandinProcess>(wine, arguments);
        auto first = terminal->readLine(3min);
        ASSERT_TRUE(first && first->rfind("DOMBASE=", 0) == 0) << first.value_or("no line from the stand-in");
        domBase = first->substr(8);
        book = readBookDump(*terminal)["SiZ6"];
        ASSERT_FALSE(book.empty());
    }
    // The terminal running the script shipped in the zip, as the user starts it there.
    void startTerminalWithScript(std::vector<std::string> extra = {}) {
        extra.insert(extra.begin(), {"--script", windowsPath(app + "velmora.lua")});
        startTerminal(extra);
    }

    void TearDown() override {
        if (session) session->stop(5s);
        if (terminal) terminal->stop();
    }

    void writeIni(const std::string& outputWay, const std::string& bookSource = "MEMORY") {
        std::string text;
        for (const std::string& line : std::vector<std::string>{"; kept as written", "[COMMON]", "QuikPath=" + windowsPath(quik.path()), "OutputWay=" + outputWay,
              "BookSource=" + bookSource, "ACCOUNT=DEMO1", "SECTION=FORTS", "LogLevel=4", "MarketSpread=2", "[DEFAULT]",
              "DefaultContract=SiZ6", "DefaultLimitOrderShift=0", "DefaultLimitStopShift=1", "DefaultFullView=1",
              "[POSITION]", "Left=40", "Top=30", "Height=750", "FullWidth=500", "ShortWidth=255",
              "DOMPanelWidth=250", "DOMRowHeight=15", "DOMRowCount=41", "DOMFontSize=8",
              "DomFontName=Courier New", "DOMCol1Width=40", "DOMCol2Width=40", "DOMCol3Width=40",
              "DOMCol4Width=40", "DOMCol5Width=40", "DOMCol6Width=26", "[HOTKEYS]", "MARKETBUY=112",
              "CLEARALL=116", "[TECH]", "DOMBASE=" + domBase, "ReadSecVersion=1", "[SCRIPT]",
              "Instruments=SPBFUT:SiZ6"})
            text += line + "\r\n";
        writeFile(app + "Velmora.ini", text);
    }

    // Starts velmora.exe and waits for its window and for a logged book that matches the stand-in's.
    void startProgram() {
        session = std::make_unique<StandinProcess>(wine, std::vector<std::string>{app + "velmora.exe"});
        ASSERT_TRUE(waitFor([&] { return lastLoggedBook(log()) == dumpRows(book); }, 60s))
            << "stand-in's book:\n" << ::testing::PrintToString(dumpRows(book)) << "\nlog:\n" << cp1251ToUtf8(readFile(log())).substr(0, 4000);
        ASSERT_TRUE(waitFor([&] {
            window = run("xdotool search --onlyvisible --class velmora 2>/dev/null | head -n 1");
            return !window.empty();
        }, 30s));
        window.erase(window.find_last_not_of("\n") + 1);
        run("xdotool windowfocus --sync " + window + " 2>/dev/null");
        std::this_thread::sleep_for(500ms);
    }

    std::string log() const { return app + "Velmora.log"; }
    std::string tri() const { return readFile(quik.file("quik.tri")); }
    bool logHas(const std::string& text) const { return cp1251ToUtf8(readFile(log())).find(text) != std::string::npos; }
    void key(const std::string& keys) { run("xdotool key --clearmodifiers " + keys); }
    void click(int x, int y) { run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1"); }

    // A left click on the "к.куп" cell of the best ask's row: with no shift a sell resting at the best ask.
    void clickBuyQuantityOfBestAsk() {
        Screen screen = screenshot(unpacked.file("screen.ppm"));
        Band ask = edgeBand(screen, 255, 213, 213, true);
        if (ask.y < 0) {
            const std::string kept = std::string(VELMORA_BIN_DIR) + "/windows_program_screen.png";
            run("convert " + unpacked.file("screen.ppm") + " " + kept);
            FAIL() << "no ask row on the screen, kept as " << kept;
        }
        int columnWidth = (ask.right - ask.left + 1) / 2;
        click(ask.right + columnWidth / 2, ask.y - 4);
    }

    // A left click on the "свой" cell of the best ask's row: cancels the own sells there.
    void clickOwnSellOfBestAsk() {
        Screen screen = screenshot(unpacked.file("screen.ppm"));
        Band ask = edgeBand(screen, 255, 213, 213, true);
        ASSERT_GE(ask.y, 0) << "no ask row on the screen";
        int columnWidth = (ask.right - ask.left + 1) / 2;
        click(ask.left - columnWidth / 2, ask.y - 4);
    }

    // The resting sell at the best ask is cancelled alone by a click on its own quantity, and
    // the third new order, which the stand-in rejects, is told in the log.
    void cancelAtThePriceAndSeeTheRejection() {
        EXPECT_TRUE(waitFor([&] { return logHas("(160) Заявка на продажу N 5000003 зарегистрирована., order 5000003"); },
                            10s))
            << cp1251ToUtf8(readFile(log()));
        clickOwnSellOfBestAsk();
        EXPECT_TRUE(waitFor([&] { return logHas("ACTION=KILL_ORDER; ORDER_KEY=5000003; "); }, 10s))
            << cp1251ToUtf8(readFile(log()));
        EXPECT_TRUE(waitFor([&] { return logHas("Заявка N 5000003 снята"); }, 10s)) << cp1251ToUtf8(readFile(log()));
        key("F1");
        EXPECT_TRUE(waitFor([&] { return logHas(" rejected: status 4, Заявка отклонена биржей"); }, 10s))
            << cp1251ToUtf8(readFile(log()));
    }

    void closeAndExpectCleanExit() {
        key("alt+F4");
        auto status = session->waitForExit(30s);
        ASSERT_TRUE(status.has_value()) << "velmora.exe did not end after Alt+F4";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
        EXPECT_TRUE(logHas("Closing Velmora..."));
        session.reset();
    }

    static inline bool ready_ = false;
    TempFolder unpacked, quik, link;
    std::string app, domBase, window;
    std::unique_ptr<StandinProcess> terminal, session;
    std::vector<BookLevel> book;
};

std::string order(const std::string& price, char operation) {
    return "ACTION=NEW_ORDER; TYPE=L; QUANTITY=1; PRICE=" + price + "; OPERATION=" + operation + "; ";
}

TEST_F(WindowsProgram, ShowsTheBookTradesThroughQuikTriSavesAndClosesCleanly) {
    startTerminal();
    writeIni("TRI");
    startProgram();

    key("F1");  // a market buy: best ask 92351 crossed by two steps
    EXPECT_TRUE(waitFor([&] { return tri().find(order("92353", 'B')) != std::string::npos; }, 10s)) << tri();
    clickBuyQuantityOfBestAsk();
    EXPECT_TRUE(waitFor([&] { return tri().find(order("92351", 'S')) != std::string::npos; }, 10s)) << tri();
    EXPECT_TRUE(waitFor([&] {
        for (const std::string& row : lastLoggedBook(log()))
            if (row.rfind("S 92351 ", 0) == 0 && row.substr(row.size() - 2) == " 1") return true;
        return false;
    }, 15s)) << "the resting sell never came back as an own quantity";
    cancelAtThePriceAndSeeTheRejection();

    std::string before = readFile(app + "Velmora.ini");
    key("ctrl+s");
    EXPECT_TRUE(waitFor([&] { return readFile(app + "Velmora.ini") != before; }, 10s));
    std::string saved = readFile(app + "Velmora.ini");
    EXPECT_EQ(saved.rfind("; kept as written\r\n[COMMON]\r\n", 0), 0u) << saved;
    EXPECT_NE(saved.find("DefaultContractCnt=1\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("MARKETSELL=113\r\n"), std::string::npos) << saved;

    closeAndExpectCleanExit();
}

TEST_F(WindowsProgram, SendsThroughTheTerminalLibraryBesideIt) {
    startTerminal();
    std::filesystem::copy_file(VELMORA_WINDOWS_BIN "/TRANS2QUIK.dll", app + "TRANS2QUIK.dll");
    writeIni("DLL");
    startProgram();
    EXPECT_TRUE(logHas("связь с QUIK для передачи заявок через dll установлена")) << readFile(log());

    key("F1");
    BookDump after = readBookDump(*terminal, 10s);
    ASSERT_FALSE(after["SiZ6"].empty()) << "the market buy did not reach the stand-in";
    clickBuyQuantityOfBestAsk();
    after = readBookDump(*terminal, 10s);
    bool ownSell = false;
    for (const BookLevel& level : after["SiZ6"]) ownSell |= level.side == 'S' && level.price == 92351 && level.own == 1;
    EXPECT_TRUE(ownSell) << "the click's sell is not an own quantity in the stand-in";
    EXPECT_TRUE(waitFor([&] {
        for (const std::string& row : lastLoggedBook(log()))
            if (row.rfind("S 92351 ", 0) == 0 && row.substr(row.size() - 2) == " 1") return true;
        return false;
    }, 15s));
    EXPECT_EQ(tri().find("NEW_ORDER"), std::string::npos) << "an order went through the file in mode DLL";
    cancelAtThePriceAndSeeTheRejection();

    closeAndExpectCleanExit();
}

// Mode SCRIPT as the zip ships it: the book comes from velmora.lua through the window's named pipe,
// and orders go back through the script's sendTransaction.
TEST_F(WindowsProgram, InModeScriptTheBookComesFromTheScriptAndAStoppedScriptIsFollowed) {
    // A tape for the volume column.
    startTerminalWithScript({"--trade-rate", "20"});
    writeIni("SCRIPT", "SCRIPT");
    startProgram();
    EXPECT_TRUE(logHas("link: serving \\\\.\\pipe\\velmora-1-")) << cp1251ToUtf8(readFile(log()));
    EXPECT_TRUE(logHas("link: velmora.lua 2.0 connected"));

    key("F1");
    EXPECT_TRUE(waitFor([&] { return logHas(order("92353", 'B')) && logHas("Заявка на покупку N "); },
                        10s))
        << cp1251ToUtf8(readFile(log()));
    EXPECT_EQ(tri().find("NEW_ORDER"), std::string::npos);
    // For the README: VELMORA_WINDOWS_SCREENSHOT=docs/screenshot-windows.png
    if (const char* picture = std::getenv("VELMORA_WINDOWS_SCREENSHOT")) {
        std::this_thread::sleep_for(500ms);
        run("import -window " + window + " '" + picture + "'");
    }


    terminal->stop();
    EXPECT_TRUE(waitFor([&] { return logHas("link to velmora.lua lost: "); }, 10s)) << cp1251ToUtf8(readFile(log()));
    const auto connected = [&] {
        const std::string text = cp1251ToUtf8(readFile(log()));
        std::size_t count = 0;
        for (std::size_t at = text.find("link to velmora.lua live"); at != std::string::npos;
             at = text.find("link to velmora.lua live", at + 1))
            ++count;
        return count;
    };
    ASSERT_EQ(connected(), 1u);
    startTerminalWithScript();
    EXPECT_TRUE(waitFor([&] { return connected() == 2u && lastLoggedBook(log()) == dumpRows(book); }, 30s))
        << cp1251ToUtf8(readFile(log()));

    closeAndExpectCleanExit();
}

// Mode SCRIPT: an own order dragged to another row is moved, and F6 closes the position.
TEST_F(WindowsProgram, InModeScriptAnOrderIsMovedByDraggingAndF6ClosesThePosition) {
    startTerminalWithScript();
    writeIni("SCRIPT", "SCRIPT");
    startProgram();
    key("F1");
    ASSERT_TRUE(waitFor([&] { return logHas("Заявка на покупку N "); }, 10s)) << cp1251ToUtf8(readFile(log()));

    // The 2 lots resting at 92347, three rows under the best bid, dragged two rows lower: a move.
    Screen screen = screenshot(unpacked.file("screen.ppm"));
    Band bid = edgeBand(screen, 221, 255, 221, false);
    ASSERT_GE(bid.y, 0) << "no bid row on the screen";
    const int x = bid.right + (bid.right - bid.left + 1) / 4, rowHeight = 15, from = bid.y + 7 + 3 * rowHeight;
    run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(from) + " mousedown 1 mousemove " +
        std::to_string(x) + " " + std::to_string(from + 2 * rowHeight) + " mouseup 1");
    EXPECT_TRUE(waitFor([&] { return logHas("moving order 5000001 from 92347 to 92345"); }, 10s))
        << cp1251ToUtf8(readFile(log()));
    EXPECT_TRUE(waitFor([&] { return logHas("ACTION=MOVE_ORDERS; MODE=0; FIRST_ORDER_NUMBER=5000001; "); }, 10s));
    // The buy traded: F6 closes the position across the best bid.
    key("F6");
    EXPECT_TRUE(waitFor([&] { return logHas(order("92348", 'S')); }, 10s)) << cp1251ToUtf8(readFile(log()));

    closeAndExpectCleanExit();
}

}  // namespace
}  // namespace velmora::testing
