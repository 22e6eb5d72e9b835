// The Windows side of the platform, run under Wine against the Windows stand-in: the terminal's
// library loaded from the program folder under either export name, the locale's formats, and
// velmora-scan.exe finding the stand-in's chain head.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "platform/clock.h"
#include "platform/program_location.h"
#include "platform/trans_library.h"
#include "support/fakes.h"
#include "support/standin_process.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using testing::readFile;
using testing::StandinProcess;
using testing::TempFolder;

std::uint32_t ownAt(const std::vector<testing::BookLevel>& book, char side, std::uint32_t price) {
    for (const testing::BookLevel& level : book)
        if (level.side == side && level.price == price) return level.own;
    return 0;
}

struct Call {
    std::int32_t result = -1;
    std::int32_t extended = -1;
    std::string message;
};

template <typename Send>
Call call(Send send) {
    Call done;
    char message[256] = "untouched";
    done.result = send(&done.extended, message, static_cast<std::uint32_t>(sizeof message));
    done.message = message;
    return done;
}

// The library's whole round: connect to the stand-in's folder, an order that rests as an own
// quantity, and the answers once the terminal is gone.
void tradeThrough(TransLibrary& library) {
    TempFolder quik;
    StandinProcess terminal(StandinProcess::serving(quik.path(), {"--static", "--dump-books"}));
    const auto before = testing::readBookDump(terminal)["SiZ6"];
    ASSERT_FALSE(before.empty());
    std::uint32_t bestBid = 0;
    for (const testing::BookLevel& level : before)
        if (level.side == 'B') bestBid = level.price;
    ASSERT_EQ(ownAt(before, 'B', bestBid), 0u);

    std::string folder = quik.path();
    Call connected = call([&](std::int32_t* e, char* m, std::uint32_t n) { return library.connect(folder.data(), e, m, n); });
    ASSERT_EQ(connected.result, 0) << connected.message;
    EXPECT_EQ(connected.message, "");
    std::string order = "ACCOUNT=DEMO1; CLIENT_CODE=; TYPE=L; TRANS_ID=7; CLASSCODE=SPBFUT; SECCODE=SiZ6; "
                        "ACTION=NEW_ORDER; QUANTITY=5; PRICE=" + std::to_string(bestBid) + "; OPERATION=B; ";
    Call sent = call([&](std::int32_t* e, char* m, std::uint32_t n) {
        return library.sendAsyncTransaction(order.data(), e, m, n);
    });
    ASSERT_EQ(sent.result, 0) << sent.message;
    const auto after = testing::readBookDump(terminal)["SiZ6"];
    EXPECT_EQ(ownAt(after, 'B', bestBid), 5u);
    // The terminal answers the library through its callback, not in the results file.
    EXPECT_EQ(readFile(quik.file("quik.tro")), "");

    terminal.kill();
    Call gone = call([&](std::int32_t* e, char* m, std::uint32_t n) {
        return library.sendAsyncTransaction(order.data(), e, m, n);
    });
    EXPECT_EQ(gone.result, 4) << gone.message;
    Call notConnected = call([&](std::int32_t* e, char* m, std::uint32_t n) { return library.disconnect(e, m, n); });
    EXPECT_EQ(notConnected.result, 3);
    Call noTerminal = call([&](std::int32_t* e, char* m, std::uint32_t n) { return library.connect(folder.data(), e, m, n); });
    EXPECT_EQ(noTerminal.result, 2) << noTerminal.message;
}

TEST(WindowsTransLibrary, DecoratedStdcallExportsFromTheProgramFolderReachTheTerminal) {
    auto library = loadTransLibrary(executableFolder());
    ASSERT_TRUE(library->available()) << library->loadError();
    tradeThrough(*library);
}

TEST(WindowsTransLibrary, PlainExportsAreFoundTooAndAMissingLibrarySaysWhere) {
    auto library = loadTransLibrary(executableFolder() + "plain-names\\");
    ASSERT_TRUE(library->available()) << library->loadError();
    tradeThrough(*library);

    TempFolder empty;
    auto missing = loadTransLibrary(empty.path());
    EXPECT_FALSE(missing->available());
    EXPECT_NE(missing->loadError().find(empty.file("TRANS2QUIK.dll")), std::string::npos) << missing->loadError();
}

TEST(WindowsLocale, RussianFormatsComeFromTheSystem) {
    // scripts/test-windows runs this program with a Russian locale, as the terminal's users have.
    if (PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID())) != LANG_RUSSIAN)
        GTEST_SKIP() << "the user locale is not Russian (LC_ALL=ru_RU.UTF-8 gives it under Wine)";
    auto locale = makeSystemLocaleFormats();
    EXPECT_EQ(locale->decimalSeparator(), ',');
    EXPECT_EQ(locale->timeSeparator(), ':');
    // Windows writes the hour of a Russian time without a leading zero, Wine with one.
    const std::string text = locale->formatDateTime(LocalDateTime{2026, 12, 8, 9, 30, 5, 7});
    EXPECT_TRUE(text == "08.12.2026 9:30:05" || text == "08.12.2026 09:30:05") << text;
}

TEST(WindowsScanTool, WritesTheStandinsChainHeadIntoTheIni) {
    TempFolder quik, app;
    StandinProcess terminal(StandinProcess::serving(quik.path(), {"--random-base", "--decoys", "--seed", "9"}));
    testing::writeFile(app.file("Velmora.ini"), "[COMMON]\r\nQuikPath=" + quik.path() + "\r\n[TECH]\r\nDOMBASE=0\r\n");
    StandinProcess scan(executableFolder() + "velmora-scan.exe",
                        {"--ini", app.file("Velmora.ini"), "--write-ini", "--quiet"});
    std::string output;
    for (auto line = scan.readLine(60s); line; line = scan.readLine(60s)) output += *line + "\n";
    EXPECT_EQ(scan.waitForExit(10s), 0) << output;
    char base[16];
    std::snprintf(base, sizeof base, "0x%08X", terminal.domBase());
    EXPECT_NE(output.find("wrote DOMBASE=" + std::string(base)), std::string::npos) << output;
    EXPECT_EQ(readFile(app.file("Velmora.ini")),
              "[COMMON]\r\nQuikPath=" + quik.path() + "\r\n[TECH]\r\nDOMBASE=" + base + "\r\n");
}

}  // namespace
}  // namespace velmora
