#include "terminal/script_link_line.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <utility>

#include "platform/text_encoding.h"

namespace velmora {

const char* LinkFaultText(LinkFault fault) {
    switch (fault) {
        case LinkFault::None: return "none";
        case LinkFault::UnknownKind: return "unknown kind of line";
        case LinkFault::FieldCount: return "wrong number of fields";
        case LinkFault::BadNumber: return "a field that is not a number";
        case LinkFault::BadText: return "a control character in a field";
        case LinkFault::BadEntry: return "a book entry that is not price:quantity";
        case LinkFault::NotPositive: return "a book price or quantity not above zero";
        case LinkFault::DuplicatePrice: return "a price twice on one side of a book";
        case LinkFault::TooManyEntries: return "more than 10000 entries on one side of a book";
        case LinkFault::Overlong: return "a line over 1 MiB";
        case LinkFault::Count_: break;
    }
    return "?";
}

namespace {

// Thrown only inside this file, so each check reads as one line.
struct Fault {
    LinkFault kind;
};

constexpr std::size_t maxFields = 10;

struct Fields {
    std::array<std::string_view, maxFields> items;
    std::size_t count = 0;
    std::string_view operator[](std::size_t i) const { return items[i]; }
};

Fields splitFields(std::string_view line) {
    Fields fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = line.find('\t', start);
        if (fields.count == maxFields) throw Fault{LinkFault::FieldCount};
        fields.items[fields.count++] = line.substr(start, tab == std::string_view::npos ? tab : tab - start);
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

void expectCount(const Fields& fields, std::size_t count) {
    if (fields.count != count) throw Fault{LinkFault::FieldCount};
}

template <typename Integer>
Integer integerField(std::string_view text, Integer lowest = std::numeric_limits<Integer>::min(),
                     Integer highest = std::numeric_limits<Integer>::max()) {
    Integer value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < lowest ||
        value > highest)
        throw Fault{LinkFault::BadNumber};
    return value;
}

double realField(std::string_view text) {
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        throw Fault{LinkFault::BadNumber};
    return value;
}

std::uint32_t transIdField(std::string_view text) { return integerField<std::uint32_t>(text, 0, 2147483647u); }

// Fields never hold control characters; the script replaced TAB, CR and LF with blanks.
std::string textField(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) throw Fault{LinkFault::BadText};
    return cp1251ToUtf8(text);
}

enum class PriceOrder { Descending, Ascending };

void parseSide(std::string_view text, std::vector<LinkLevel>& side, PriceOrder order) {
    if (text.empty()) return;
    if (static_cast<std::size_t>(std::count(text.begin(), text.end(), ',')) >= maxLinkBookEntries)
        throw Fault{LinkFault::TooManyEntries};
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string_view entry = text.substr(start, comma == std::string_view::npos ? comma : comma - start);
        const std::size_t colon = entry.find(':');
        if (colon == std::string_view::npos || entry.find(':', colon + 1) != std::string_view::npos)
            throw Fault{LinkFault::BadEntry};
        LinkLevel level;
        level.price = realField(entry.substr(0, colon));
        level.quantity = integerField<std::int64_t>(entry.substr(colon + 1));
        if (level.price <= 0 || level.quantity <= 0) throw Fault{LinkFault::NotPositive};
        side.push_back(level);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (order == PriceOrder::Descending)
        std::sort(side.begin(), side.end(), [](const LinkLevel& a, const LinkLevel& b) { return a.price > b.price; });
    else
        std::sort(side.begin(), side.end(), [](const LinkLevel& a, const LinkLevel& b) { return a.price < b.price; });
    const auto same = [](const LinkLevel& a, const LinkLevel& b) { return a.price == b.price; };
    if (std::adjacent_find(side.begin(), side.end(), same) != side.end()) throw Fault{LinkFault::DuplicatePrice};
}

// The lines about the link itself: hello, liveness, the end, accounts, answers to commands, losses.
std::optional<LinkEvent> parseLinkKind(const Fields& f) {
    const std::string_view kind = f[0];
    if (kind == "velmora-link") {
        // The first version's hello had no run: taken, so that Velmora can say the script is old.
        if (f.count == 3) return LinkHello{integerField<int>(f[1], 1), textField(f[2]), {}, {}};
        expectCount(f, 5);
        return LinkHello{integerField<int>(f[1], 1), textField(f[2]), textField(f[3]), textField(f[4])};
    }
    if (kind == "account") {
        expectCount(f, 3);
        LinkAccount account{textField(f[1]), textField(f[2])};
        if (account.account.empty()) throw Fault{LinkFault::BadText};
        return account;
    }
    if (kind == "cmd") {
        expectCount(f, 5);
        static constexpr std::pair<std::string_view, CommandOutcome> outcomes[] = {
            {"sent", CommandOutcome::Sent},
            {"refused", CommandOutcome::Refused},
            {"stale", CommandOutcome::Stale},
            {"bad", CommandOutcome::Bad}};
        const auto outcome = std::find_if(std::begin(outcomes), std::end(outcomes),
                                          [&](const auto& known) { return known.first == f[2]; });
        if (outcome == std::end(outcomes)) throw Fault{LinkFault::BadText};
        return LinkCommandAnswer{integerField<std::uint64_t>(f[1], 1), outcome->second,
                                 f[3].empty() ? 0 : transIdField(f[3]), textField(f[4])};
    }
    if (kind == "dropped") {
        expectCount(f, 3);
        return LinkDropped{textField(f[1]), integerField<std::uint64_t>(f[2])};
    }
    if (kind == "alive") {
        expectCount(f, 2);
        return LinkAlive{integerField<int>(f[1], 0, 1) == 1};
    }
    if (kind == "bye") {
        expectCount(f, 1);
        return LinkBye{};
    }
    return std::nullopt;
}

// The lines about the market and the orders: securities, books, orders, trades, replies, positions.
std::optional<LinkEvent> parseMarketKind(const Fields& f) {
    const std::string_view kind = f[0];
    if (kind == "sec") {
        // An older script sends no step price: seven fields.
        if (f.count != 7) expectCount(f, 8);
        LinkSecurity sec{textField(f[1]), textField(f[2]), integerField<std::uint32_t>(f[3], 0, 9),
                         realField(f[4]), integerField<std::int64_t>(f[5], 0), textField(f[6]), {}};
        if (!(sec.priceStep > 0)) throw Fault{LinkFault::BadNumber};
        if (f.count == 8 && !f[7].empty()) {
            sec.stepPrice = realField(f[7]);
            if (!(*sec.stepPrice > 0)) throw Fault{LinkFault::BadNumber};
        }
        return sec;
    }
    if (kind == "tape") {
        expectCount(f, 8);
        LinkTape tape{textField(f[1]), textField(f[2]), integerField<std::uint64_t>(f[3]),
                      integerField<std::uint32_t>(f[4]), realField(f[5]), integerField<std::int64_t>(f[6], 1, maxTapeQuantity),
                      textField(f[7])};
        if (!(tape.price > 0)) throw Fault{LinkFault::NotPositive};
        return tape;
    }
    if (kind == "book") {
        expectCount(f, 5);
        LinkBook book{textField(f[1]), textField(f[2]), {}, {}};
        parseSide(f[3], book.bids, PriceOrder::Descending);
        parseSide(f[4], book.asks, PriceOrder::Ascending);
        // A crossed or locked book is the exchange's auction: shown as it is.
        return book;
    }
    if (kind == "order") {
        expectCount(f, 9);
        return LinkOrder{integerField<std::uint64_t>(f[1]), transIdField(f[2]), integerField<std::uint32_t>(f[3]),
                         textField(f[4]), textField(f[5]), realField(f[6]), integerField<std::int64_t>(f[7], 0),
                         integerField<std::int64_t>(f[8], 0)};
    }
    if (kind == "trade") {
        expectCount(f, 9);
        return LinkTrade{integerField<std::uint64_t>(f[1]), integerField<std::uint64_t>(f[2]), transIdField(f[3]),
                         integerField<std::uint32_t>(f[4]), textField(f[5]), textField(f[6]), realField(f[7]),
                         integerField<std::int64_t>(f[8], 0)};
    }
    if (kind == "reply") {
        expectCount(f, 7);
        return LinkReply{transIdField(f[1]), integerField<int>(f[2], 0),
                         f[3].empty() ? 0 : integerField<std::uint64_t>(f[3]), textField(f[4]), textField(f[5]),
                         textField(f[6])};
    }
    if (kind == "pos") {
        expectCount(f, 7);
        if (f[3] != "F" && f[3] != "S") throw Fault{LinkFault::BadText};
        LinkPosition position{textField(f[1]), textField(f[2]), f[3] == "F", realField(f[4]), realField(f[5]), {}};
        if (!f[6].empty()) position.varMargin = realField(f[6]);
        return position;
    }
    return std::nullopt;
}

LinkEvent parseFields(const Fields& f) {
    if (std::optional<LinkEvent> event = parseLinkKind(f)) return std::move(*event);
    if (std::optional<LinkEvent> event = parseMarketKind(f)) return std::move(*event);
    throw Fault{LinkFault::UnknownKind};
}

}  // namespace

LinkParse ParseLinkLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > maxLinkLineBytes) return {std::nullopt, LinkFault::Overlong, {}, {}};
    try {
        return {parseFields(splitFields(line)), LinkFault::None, {}, {}};
    } catch (const Fault& fault) {
        LinkParse rejected{std::nullopt, fault.kind, {}, {}};
        // So that a book no longer read is told from one that did not change.
        try {
            const Fields f = splitFields(line);
            if (f.count >= 3 && f[0] == "book") {
                rejected.rejectedClass = textField(f[1]);
                rejected.rejectedTicker = textField(f[2]);
            }
        } catch (const Fault&) {
        }
        return rejected;
    }
}

}  // namespace velmora
