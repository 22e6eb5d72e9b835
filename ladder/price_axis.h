#pragma once
#include <cstdint>
#include <optional>

namespace velmora {

// The rows of a ladder with one row a price step, the highest price on top. The rows keep their
// prices until the ladder is re-centred or scrolled: a book that moves never moves a row under the
// pointer. Rows here are the data rows, 0 on top.
class PriceAxis {
public:
    // Where the market went while the pointer held the ladder still.
    enum class Away { None, Above, Below };

    // The step in ticks and the number of data rows; a new step unplaces the axis.
    void setShape(std::int64_t step, int rows);
    bool placed() const { return placed_; }
    std::int64_t step() const { return step_; }
    int rows() const { return rows_; }

    // The price of `row`; none off the rows, or below one tick.
    std::optional<std::int64_t> priceOf(int row) const;
    // The row of `price`, or none when it is not on the rows or off the step's grid.
    std::optional<int> rowOf(std::int64_t price) const;

    // The middle of the spread in the middle row (one side only: that side's best). Nothing
    // without either.
    void center(std::optional<std::int64_t> bid, std::optional<std::int64_t> ask);
    // Rows up (toward higher prices) when positive.
    void scroll(int rows);

    // Each refresh: places the axis the first time, and re-centres when the best bid or ask left
    // the rows, unless the pointer is over the ladder; then it waits, and says where they went.
    void follow(std::optional<std::int64_t> bid, std::optional<std::int64_t> ask, bool pointerOver);
    // The pointer left the ladder: a re-centre held back is done now.
    void pointerLeft();
    Away away() const { return away_; }

private:
    bool shows(std::int64_t price) const;

    std::int64_t step_ = 1;
    int rows_ = 0;
    bool placed_ = false;
    std::int64_t top_ = 0;
    std::optional<std::int64_t> bid_, ask_;
    bool held_ = false;
    Away away_ = Away::None;
};

}  // namespace velmora
