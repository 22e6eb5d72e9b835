#include "terminal/dombase_scan.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "secs/security_list.h"
#include "settings/log.h"
#include "terminal/quote_table.h"

namespace velmora {

namespace {

constexpr std::uint64_t addressLimit = 1ull << 32;

struct Block {
    TerminalAddress start;
    std::vector<std::uint8_t> bytes;
    bool inImage;
    TerminalAddress end() const { return static_cast<TerminalAddress>(start + bytes.size()); }
};

// The terminal's readable memory, copied once, so the scan costs no system call per word.
class Snapshot : public ProcessHandle {
public:
    std::vector<Block> blocks;

    bool read(TerminalAddress address, void* destination, std::size_t count) override {
        const Block* block = find(address);
        if (!block) return false;
        std::uint64_t offset = address - block->start;
        if (offset + count > block->bytes.size()) return false;
        std::memcpy(destination, block->bytes.data() + offset, count);
        return true;
    }

    const Block* find(TerminalAddress address) {
        if (last_ && address >= last_->start && address - last_->start < last_->bytes.size()) return last_;
        auto it = std::upper_bound(blocks.begin(), blocks.end(), address,
                                   [](TerminalAddress value, const Block& block) { return value < block.start; });
        if (it == blocks.begin()) return nullptr;
        --it;
        if (address - it->start >= it->bytes.size()) return nullptr;
        last_ = &*it;
        return last_;
    }

    bool readWord(TerminalAddress address, std::uint32_t& word) { return read(address, &word, 4); }

private:
    const Block* last_ = nullptr;
};

std::string baseName(const std::string& path) {
    auto slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

struct HeaderVerdict {
    bool valid = false;  // this header and every one after it are sound
    int tables = 0;
    int books = 0;
    TerminalAddress next = 0;
    bool hasBook = false;
    std::int32_t secIndex = 0;
};

class ChainJudge {
public:
    ChainJudge(Snapshot& memory, const TSecShareList& securities, Log& log, int maxLength)
        : memory_(memory), securities_(securities), log_(log), maxLength_(maxLength) {}

    // Judges the chain from `head`, remembering every header's verdict for later heads.
    const HeaderVerdict& judge(TerminalAddress head) {
        if (auto it = verdicts_.find(head); it != verdicts_.end()) return it->second;
        std::vector<TerminalAddress> path;
        std::unordered_set<TerminalAddress> onPath;
        TerminalAddress current = head;
        HeaderVerdict tail;
        tail.valid = true;  // the chain's end
        bool broken = false;
        while (current != 0) {
            if (auto it = verdicts_.find(current); it != verdicts_.end()) {
                tail = it->second;
                break;
            }
            if (!onPath.insert(current).second || static_cast<int>(path.size()) >= maxLength_) {
                broken = true;  // a loop or an endless chain is no table list
                break;
            }
            HeaderVerdict own = inspect(current);
            verdicts_[current] = own;
            path.push_back(current);
            if (!own.valid) {
                broken = true;
                break;
            }
            current = own.next;
        }
        // Fill the path backward from its tail.
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            HeaderVerdict& verdict = verdicts_[*it];
            if (broken || !tail.valid || !verdict.valid) {
                verdict.valid = false;
            } else {
                verdict.tables = tail.tables + (tableAddressOf_[*it] != 0 ? 1 : 0);
                verdict.books = tail.books + (verdict.hasBook ? 1 : 0);
            }
            tail = verdict;
        }
        return verdicts_[head];
    }

    std::vector<std::string> tickers(TerminalAddress head) {
        std::vector<std::string> names;
        std::unordered_set<TerminalAddress> seen;
        for (TerminalAddress current = head; current != 0 && seen.insert(current).second;) {
            auto it = verdicts_.find(current);
            if (it == verdicts_.end()) break;
            if (it->second.hasBook) names.push_back(securities_.at(it->second.secIndex).Ticker);
            current = it->second.next;
        }
        return names;
    }

private:
    HeaderVerdict inspect(TerminalAddress address) {
        HeaderVerdict verdict;
        std::uint32_t words[4];
        if (address % 4 != 0 || !memory_.read(address, words, sizeof words)) return verdict;
        verdict.next = words[0];
        verdict.secIndex = static_cast<std::int32_t>(words[1]);
        TerminalAddress table = words[2];
        tableAddressOf_[address] = table;
        if (!securities_.contains(verdict.secIndex)) return verdict;
        if (verdict.next != 0 && (verdict.next % 4 != 0 || !memory_.find(verdict.next))) return verdict;
        if (table != 0) {
            if (!memory_.find(table)) return verdict;
            TQuoteTable book;
            book.RecordAddress = address;
            book.TableAddress = table;
            verdict.hasBook = GetNewQuotes(&memory_, book, log_);
        }
        verdict.valid = true;
        return verdict;
    }

    Snapshot& memory_;
    const TSecShareList& securities_;
    Log& log_;
    int maxLength_;
    std::unordered_map<TerminalAddress, HeaderVerdict> verdicts_;
    std::unordered_map<TerminalAddress, TerminalAddress> tableAddressOf_;
};

}  // namespace

DomBaseScanResult ScanForDomBase(ProcessHandle& process, const std::vector<MemoryRegion>& regions,
                                 const TSecShareList& securities, const std::string& imageName, Log& log,
                                 const DomBaseScanOptions& options) {
    DomBaseScanResult result;
    const std::string image = baseName(imageName);
    std::uint64_t total = 0;
    for (const MemoryRegion& region : regions)
        if (region.start < addressLimit) total += std::min(region.end, addressLimit) - region.start;

    Snapshot memory;
    std::uint64_t done = 0;
    const std::size_t blockSize = std::max<std::size_t>(options.blockSize & ~std::size_t{3}, 4096);
    for (const MemoryRegion& region : regions) {
        if (region.start >= addressLimit) continue;
        std::uint64_t end = std::min(region.end, addressLimit);
        bool inImage = !image.empty() && baseName(region.file) == image;
        for (std::uint64_t at = region.start; at < end; at += blockSize) {
            std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, end - at));
            Block block{static_cast<TerminalAddress>(at), std::vector<std::uint8_t>(count), inImage};
            if (process.read(block.start, block.bytes.data(), count)) {
                // Adjacent blocks join, so a header or array may straddle a block boundary.
                if (!memory.blocks.empty() && memory.blocks.back().end() == block.start &&
                    memory.blocks.back().inImage == inImage)
                    memory.blocks.back().bytes.insert(memory.blocks.back().bytes.end(), block.bytes.begin(),
                                                      block.bytes.end());
                else
                    memory.blocks.push_back(std::move(block));
                result.bytesScanned += count;
            }
            done += count;
            if (options.progress) options.progress(done / 2, total);
        }
    }

    ChainJudge judge(memory, securities, log, options.maxChainLength);
    std::vector<DomBaseCandidate> found;
    std::uint64_t wordsDone = 0;
    for (const Block& block : memory.blocks) {
        const std::size_t words = block.bytes.size() / 4;
        for (std::size_t i = 0; i < words; ++i) {
            std::uint32_t head;
            std::memcpy(&head, block.bytes.data() + 4 * i, 4);
            if (head == 0 || head % 4 != 0 || !memory.find(head)) continue;
            const HeaderVerdict& verdict = judge.judge(head);
            if (!verdict.valid || verdict.books == 0) continue;
            DomBaseCandidate candidate;
            candidate.base = static_cast<TerminalAddress>(block.start + 4 * i);
            candidate.inImage = block.inImage;
            candidate.tables = verdict.tables;
            candidate.books = verdict.books;
            found.push_back(candidate);
        }
        wordsDone += block.bytes.size();
        if (options.progress) options.progress(total / 2 + wordsDone / 2, total);
    }

    std::stable_sort(found.begin(), found.end(), [](const DomBaseCandidate& a, const DomBaseCandidate& b) {
        if (a.inImage != b.inImage) return a.inImage;
        if (a.books != b.books) return a.books > b.books;
        if (a.tables != b.tables) return a.tables > b.tables;
        return a.base < b.base;
    });
    if (found.size() > options.maxCandidates) found.resize(options.maxCandidates);
    for (DomBaseCandidate& candidate : found) {
        std::uint32_t head = 0;
        memory.readWord(candidate.base, head);
        candidate.tickers = judge.tickers(head);
    }
    result.candidates = std::move(found);
    return result;
}

}  // namespace velmora
