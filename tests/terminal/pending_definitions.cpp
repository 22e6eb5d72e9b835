// Stand-ins for definitions that other folders provide but main does not have yet;
// weak, so the real ones win as soon as they are linked. Remove once they land.
#include <cstdio>
#include <string>

#include "core/program_error.h"
#include "secs/security_list.h"
#include "terminal/process_finder.h"

namespace velmora {

__attribute__((weak)) std::string BufferToHex(const void* buffer, int count) {
    std::string text;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    char pair[3];
    for (int i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        text += pair;
    }
    return text;
}

__attribute__((weak)) const TSecShareRecord& TSecShareList::at(int position) const {
    if (!contains(position)) throw ProgramError("List index out of bounds (" + std::to_string(position) + ")");
    return *records_[static_cast<std::size_t>(position)];
}

__attribute__((weak)) void TSecShareList::append(std::unique_ptr<TSecShareRecord> record) {
    record->Index = Count();
    records_.push_back(std::move(record));
}

__attribute__((weak)) std::string SecShareDescription(const TSecShareRecord& record) {
    char id[16];
    std::snprintf(id, sizeof id, "%04X", record.ID);
    return "ID:$" + std::string(id) + "IDX:" + std::to_string(record.Index) + "; CLASS:" + record.ClassCode +
           "; TICKER:" + record.Ticker;
}

}  // namespace velmora
