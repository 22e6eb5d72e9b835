#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velmora {

// The lines velmora.lua sends, as typed events. Texts are UTF-8 (the link carries Windows-1251).
struct LinkHello {
    int version = 0;
    std::string scriptVersion;
    std::string run;   // the run of the request the stream serves
    std::string link;  // new for every stream the script opens; commands name it
};
struct LinkAlive {
    bool terminalConnected = false;
};
struct LinkBye {};
struct LinkSecurity {
    std::string classCode;
    std::string ticker;
    std::uint32_t scale = 0;  // decimals of the price
    double priceStep = 0;
    std::int64_t lotSize = 0;
    std::string shortName;
    // The money value of one price step (futures); none where the terminal gave none.
    std::optional<double> stepPrice;
};
struct LinkLevel {
    double price = 0;
    std::int64_t quantity = 0;
};
struct LinkBook {
    std::string classCode;
    std::string ticker;
    std::vector<LinkLevel> bids;  // best first: price down
    std::vector<LinkLevel> asks;  // best first: price up
};
struct LinkOrder {
    std::uint64_t orderNumber = 0;
    std::uint32_t transId = 0;  // 0 for an order entered by hand
    std::uint32_t flags = 0;    // bit 0 active, bit 1 cancelled, bit 2 sell
    std::string classCode;
    std::string ticker;
    double price = 0;
    std::int64_t quantity = 0;
    std::int64_t balance = 0;
};
struct LinkTrade {
    std::uint64_t tradeNumber = 0;
    std::uint64_t orderNumber = 0;
    std::uint32_t transId = 0;
    std::uint32_t flags = 0;
    std::string classCode;
    std::string ticker;
    double price = 0;
    std::int64_t quantity = 0;
};
// An anonymous trade of the market (the tape). The aggressor's side is in `flags`: bit 0 a
// sell, bit 1 a buy; neither (or both) is unknown.
struct LinkTape {
    std::string classCode;
    std::string ticker;
    std::uint64_t tradeNumber = 0;
    std::uint32_t flags = 0;
    double price = 0;
    std::int64_t quantity = 0;
    std::string time;  // HH:MM:SS.mmm as the terminal gave it; may be empty
};
struct LinkReply {
    std::uint32_t transId = 0;
    int status = 0;
    std::uint64_t orderNumber = 0;  // 0 when the reply names none
    std::string classCode;
    std::string ticker;
    std::string message;
};
struct LinkPosition {
    std::string classCode;
    std::string ticker;
    bool futures = false;
    double position = 0;
    double averagePrice = 0;
    std::optional<double> varMargin;
};

// A trading account of the terminal and the classes it trades ("|SPBFUT|SPBOPT|").
struct LinkAccount {
    std::string account;
    std::string classCodes;
};
// What the script did with a command of ours.
enum class CommandOutcome { Sent, Refused, Stale, Bad };
struct LinkCommandAnswer {
    std::uint64_t seq = 0;
    CommandOutcome outcome = CommandOutcome::Sent;
    std::uint32_t transId = 0;  // 0 when the command had none that read
    std::string text;
};
// Records a full queue of the script lost.
struct LinkDropped {
    std::string kind;
    std::uint64_t count = 0;
};

using LinkEvent = std::variant<LinkHello, LinkAlive, LinkBye, LinkSecurity, LinkBook, LinkOrder, LinkTrade,
                               LinkReply, LinkPosition, LinkAccount, LinkCommandAnswer, LinkDropped, LinkTape>;

// Why a line was dropped; each kind is told in the log once per stream.
enum class LinkFault {
    None,
    UnknownKind,
    FieldCount,
    BadNumber,
    BadText,
    BadEntry,
    NotPositive,
    DuplicatePrice,
    TooManyEntries,
    Overlong,
    Count_
};
const char* LinkFaultText(LinkFault fault);

constexpr std::size_t maxLinkBookEntries = 10000;
constexpr std::size_t maxLinkLineBytes = 1 << 20;
// No exchange trades more in one trade; the sums of a day stay far from overflowing.
constexpr std::int64_t maxTapeQuantity = 1'000'000'000'000;

struct LinkParse {
    std::optional<LinkEvent> event;
    LinkFault fault = LinkFault::None;
    // A rejected book line whose names read: the instrument whose book it was.
    std::string rejectedClass;
    std::string rejectedTicker;
};

// One line of the stream without its LF (a trailing CR is dropped here). Untrusted: anything
// that is not exactly a line of the link gives a fault and no event.
LinkParse ParseLinkLine(std::string_view line);

}  // namespace velmora
