#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "tests/support/quiet_platform.h"
#include "secs/security_list.h"
#include "terminal/quote_table.h"

using namespace velmora;

namespace {

// An address space made from the input: a list of (address, length, bytes) regions, so
// headers, pointer arrays and entries can point anywhere, including at each other.
class InputMemory : public ProcessHandle {
public:
    InputMemory(const std::uint8_t* data, std::size_t size) {
        std::size_t at = 0;
        while (at + 6 <= size && regions_.size() < 64) {
            std::uint32_t address;
            std::memcpy(&address, data + at, 4);
            std::size_t length = data[at + 4] | (data[at + 5] << 8);
            at += 6;
            length = std::min(length, size - at);
            regions_[address].assign(data + at, data + at + length);
            at += length;
        }
    }
    bool read(TerminalAddress address, void* destination, std::size_t count) override {
        auto it = regions_.upper_bound(address);
        if (it == regions_.begin()) return false;
        --it;
        std::uint64_t offset = address - it->first;
        if (offset + count > it->second.size()) return false;
        std::memcpy(destination, it->second.data() + offset, count);
        return true;
    }
    TerminalAddress firstAddress() const { return regions_.empty() ? 0 : regions_.begin()->first; }

private:
    std::map<TerminalAddress, std::vector<std::uint8_t>> regions_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static quiet::QuietPlatform platform;
    static Log log(platform.clock, platform.locale, platform.messages);
    log.LogThreshold = 1;
    InputMemory memory(data, size);

    TQuoteTables tables;
    GetQuoteTables(&memory, memory.firstAddress(), tables, log);
    for (auto& table : tables) {
        table->GetQuotes(&memory, log);
        if (table->Count() > 124) __builtin_trap();
        // An accepted book is ordered: bids first, prices never falling.
        bool sellSeen = false;
        std::uint32_t previous = 0;
        for (int i = 0; i < table->Count(); ++i) {
            const TQuoteRecord& row = table->row(i);
            if (row.side() == Side::Sell) sellSeen = true;
            if (row.side() == Side::Buy && sellSeen) __builtin_trap();
            if (row.IntPrice < previous || row.IntPrice == 0 || row.Quantity == 0) __builtin_trap();
            previous = row.IntPrice;
        }
        table->BestBid();
        table->BestAsk();
    }
    return 0;
}
