// Faults from outside the program, each produced for real against a stand-in terminal
// process: an unwritable log folder or transaction file, a terminal that dies, a terminal
// that is not there for the library. The program must say so, keep running and recover
// where it can.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "core/session.h"
#include "core/session.h"
#include "ladder/ladder_grid.h"
#include "orders/order_entry.h"
#include "orders/stop_orders.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/trans_library.h"
#include "secs/security_list.h"
#include "settings/ini_file.h"
#include "platform/text_encoding.h"
#include "support/fake_view.h"
#include "support/fakes.h"
#include "support/standin_process.h"
#include "support/standin_session.h"
#include "support/unwritable.h"

namespace velmora {
namespace {

using testing::FakeTransLibrary;
using testing::FakeView;
using testing::OnlyProcess;
using testing::readFile;
using testing::StandinProcess;
using testing::TempFolder;
using testing::Unwritable;
using testing::canAppendTo;
using testing::canCreateIn;

using testing::ModalBoxSink;
using testing::occurrences;
using testing::ownQuantities;
using testing::RecordingLibrary;
using testing::standinLibrary;
using testing::startsWith;
using FaultTest = testing::StandinSessionTest;

TEST_F(FaultTest, AnUnwritableLogFolderIsToldOnceAndTheProgramRunsOn) {
    startTerminal("TRI", 4);
    Unwritable locked(app.path());
    if (canCreateIn(app.path())) GTEST_SKIP() << "cannot take write access to a folder here";
    int boxTicks = 0;
    messages.eventLoop = [&] {
        // No timer runs before start-up has switched it on.
        if (!view.timerEnabled) return;
        for (int i = 0; i < 3; ++i, ++boxTicks) tick();
    };
    FakeTransLibrary unused;
    startProgram(static_cast<std::uint32_t>(terminal->pid()), unused);

    ASSERT_TRUE(view.timerEnabled);
    ASSERT_GE(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0], "error rewriting message Starting...");
    ASSERT_TRUE(session->instrumentChosen());
    // The boxes opened after start-up had returned; the timer ran under them.
    EXPECT_GT(boxTicks, 0);
    EXPECT_EQ(session->cycle(), static_cast<std::uint32_t>(boxTicks));

    // Every tick logs and fails; the failure was told, so no box stacks up per line.
    const std::size_t told = messages.shown.size();
    for (int i = 0; i < 60; ++i) tick();
    EXPECT_EQ(messages.shown.size(), told);
    EXPECT_EQ(session->cycle(), 60u + static_cast<std::uint32_t>(boxTicks));
    EXPECT_TRUE(session->instrumentChosen());
    EXPECT_FALSE(session->ladder().cell(20, LadderGrid::PriceColumn).empty());

    // An order while the log fails still goes out.
    const std::string price = buyAtBestBid(2);
    EXPECT_EQ(messages.openedInsideALoop, 0);
    EXPECT_NE(readFile(quik.file("quik.tri")).find("QUANTITY=2; PRICE=" + price + "; OPERATION=B; \r\n"),
              std::string::npos);
    for (const std::string& text : messages.shown)
        EXPECT_TRUE(startsWith(text, "error rewriting message ") || startsWith(text, "error writing message ") ||
                    startsWith(text, "error closing message "))
            << text;
    EXPECT_FALSE(std::filesystem::exists(app.file("Velmora.log")));
}

TEST_F(FaultTest, AnUnwritableTransactionFileLosesTheOrderVisiblyAndALaterOneArrives) {
    startTerminal("TRI", 2, {"--dump-books"});
    ASSERT_TRUE(ownQuantities(*terminal, "SiZ6"));
    FakeTransLibrary unused;
    startProgram(static_cast<std::uint32_t>(terminal->pid()), unused);
    ASSERT_TRUE(view.timerEnabled) << logText();
    tick();
    ASSERT_TRUE(session->instrumentChosen());
    const std::string tri = quik.file("quik.tri");
    const std::string emptied = readFile(tri);

    auto locked = std::make_unique<Unwritable>(tri);
    if (canAppendTo(tri)) GTEST_SKIP() << "cannot take write access to a file here";
    const std::string lostPrice = buyAtBestBid(5);
    // One text in the panel, in the user's language, not a box for each step of the write.
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(startsWith(view.caption, "Заявка ")) << view.caption;
    EXPECT_NE(view.caption.find(" не отправлена: не удалось записать файл " + tri), std::string::npos) << view.caption;
    std::string log = logText();
    EXPECT_NE(log.find("formed order: TRANS_ID="), std::string::npos);
    EXPECT_NE(log.find("transaction not delivered: cannot write to \"" + tri + "\""), std::string::npos) << log;
    EXPECT_EQ(readFile(tri), emptied);

    locked.reset();
    const std::string price = buyAtBestBid(3);
    EXPECT_TRUE(messages.shown.empty());
    log = logText();
    EXPECT_EQ(log.find("transaction not delivered"), log.rfind("transaction not delivered")) << log;
    // The terminal takes the 3 and never saw the lost 5.
    auto own = ownQuantities(*terminal, "SiZ6");
    ASSERT_TRUE(own) << readFile(quik.file("quik.tro"));
    EXPECT_EQ((*own)[static_cast<std::uint32_t>(std::stoul(price))], 3u);
    EXPECT_TRUE(tickUntil([&] { return session->ladder().cell(21, LadderGrid::OwnBuy) == "3"; }));
}

TEST_F(FaultTest, AKilledTerminalIsNoticedAtOnceAndANewOneIsTakenAtTheNextFiftiethTick) {
    startTerminal("TRI", 5);
    FakeTransLibrary unused;
    startProgram(static_cast<std::uint32_t>(terminal->pid()), unused);
    ASSERT_TRUE(view.timerEnabled) << logText();
    tickTo(10);
    ASSERT_TRUE(session->instrumentChosen());
    ASSERT_TRUE(view.ladderLive);
    const std::vector<std::string> shown = ladderTexts();
    ASSERT_FALSE(session->ladder().cell(20, LadderGrid::PriceColumn).empty());
    const pid_t oldPid = terminal->pid();

    terminal->kill();
    const std::size_t logAtKill = logText().size();
    tick();
    EXPECT_FALSE(view.ladderLive);
    EXPECT_TRUE(view.infoVisible);
    EXPECT_EQ(view.caption, "Нет связи с терминалом");
    while (session->cycle() < 50) {
        tick();
        ASSERT_EQ(ladderTexts(), shown) << "tick " << session->cycle();
    }
    // Known from the process, not from failing reads: no book is read once it is gone.
    std::string log = logText().substr(logAtKill);
    EXPECT_EQ(occurrences(log, "GetNewQuotes..."), 0u);
    EXPECT_EQ(occurrences(log, "terminal lost: process " + std::to_string(oldPid) + " has ended"), 1u) << log;

    auto next = serve(quik);
    ASSERT_NE(next->pid(), oldPid);
    terminals->allow(static_cast<std::uint32_t>(next->pid()));
    tick();  // 50: found, its securities and books loaded as at start-up, and its book read
    EXPECT_EQ(session->terminal().processId(), static_cast<std::uint32_t>(next->pid()));
    ASSERT_TRUE(session->instrumentChosen());
    EXPECT_EQ(session->shownInstrument()->Ticker, "SiZ6");
    EXPECT_TRUE(view.ladderLive);
    EXPECT_FALSE(view.infoVisible);
    EXPECT_EQ(ladderTexts(), shown);  // the same static book, now read from the new process
    tickTo(160);
    log = logText().substr(logAtKill);
    const std::string found = "terminal found again: process " + std::to_string(next->pid());
    EXPECT_EQ(occurrences(log, found), 1u) << log;
    EXPECT_LT(log.find(found), log.find("LoadSecs..."));
    EXPECT_LT(log.find("LoadSecs..."), log.find("found QuoteTables:10"));
    EXPECT_EQ(occurrences(log, "order book read again"), 1u);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(FaultTest, AShiftClickWhoseBoxOutlastsTheTerminalStillSetsItsStop) {
    startTerminal("TRI", 1);
    FakeTransLibrary unused;
    startProgram(static_cast<std::uint32_t>(terminal->pid()), unused);
    ASSERT_TRUE(view.timerEnabled) << logText();
    tickTo(10);
    ASSERT_TRUE(session->instrumentChosen());
    const std::string bestBid = session->ladder().cell(21, LadderGrid::PriceColumn);
    terminal->kill();
    const std::string tri = quik.file("quik.tri");
    Unwritable locked(tri);
    if (canAppendTo(tri)) GTEST_SKIP() << "cannot take write access to a file here";
    // Were a box shown, its event loop would run discovery, which finds no book.
    messages.eventLoop = [&] { tickTo(60); };

    runLogic([&] { session->LadderMouseDown(view, MouseButton::Left, true, LadderGrid::BuyQuantity, 21); });
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_NE(view.caption.find(" не отправлена: "), std::string::npos) << view.caption;
    // The stop was priced at the click: one step back up from the sell one step below the bid.
    ASSERT_EQ(session->localStops()->Count(), 1);
    EXPECT_EQ(session->localStops()->items[0]->side, Side::Buy);
    EXPECT_DOUBLE_EQ(session->localStops()->items[0]->Price, std::stod(bestBid));
}

TEST_F(FaultTest, ATerminalGoneInLibraryModeRefusesOrdersAndANewOneIsConnectedAgain) {
    auto library = standinLibrary();
    ASSERT_TRUE(library->available()) << library->loadError();
    startTerminal("DLL", 4, {"--dump-books"});
    ASSERT_TRUE(ownQuantities(*terminal, "SiZ6"));
    startProgram(static_cast<std::uint32_t>(terminal->pid()), *library);
    ASSERT_TRUE(session->libraryConnected()) << logText();
    tickTo(3);
    ASSERT_TRUE(session->instrumentChosen());
    buyAtBestBid(1);
    ASSERT_EQ(library->sends, (std::vector<std::int32_t>{0}));
    ASSERT_TRUE(ownQuantities(*terminal, "SiZ6"));

    terminal->kill();
    const std::size_t logAtKill = logText().size();
    // Before the next tick the program does not know yet: the library reports the hang-up.
    buyAtBestBid(2);
    EXPECT_EQ(library->sends, (std::vector<std::int32_t>{0, 4}));
    tick();
    EXPECT_FALSE(session->libraryConnected());
    buyAtBestBid(3);
    session->ClearAllOrders(view);
    EXPECT_EQ(library->sends, (std::vector<std::int32_t>{0, 4}));
    // The order the library could not pass on stays said below.
    EXPECT_TRUE(startsWith(view.caption, "Нет связи с терминалом: снятие заявок не отправлено\nЗаявка ")) << view.caption;
    std::string log = logText().substr(logAtKill);
    EXPECT_NE(log.find("transaction not delivered: TRANS2QUIK_SEND_ASYNC_TRANSACTION RES:4; Errcode:32; "
                       "ErrMess:terminal gone"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("refused acBUY: terminal lost"), std::string::npos) << log;
    EXPECT_NE(log.find("refused acClearAllOrders: terminal lost"), std::string::npos) << log;
    EXPECT_EQ(log.find("QUANTITY=3;"), std::string::npos);

    // No retry against a terminal that is not there.
    tickTo(60);
    EXPECT_EQ(library->connects, (std::vector<std::int32_t>{0}));
    auto next = serve(quik, {"--dump-books"});
    ASSERT_TRUE(ownQuantities(*next, "SiZ6"));
    terminals->allow(static_cast<std::uint32_t>(next->pid()));
    tickTo(102);
    ASSERT_TRUE(session->libraryConnected()) << logText();
    EXPECT_EQ(library->connects, (std::vector<std::int32_t>{0, 0}));
    const std::string price = buyAtBestBid(4);
    EXPECT_EQ(library->sends, (std::vector<std::int32_t>{0, 4, 0}));
    auto own = ownQuantities(*next, "SiZ6");
    ASSERT_TRUE(own);
    EXPECT_EQ((*own)[static_cast<std::uint32_t>(std::stoul(price))], 4u);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(FaultTest, WithoutATerminalForTheLibraryTheTickRetriesEveryFiftyTicksUntilOneServes) {
    auto library = standinLibrary();
    ASSERT_TRUE(library->available()) << library->loadError();
    // The terminal of `quik` writes the settings and sec.dat, then ends; the process start-up
    // finds serves another folder, so nothing answers the library for QuikPath.
    startTerminal("DLL", 4);
    terminal->stop();
    TempFolder elsewhere;
    auto other = serve(elsewhere);
    startProgram(static_cast<std::uint32_t>(other->pid()), *library);
    ASSERT_TRUE(view.timerEnabled) << logText();
    EXPECT_FALSE(session->libraryConnected());

    tickTo(60);
    EXPECT_FALSE(session->libraryConnected());
    terminal = serve(quik, {"--dump-books"});
    ASSERT_TRUE(ownQuantities(*terminal, "SiZ6"));
    std::uint32_t connectedAt = 0;
    while (!session->libraryConnected() && session->cycle() < 160) {
        connectedAt = session->cycle();
        tick();
    }
    ASSERT_TRUE(session->libraryConnected()) << logText();
    EXPECT_EQ(connectedAt, 100u);
    EXPECT_EQ(library->connects.size(), 4u);  // start-up, ticks 0, 50 and 100
    EXPECT_EQ(library->connects.back(), 0);

    // Each outcome line belongs to the tick whose "CycleNum=" line follows it.
    const std::string failed = "Не удается установить связь с QUIK для передачи заявок через dll";
    const std::string made = "связь с QUIK для передачи заявок через dll установлена";
    std::vector<std::string> outcomes;
    std::istringstream lines(logText());
    std::string pending;
    bool ticking = false;
    for (std::string line; std::getline(lines, line);) {
        std::string outcome = line.find(failed) != std::string::npos ? "failed"
                              : line.find(made) != std::string::npos ? "made"
                                                                     : "";
        if (!outcome.empty() && !ticking) outcomes.push_back(outcome + " at start-up");
        if (!outcome.empty() && ticking) pending = outcome;
        if (line.find("found QuoteTables:") != std::string::npos) ticking = true;
        if (auto at = line.find("CycleNum="); at != std::string::npos) {
            if (!pending.empty()) outcomes.push_back(pending + " " + line.substr(at + 9, line.find('\r') - at - 9));
            pending.clear();
        }
    }
    EXPECT_EQ(outcomes, (std::vector<std::string>{"failed at start-up", "failed 0", "failed 50", "made 100"}));

    // The order now reaches the terminal of QuikPath.
    ASSERT_TRUE(session->instrumentChosen());
    const std::string price = buyAtBestBid(4);
    EXPECT_EQ(library->sends, (std::vector<std::int32_t>{0}));
    auto own = ownQuantities(*terminal, "SiZ6");
    ASSERT_TRUE(own);
    EXPECT_EQ((*own)[static_cast<std::uint32_t>(std::stoul(price))], 4u);
}

}  // namespace
}  // namespace velmora
