#include "hostility.h"

#include <algorithm>
#include <sstream>

namespace standin {

namespace {

struct NamedFault {
    Fault fault;
    const char* name;
};

constexpr NamedFault names[] = {
    {Fault::Torn, "torn"},
    {Fault::Loop, "loop"},
    {Fault::UnmappedArray, "unmapped-array"},
    {Fault::UnmappedEntry, "unmapped-entry"},
    {Fault::EmptyCount, "empty-count"},
    {Fault::EmptyArray, "empty-array"},
    {Fault::BothSides, "both-sides"},
    {Fault::OwnBothSides, "own-both-sides"},
    {Fault::BrokenOrder, "broken-order"},
};

}  // namespace

const std::vector<Fault>& allFaults() {
    static const std::vector<Fault> all = [] {
        std::vector<Fault> faults;
        for (const NamedFault& n : names) faults.push_back(n.fault);
        return faults;
    }();
    return all;
}

const char* faultName(Fault fault) {
    for (const NamedFault& n : names)
        if (n.fault == fault) return n.name;
    return "?";
}

std::optional<std::vector<Fault>> parseFaults(const std::string& text) {
    std::vector<Fault> faults;
    std::istringstream in(text);
    std::string name;
    while (std::getline(in, name, ',')) {
        auto found = std::find_if(std::begin(names), std::end(names), [&](const NamedFault& n) { return name == n.name; });
        if (found == std::end(names)) return std::nullopt;
        faults.push_back(found->fault);
    }
    if (faults.empty()) return std::nullopt;
    return faults;
}

FaultSchedule::FaultSchedule(std::vector<Fault> kinds, std::uint32_t seed, std::chrono::milliseconds every,
                             std::chrono::milliseconds hold)
    : kinds_(std::move(kinds)), random_(seed ^ 0x6A09E667u), every_(every), hold_(std::min(hold, every)),
      startAt_(Clock::now() + every) {}

std::optional<Fault> FaultSchedule::startDue(Clock::time_point now) {
    if (active_ || now < startAt_ || kinds_.empty()) return std::nullopt;
    if (round_.empty()) {
        round_ = kinds_;
        std::shuffle(round_.begin(), round_.end(), random_);
    }
    Fault fault = round_.back();
    round_.pop_back();
    active_ = true;
    repairAt_ = now + hold_;
    startAt_ += every_;
    if (startAt_ < repairAt_) startAt_ = repairAt_;
    return fault;
}

bool FaultSchedule::repairDue(Clock::time_point now) {
    if (!active_ || now < repairAt_) return false;
    active_ = false;
    return true;
}

}  // namespace standin
