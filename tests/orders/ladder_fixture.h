#pragma once
#include "ladder/price_text.h"
#include "orders/order_entry.h"
#include "support/fake_view.h"
#include "trans/order_fixture.h"

namespace velmora::testing {

// Bids 99.90, 99.95, 100.00 and asks 100.05, 100.10 on ladder rows 5 to 1; row 6 is
// empty. Four lots, limit shift 2, stop shift 3.
class LadderFixture : public OrderFixture {
protected:
    FakeView view;

    LadderFixture() {
        setBook({9990, 9995, 10000}, {10005, 10010});
        LadderGrid& grid = desk.ladder;
        grid.setRowCount(7);
        grid.setCell(0, LadderGrid::PriceColumn, "цена");
        const char* prices[] = {"100.10", "100.05", "100.00", "99.95", "99.90"};
        for (int r = 1; r <= 5; ++r) {
            grid.setCell(r, LadderGrid::PriceColumn, prices[r - 1]);
            grid.setRowPrice(r, 10015 - 5 * r);
            grid.setCell(r, r <= 2 ? LadderGrid::SellQuantity : LadderGrid::BuyQuantity, "10");
        }
        view.contracts = 4;
        view.orderShift = 2;
        view.stopShift = 3;
        desk.tracking.setPanel(&view);
    }

    // Stops as "direction@price xquantity".
    Texts stops() const {
        Texts texts;
        for (const auto& stop : desk.StopOrders->items)
            texts.push_back(std::string(stop->side == Side::Sell ? "1" : "0") + "@" +
                            FormatGeneral(TicksValue(stop->Price, 2), '.') + " x" +
                            std::to_string(stop->Quantity));
        return texts;
    }
};

}  // namespace velmora::testing
