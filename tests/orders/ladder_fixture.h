#pragma once
#include "orders/order_entry.h"
#include "support/fake_view.h"
#include "trans/program_fixture.h"

namespace velmora::testing {

// Book: bids 99.90, 99.95, 100.00; asks 100.05, 100.10. Ladder rows 1..5 show them
// from the top; row 6 is empty.
class LadderFixture : public ProgramFixture {
protected:
    FakeView view;

    LadderFixture() {
        for (std::uint32_t price : {9990u, 9995u, 10000u}) addRow(0, price);
        for (std::uint32_t price : {10005u, 10010u}) addRow(1, price);
        LadderGrid& grid = program.ladder;
        grid.setRowCount(7);
        grid.setCell(0, LadderGrid::PriceColumn, "цена");
        const char* prices[] = {"100.10", "100.05", "100.00", "99.95", "99.90"};
        for (int r = 1; r <= 5; ++r) {
            grid.setCell(r, LadderGrid::PriceColumn, prices[r - 1]);
            grid.setCell(r, r <= 2 ? LadderGrid::SellQuantity : LadderGrid::BuyQuantity, "10");
        }
        view.contracts = 4;
        view.orderShift = 2;
        view.stopShift = 3;
    }

    void click(int column, int row, bool shift = false, MouseButton button = MouseButton::Left) {
        LadderMouseDown(program, view, button, shift, column, row);
    }

    std::vector<std::string> sentTails() const {
        std::vector<std::string> tails;
        for (std::size_t i = 0; i < transLibrary.sent.size(); ++i) tails.push_back(sentTail(i));
        return tails;
    }

    std::string stopCell(int row) const { return program.ladder.cell(row, LadderGrid::Stop); }
};

using Tails = std::vector<std::string>;

}  // namespace velmora::testing
