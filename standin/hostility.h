#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace standin {

// The ways a hostile terminal's memory goes wrong under a reader.
enum class Fault {
    Torn,           // a write stopped midway: prices without quantities
    Loop,           // a header's next points back to an earlier header or itself
    UnmappedArray,  // a header's array pointer leads into unmapped memory
    UnmappedEntry,  // an array's entry pointer leads into unmapped memory
    EmptyCount,     // the header's entry count is 0
    EmptyArray,     // the array's first pointer is 0
    BothSides,      // a level with quantities on both sides
    OwnBothSides,   // a level with own quantities on both sides
    BrokenOrder,    // two levels change places, so prices fall
};

const std::vector<Fault>& allFaults();
const char* faultName(Fault fault);
// A comma-separated list of fault names; none when a name is unknown.
std::optional<std::vector<Fault>> parseFaults(const std::string& text);

// When which fault comes: one at a time, every kind once per round in an order drawn from
// the seed, so a run with a given seed brings the same faults in the same order.
class FaultSchedule {
public:
    using Clock = std::chrono::steady_clock;

    FaultSchedule(std::vector<Fault> kinds, std::uint32_t seed, std::chrono::milliseconds every,
                  std::chrono::milliseconds hold);

    Clock::time_point nextEvent() const { return active_ ? repairAt_ : startAt_; }
    bool active() const { return active_; }
    // The fault to start now, if it is time; it is then active until repairDue.
    std::optional<Fault> startDue(Clock::time_point now);
    bool repairDue(Clock::time_point now);
    // Draws for the fault's details (which book, which level).
    std::mt19937& random() { return random_; }

private:
    std::vector<Fault> kinds_;
    std::vector<Fault> round_;
    std::mt19937 random_;
    std::chrono::milliseconds every_;
    std::chrono::milliseconds hold_;
    Clock::time_point startAt_;
    Clock::time_point repairAt_;
    bool active_ = false;
};

}  // namespace standin
