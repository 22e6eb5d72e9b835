#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <vector>

namespace standin {

// One price level: what the market shows there plus the user's own part of it.
struct Level {
    std::uint32_t market = 0;
    std::uint32_t own = 0;
    std::uint32_t total() const { return market + own; }
};

// A level as the terminal lays it out: one side only, the other side zero.
struct BookRow {
    std::uint32_t price = 0;
    bool sell = false;
    std::uint32_t quantity = 0;
    std::uint32_t own = 0;
};

// A trade at one level, as the exchange's tape shows it: `sell` when the side that took it sold.
struct Fill {
    std::uint32_t price = 0;
    std::uint32_t quantity = 0;
    bool sell = false;
};

struct OrderResult {
    std::uint32_t traded = 0;
    std::uint32_t resting = 0;
    std::vector<Fill> fills;  // level by level, the best price first
};

// An order book kept uncrossed: every bid price is below every ask price.
class OrderBook {
public:
    OrderBook(std::uint32_t step, std::uint32_t bestBid);

    // The fixed book of the static mode; `variant` makes books of different instruments differ.
    void fillScripted(int variant);
    void fillRandom(std::mt19937& random);
    // Keeps `perSide` levels on each side from now on, for load tests; call before filling.
    void holdDepth(std::size_t perSide) { minDepth_ = maxDepth_ = perSide; }

    // A limit order: trades against the opposite side up to `price`, the rest stays as own quantity.
    OrderResult placeOrder(bool sell, std::uint32_t price, std::uint32_t quantity);
    // Removes all own quantity; answers how much was removed.
    std::uint32_t killOwn();
    // Removes up to `quantity` of own quantity at one level (a cancelled order); answers how much.
    std::uint32_t removeOwn(bool sell, std::uint32_t price, std::uint32_t quantity);
    // One market move: quantities change, levels come and go, sometimes the price walks; a walk
    // answers the level it traded away.
    std::optional<Fill> step(std::mt19937& random);

    // Ascending price, bids before asks.
    std::vector<BookRow> rows() const;

private:

    std::optional<Fill> walk(bool up, std::mt19937& random);
    void keepDepth(std::mt19937& random);
    std::uint32_t randomQuantity(std::mt19937& random) const;

    std::size_t minDepth_ = 5;
    std::size_t maxDepth_ = 25;
    std::uint32_t step_;
    std::uint32_t startBid_;
    std::map<std::uint32_t, Level> bids_;
    std::map<std::uint32_t, Level> asks_;
};

}  // namespace standin
