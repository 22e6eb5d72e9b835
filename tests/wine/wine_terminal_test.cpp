// A Windows terminal under Wine, read by the Linux program: the Windows build of the stand-in
// runs in Wine, and the logic below the window finds it by name, reads its books out of the
// Wine process and trades with it through quik.tri. Skipped where Wine or that build is missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <thread>

#include "core/session.h"
#include "core/session.h"
#include "ladder/ladder_grid.h"
#include "orders/order_entry.h"
#include "platform/clock.h"
#include "platform/text_encoding.h"
#include "support/fake_view.h"
#include "support/fakes.h"
#include "support/standin_process.h"

namespace velmora {
namespace {

using testing::FakeTransLibrary;
using testing::FakeView;
using testing::readFile;
using testing::RecordingMessageSink;
using testing::StandinProcess;
using testing::TempFolder;

std::string wineLauncher() {
    for (const char* path : {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine"})
        if (access(path, X_OK) == 0) return path;
    return "";
}

// A Linux path as Wine's programs name it: on drive Z:, which Wine maps to "/".
std::string onDriveZ(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

class WineTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        launcher = wineLauncher();
        if (launcher.empty()) GTEST_SKIP() << "Wine is not installed (no wine64 launcher)";
        if (access(VELMORA_WINE_STANDIN, R_OK) != 0)
            GTEST_SKIP() << "no Windows build of the stand-in at " VELMORA_WINE_STANDIN
                            " (scripts/build-standin-windows makes it)";
        setenv("WINEPREFIX", VELMORA_WINE_PREFIX, 1);
        setenv("WINEDEBUG", "-all", 1);
        // A console program needs neither .NET nor a browser engine; skipping them halves a
        // new prefix's set-up.
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);

        terminal = std::make_unique<StandinProcess>(
            launcher, std::vector<std::string>{VELMORA_WINE_STANDIN, "--folder", onDriveZ(quik.path()), "--static",
                                               "--dump-books", "--write-ini", onDriveZ(app.file("Velmora.ini"))});
        // A first start creates the Wine prefix, which takes a while.
        auto first = terminal->readLine(std::chrono::minutes(3));
        ASSERT_TRUE(first && first->rfind("DOMBASE=0x", 0) == 0) << "Wine run gave '" << first.value_or("") << "'";
        book = testing::readBookDump(*terminal)["SiZ6"];
        ASSERT_FALSE(book.empty());

        // Narrowed to our own Wine process, so that another terminal running here is not taken.
        processes = std::make_unique<testing::OnlyProcess>(makeSystemProcessAccess(),
                                                           static_cast<std::uint32_t>(terminal->pid()));
        session = std::make_unique<Session>(Platform{*processes, *clock, *locale, messages, unusedLibrary},
                                            SessionOptions{app.path()});
        session->InitAll(view);
        ASSERT_TRUE(view.timerEnabled) << readFile(app.file("Velmora.log"));
        session->RefreshTick(view);
        ASSERT_TRUE(session->instrumentChosen()) << readFile(app.file("Velmora.log"));
    }

    // About five seconds of ticks: Wine is slower to answer.
    bool tickUntil(const std::function<bool()>& ready) { return testing::tickUntil(*session, view, ready, 100); }

    std::string launcher;
    TempFolder quik, app;
    std::unique_ptr<ProcessAccess> processes;
    std::unique_ptr<Clock> clock = makeSystemClock();
    std::unique_ptr<LocaleFormats> locale = makeSystemLocaleFormats();
    RecordingMessageSink messages;
    FakeTransLibrary unusedLibrary;
    FakeView view;
    std::unique_ptr<StandinProcess> terminal;
    std::vector<testing::BookLevel> book;
    std::unique_ptr<Session> session;
};

TEST_F(WineTerminal, IsFoundByItsWindowsNameAndItsBookFillsTheLadder) {
    bool named = false;
    std::string path;
    for (const ProcessEntry& entry : makeSystemProcessAccess()->listProcesses())
        if (entry.id == static_cast<std::uint32_t>(terminal->pid())) {
            named = entry.exeName == "info.exe";
            path = entry.exePath;
        }
    EXPECT_TRUE(named) << "the Wine process is not listed as info.exe";
    // Its Windows path told as the Unix one, so that QuikPath, a Unix folder here, can be matched.
    EXPECT_EQ(path, std::filesystem::weakly_canonical(VELMORA_WINE_STANDIN).string());
    // Written under Wine, the ini must still name the folder as Linux sees it.
    EXPECT_NE(readFile(app.file("Velmora.ini")).find("QuikPath=" + quik.path() + "\r\n"), std::string::npos);

    const LadderGrid& ladder = session->ladder();
    // Best ask in row 20 rising upward, best bid in row 21 falling downward.
    std::vector<testing::BookLevel> askLevels, bidLevels;
    for (const testing::BookLevel& level : book) (level.side == 'S' ? askLevels : bidLevels).push_back(level);
    ASSERT_FALSE(askLevels.empty());
    ASSERT_FALSE(bidLevels.empty());
    for (std::size_t i = 0; i < askLevels.size(); ++i) {
        EXPECT_EQ(ladder.cell(20 - static_cast<int>(i), LadderGrid::PriceColumn), std::to_string(askLevels[i].price));
        EXPECT_EQ(ladder.cell(20 - static_cast<int>(i), LadderGrid::SellQuantity),
                  std::to_string(askLevels[i].quantity));
    }
    for (std::size_t i = 0; i < bidLevels.size(); ++i) {
        const testing::BookLevel& level = bidLevels[bidLevels.size() - 1 - i];
        EXPECT_EQ(ladder.cell(21 + static_cast<int>(i), LadderGrid::PriceColumn), std::to_string(level.price));
        EXPECT_EQ(ladder.cell(21 + static_cast<int>(i), LadderGrid::BuyQuantity), std::to_string(level.quantity));
        EXPECT_EQ(ladder.cell(21 + static_cast<int>(i), LadderGrid::OwnBuy), level.own ? std::to_string(level.own) : "");
    }
}

TEST_F(WineTerminal, OrderThroughTheFileComesBackAsOwnQuantityAndKillAllRemovesIt) {
    view.orderShift = 0;
    view.contracts = 3;
    // A sell at the best ask's price rests there.
    const std::string bestAsk = session->ladder().cell(20, LadderGrid::PriceColumn);
    session->LadderMouseDown(view, MouseButton::Left, false, LadderGrid::BuyQuantity, 20);
    ASSERT_NE(readFile(quik.file("quik.tri")).find("PRICE=" + bestAsk + "; OPERATION=S;"), std::string::npos);
    // Shown at once as unanswered, then as the terminal's own quantity once placed.
    ASSERT_TRUE(tickUntil([&] {
        return session->ladder().cell(20, LadderGrid::OwnSell) == "3" &&
               cp1251ToUtf8(readFile(quik.file("quik.tro")))
                       .find(";STATUS=3;TRANS_NAME=\"Ввод заявки\"; DESCRIPTION=\"(160) Заявка на продажу N ") !=
                   std::string::npos;
    })) << readFile(quik.file("quik.tro"));

    session->ClearAllOrders(view);
    ASSERT_TRUE(tickUntil([&] { return session->ladder().cell(20, LadderGrid::OwnSell).empty(); }))
        << readFile(quik.file("quik.tro"));
    EXPECT_EQ(session->ladder().cell(20, LadderGrid::PriceColumn), bestAsk);
    EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
}  // namespace velmora
