#include "secs/security_list.h"

#include <cmath>
#include <cstdio>

#include "settings/program_error.h"

namespace velmora {

namespace {

double scale(std::uint32_t decimals) { return std::pow(10.0, static_cast<double>(decimals)); }

}  // namespace

double TSecShareRecord::priceStep() const { return IntPriceStep / scale(Decimals); }

double TSecShareRecord::realPrice(std::uint32_t intPrice) const { return intPrice / scale(Decimals); }

double TSecShareRecord::stepOffset(std::int32_t steps) const {
    // 64 bits so that a large step times a large count cannot wrap.
    std::int64_t product = static_cast<std::int64_t>(IntPriceStep) * static_cast<std::int64_t>(steps);
    return static_cast<double>(product) / scale(Decimals);
}

const TSecShareRecord& TSecShareList::at(int position) const {
    if (!contains(position))
        throw ProgramError("security position " + std::to_string(position) + " is outside 0.." +
                           std::to_string(Count() - 1));
    return *records_[static_cast<std::size_t>(position)];
}

void TSecShareList::append(std::unique_ptr<TSecShareRecord> record) {
    record->Index = Count();
    records_.push_back(std::move(record));
}

const TSecShareRecord* TSecShareList::FindByTicker(const std::string& text) const {
    for (const auto& record : records_)
        if (record->Ticker == text) return record.get();
    return nullptr;
}

std::string SecShareDescription(const TSecShareRecord& record) {
    char id[16];
    std::snprintf(id, sizeof id, "%04X", static_cast<unsigned>(record.ID));
    return "ID:$" + std::string(id) + "IDX:" + std::to_string(record.Index) + "; CLASS:" + record.ClassCode +
           "; TICKER:" + record.Ticker;
}

}  // namespace velmora
