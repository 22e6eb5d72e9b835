// The logic below the window against the real stand-in terminal process: start-up finds it,
// the ladder shows its book, orders reach it through quik.tri or the library, and its answer
// comes back as an own quantity on a later tick.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include "core/session.h"
#include "settings/ini_file.h"
#include "ladder/ladder_grid.h"
#include "orders/order_entry.h"
#include "platform/clock.h"
#include "platform/trans_library.h"
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

class StandinEndToEnd : public ::testing::Test {
protected:
    void start(const std::string& outputWay, TransLibrary& library) {
        terminal = std::make_unique<StandinProcess>(StandinProcess::serving(
            quik.path(), {"--static", "--dump-books", "--write-ini", app.file("Velmora.ini"), "--output-way", outputWay,
                           "--ini-quik-path", quik.path()}));
        initialBook = testing::readBookDump(*terminal)["SiZ6"];
        ASSERT_FALSE(initialBook.empty());
        if (!ladderMode.empty()) WriteProfileString(app.file("Velmora.ini"), "COMMON", "LadderMode", ladderMode);
        processes = std::make_unique<testing::OnlyProcess>(makeSystemProcessAccess(),
                                                           static_cast<std::uint32_t>(terminal->pid()));
        session = std::make_unique<Session>(Platform{*processes, *clock, *locale, messages, library},
                                            SessionOptions{app.path()});
        session->InitAll(view);
        ASSERT_TRUE(view.timerEnabled) << readFile(app.file("Velmora.log"));
        tick();
        ASSERT_TRUE(session->instrumentChosen());
    }

    void tick() { session->RefreshTick(view); }

    bool tickUntil(const std::function<bool()>& ready) { return testing::tickUntil(*session, view, ready); }

    int rowOfPrice(const std::string& text) const {
        for (int row = 1; row < session->ladder().rowCount(); ++row)
            if (session->ladder().cell(row, LadderGrid::PriceColumn) == text) return row;
        return -1;
    }

    TempFolder quik, app;
    std::unique_ptr<ProcessAccess> processes;
    std::unique_ptr<Clock> clock = makeSystemClock();
    std::unique_ptr<LocaleFormats> locale = makeSystemLocaleFormats();
    RecordingMessageSink messages;
    FakeView view;
    std::unique_ptr<StandinProcess> terminal;
    std::vector<testing::BookLevel> initialBook;
    std::unique_ptr<Session> session;
    std::string ladderMode;
};

TEST_F(StandinEndToEnd, LadderShowsTheTerminalsBookCentredOnTheSpread) {
    FakeTransLibrary unused;
    start("TRI", unused);
    const LadderGrid& ladder = session->ladder();
    ASSERT_EQ(ladder.rowCount(), 41);
    std::vector<testing::BookLevel> bids, asks;
    for (const testing::BookLevel& level : initialBook) (level.side == 'B' ? bids : asks).push_back(level);
    // Best ask in row 20, asks rising upward; best bid in row 21, bids falling downward.
    for (std::size_t i = 0; i < asks.size(); ++i) {
        int row = 20 - static_cast<int>(i);
        EXPECT_EQ(ladder.cell(row, LadderGrid::PriceColumn), std::to_string(asks[i].price));
        EXPECT_EQ(ladder.cell(row, LadderGrid::SellQuantity), std::to_string(asks[i].quantity));
        EXPECT_EQ(ladder.cell(row, LadderGrid::BuyQuantity), "");
    }
    for (std::size_t i = 0; i < bids.size(); ++i) {
        const testing::BookLevel& level = bids[bids.size() - 1 - i];
        int row = 21 + static_cast<int>(i);
        EXPECT_EQ(ladder.cell(row, LadderGrid::PriceColumn), std::to_string(level.price));
        EXPECT_EQ(ladder.cell(row, LadderGrid::BuyQuantity), std::to_string(level.quantity));
        EXPECT_EQ(ladder.cell(row, LadderGrid::OwnBuy), level.own ? std::to_string(level.own) : "");
    }
    EXPECT_EQ(ladder.cell(20 - static_cast<int>(asks.size()), LadderGrid::PriceColumn), "");
}

// The ladder of prices from the terminal's memory: a row a price step, each level on the row of its
// price with its own quantity, the spread's middle in the middle row.
TEST_F(StandinEndToEnd, TheLadderOfPricesShowsTheMemorysBookOnTheRowsOfItsPrices) {
    ladderMode = "PRICES";
    FakeTransLibrary unused;
    start("TRI", unused);
    const LadderGrid& ladder = session->ladder();
    const std::int64_t step = session->shownInstrument()->IntPriceStep;
    for (int row = 2; row < ladder.rowCount(); ++row) ASSERT_EQ(*ladder.rowPrice(row - 1) - *ladder.rowPrice(row), step);
    std::int64_t bid = 0, ask = INT64_MAX;
    int shown = 0;
    for (const testing::BookLevel& level : initialBook) {
        if (level.side == 'B') bid = std::max<std::int64_t>(bid, level.price);
        else ask = std::min<std::int64_t>(ask, level.price);
        const int row = rowOfPrice(std::to_string(level.price));
        if (row < 0) continue;  // beyond the rows
        ++shown;
        EXPECT_EQ(ladder.cell(row, level.side == 'S' ? LadderGrid::SellQuantity : LadderGrid::BuyQuantity),
                  std::to_string(level.quantity));
        EXPECT_EQ(ladder.cell(row, level.side == 'S' ? LadderGrid::OwnSell : LadderGrid::OwnBuy),
                  level.own ? std::to_string(level.own) : "");
    }
    EXPECT_GT(shown, 10);
    EXPECT_EQ(rowOfPrice(std::to_string(bid + (ask - bid) / (2 * step) * step)), 1 + (ladder.rowCount() - 1) / 2);
}

TEST_F(StandinEndToEnd, ClickOrderThroughTheFileShowsAsOwnQuantityAndKillAllRemovesIt) {
    FakeTransLibrary unused;
    start("TRI", unused);
    view.orderShift = 0;
    view.contracts = 3;
    // A sell at the best ask's own price rests there: "к.куп" column of the best ask row.
    const std::string bestAsk = session->ladder().cell(20, LadderGrid::PriceColumn);
    session->LadderMouseDown(view, MouseButton::Left, false, LadderGrid::BuyQuantity, 20);
    std::string tri = readFile(quik.file("quik.tri"));
    EXPECT_NE(tri.find("ACTION=NEW_ORDER; TYPE=L; QUANTITY=3; PRICE=" + bestAsk + "; OPERATION=S; \r\n"),
              std::string::npos)
        << tri;
    ASSERT_TRUE(tickUntil([&] { return session->ladder().cell(20, LadderGrid::OwnSell) == "3"; }))
        << readFile(quik.file("quik.tro"));
    EXPECT_EQ(rowOfPrice(bestAsk), 20);

    session->ClearAllOrders(view);
    ASSERT_TRUE(tickUntil([&] { return session->ladder().cell(20, LadderGrid::OwnSell).empty(); }));
    for (int row = 1; row < 41; ++row) {
        EXPECT_EQ(session->ladder().cell(row, LadderGrid::OwnBuy), "") << row;
        EXPECT_EQ(session->ladder().cell(row, LadderGrid::OwnSell), "") << row;
    }
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(StandinEndToEnd, EditorBuyThroughTheLibraryRestsAtTheBestBid) {
    auto library = loadTransLibrary(VELMORA_BIN_DIR "/");
    ASSERT_TRUE(library->available()) << library->loadError();
    start("DLL", *library);
    EXPECT_TRUE(session->libraryConnected()) << readFile(app.file("Velmora.log"));
    view.contracts = 4;
    const std::string bestBid = session->ladder().cell(21, LadderGrid::PriceColumn);
    ASSERT_EQ(session->ladder().cell(21, LadderGrid::OwnBuy), "");
    view.price = bestBid;
    session->BuyAtEditorPrice(view);
    ASSERT_TRUE(tickUntil([&] { return session->ladder().cell(21, LadderGrid::OwnBuy) == "4"; }))
        << readFile(app.file("Velmora.log"));
    EXPECT_EQ(session->ladder().cell(21, LadderGrid::PriceColumn), bestBid);
    session->DoneAll();
    EXPECT_NE(readFile(app.file("Velmora.log")).find("Closing Velmora..."), std::string::npos);
}

}  // namespace
}  // namespace velmora
