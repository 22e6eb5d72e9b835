#include "terminal/dombase_scan.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <memory>
#include <unordered_set>

#include "secs/security_list.h"
#include "settings/log.h"
#include "terminal/quote_table.h"

namespace velmora {

namespace {

constexpr std::uint64_t addressLimit = 1ull << 32;
constexpr std::size_t pageSize = 4096;
// The lookup table has one entry per 64 KiB: small enough to stay in the cache.
constexpr unsigned sliceShift = 16;
// Words looked at together, so that the headers they point at load while others wait.
constexpr std::size_t batch = 64;
constexpr std::size_t headerSize = 12;
// Paths shorter than this are searched for loops directly.
constexpr std::size_t shortPath = 32;

std::uint32_t wordAt(const std::uint8_t* bytes) {
    std::uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
}

struct Block {
    TerminalAddress start = 0;
    std::size_t size = 0;
    const std::uint8_t* bytes = nullptr;
    std::uint64_t end() const { return std::uint64_t{start} + size; }
};

// The terminal's readable memory, copied once, so the scan costs no system call per word.
class Snapshot : public ProcessHandle {
public:
    std::vector<Block> blocks;  // in address order, never overlapping

    bool read(TerminalAddress address, void* destination, std::size_t count) override {
        const std::uint8_t* bytes = at(address, count);
        if (!bytes) return false;
        std::memcpy(destination, bytes, count);
        return true;
    }

    // The `count` bytes at `address` when they lie inside one block, else null.
    const std::uint8_t* at(TerminalAddress address, std::size_t count) const {
        std::int32_t first = firstBlockOfSlice_[address >> sliceShift];
        if (first < 0) return nullptr;
        for (std::size_t i = static_cast<std::size_t>(first); i < blocks.size() && blocks[i].start <= address; ++i) {
            std::uint64_t offset = address - blocks[i].start;
            if (offset < blocks[i].size) return count <= blocks[i].size - offset ? blocks[i].bytes + offset : nullptr;
        }
        return nullptr;
    }

    static constexpr std::size_t hugePage = std::size_t{2} << 20;

    std::uint8_t* allocate(std::size_t size) {
        // Whole 2 MiB pages where the system offers them: the scan's random reads then
        // rarely miss the address cache.
        std::size_t rounded = (size + hugePage - 1) / hugePage * hugePage;
        auto* bytes = static_cast<std::uint8_t*>(::operator new(rounded, std::align_val_t{hugePage}));
#if defined(__linux__)
        madvise(bytes, rounded, MADV_HUGEPAGE);
#endif
        buffers_.emplace_back(bytes);
        return bytes;
    }

    // Maps every 64 KiB slice to the first block that touches it, so a lookup costs no search.
    void index() {
        firstBlockOfSlice_.assign(addressLimit >> sliceShift, -1);
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            std::uint64_t last = (blocks[i].end() - 1) >> sliceShift;
            for (std::uint64_t slice = blocks[i].start >> sliceShift; slice <= last; ++slice)
                if (firstBlockOfSlice_[slice] < 0) firstBlockOfSlice_[slice] = static_cast<std::int32_t>(i);
        }
    }

private:
    struct Free {
        void operator()(std::uint8_t* bytes) const { ::operator delete(bytes, std::align_val_t{hugePage}); }
    };
    std::vector<std::unique_ptr<std::uint8_t, Free>> buffers_;
    std::vector<std::int32_t> firstBlockOfSlice_;
};

std::string baseName(const std::string& path) {
    auto slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

struct Range {
    std::uint64_t start;
    std::uint64_t end;
};

// Readable runs below 4 GiB (touching regions joined) and the ranges of the terminal's image.
void layOut(std::vector<MemoryRegion> regions, const std::string& imageName, std::vector<Range>& runs,
            std::vector<Range>& image) {
    std::sort(regions.begin(), regions.end(),
              [](const MemoryRegion& a, const MemoryRegion& b) { return a.start < b.start; });
    const std::string name = baseName(imageName);
    bool previousInImage = false;
    std::uint64_t previousEnd = 0;
    for (const MemoryRegion& region : regions) {
        std::uint64_t start = region.start, end = std::min(region.end, addressLimit);
        if (start >= end) continue;
        start = std::max(start, runs.empty() ? 0 : runs.back().end);
        if (start >= end) continue;
        // An unnamed region right after the image holds its zero-filled data on Linux.
        bool inImage = (!name.empty() && baseName(region.file) == name) ||
                       (region.file.empty() && previousInImage && region.start == previousEnd);
        if (!runs.empty() && runs.back().end == start)
            runs.back().end = end;
        else
            runs.push_back({start, end});
        if (inImage) {
            if (!image.empty() && image.back().end == start)
                image.back().end = end;
            else
                image.push_back({start, end});
        }
        previousInImage = inImage && !region.file.empty();
        previousEnd = region.end;
    }
}

bool within(const std::vector<Range>& ranges, std::uint64_t address) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), address,
                               [](std::uint64_t value, const Range& range) { return value < range.start; });
    return it != ranges.begin() && address < std::prev(it)->end;
}

// Copies the runs; a chunk that cannot be read is retried page by page, and what stays
// unreadable splits its run.
void copyMemory(ProcessHandle& process, const std::vector<Range>& runs, std::size_t chunkSize, Snapshot& memory,
                std::uint64_t total, const DomBaseScanOptions& options, std::uint64_t& bytesScanned) {
    std::uint64_t done = 0;
    for (const Range& run : runs) {
        std::uint8_t* buffer = memory.allocate(static_cast<std::size_t>(run.end - run.start));
        std::uint64_t blockStart = run.start;
        auto closeBlock = [&](std::uint64_t end) {
            if (end > blockStart)
                memory.blocks.push_back({static_cast<TerminalAddress>(blockStart),
                                         static_cast<std::size_t>(end - blockStart), buffer + (blockStart - run.start)});
        };
        for (std::uint64_t at = run.start; at < run.end;) {
            std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize, run.end - at));
            if (process.read(static_cast<TerminalAddress>(at), buffer + (at - run.start), count)) {
                bytesScanned += count;
            } else {
                for (std::uint64_t page = at; page < at + count;) {
                    std::size_t piece = static_cast<std::size_t>(
                        std::min<std::uint64_t>(pageSize - page % pageSize, at + count - page));
                    if (process.read(static_cast<TerminalAddress>(page), buffer + (page - run.start), piece)) {
                        bytesScanned += piece;
                    } else {
                        closeBlock(page);
                        blockStart = page + piece;
                    }
                    page += piece;
                }
            }
            at += count;
            done += count;
            if (options.progress) options.progress(done / 2, total);
        }
        closeBlock(run.end);
    }
}

struct HeaderVerdict {
    bool valid = false;  // this header and every one after it are sound and the chain ends
    TerminalAddress next = 0;
    std::int32_t secIndex = 0;
    bool hasTable = false;
    bool hasBook = false;
    int headers = 0;  // counted from this header to the chain's end
    int tables = 0;
    int books = 0;
};

// Verdicts by header address: open addressing, as a scan asks millions of times.
class VerdictMap {
public:
    VerdictMap() : keys_(1024, 0), values_(1024) {}

    const HeaderVerdict* find(TerminalAddress address) const {
        for (std::size_t i = slot(address);; i = (i + 1) & (keys_.size() - 1)) {
            if (keys_[i] == address) return &values_[i];
            if (keys_[i] == 0) return nullptr;
        }
    }

    void insert(TerminalAddress address, const HeaderVerdict& verdict) {
        if (2 * (count_ + 1) > keys_.size()) grow();
        std::size_t i = slot(address);
        while (keys_[i] != 0 && keys_[i] != address) i = (i + 1) & (keys_.size() - 1);
        if (keys_[i] == 0) ++count_;
        keys_[i] = address;
        values_[i] = verdict;
    }

private:
    std::size_t slot(TerminalAddress address) const {
        return static_cast<std::size_t>((std::uint64_t{address} * 0x9E3779B97F4A7C15ull) >> 32) & (keys_.size() - 1);
    }
    void grow() {
        std::vector<TerminalAddress> keys(keys_.size() * 2, 0);
        std::vector<HeaderVerdict> values(keys.size());
        keys.swap(keys_);
        values.swap(values_);
        count_ = 0;
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (keys[i] != 0) insert(keys[i], values[i]);
    }

    std::vector<TerminalAddress> keys_;  // 0: free; no header lives at address 0
    std::vector<HeaderVerdict> values_;
    std::size_t count_ = 0;
};

class ChainJudge {
public:
    ChainJudge(Snapshot& memory, const TSecShareList& securities, Log& log, int maxLength)
        : memory_(memory), securities_(securities), log_(log), maxLength_(maxLength) {}

    // Judges the chain from `head`. Verdicts of chains longer than one header are kept,
    // so the words that point into a chain already judged cost one lookup.
    HeaderVerdict judge(TerminalAddress head) {
        // Most heads are a lone header without a book: judged on the spot, never kept.
        HeaderVerdict first = inspect(head, Look::HeaderOnly);
        if (!first.valid) return first;
        if (first.next == 0 && !first.hasTable) {
            first.headers = 1;
            return first;
        }
        if (const HeaderVerdict* known = verdicts_.find(head)) return *known;
        path_.clear();
        onPath_.clear();
        HeaderVerdict tail;
        tail.valid = true;  // the chain's end
        bool broken = false;
        for (TerminalAddress current = head; current != 0;) {
            if (current != head) {
                // Chains mostly end at a header that is plainly none: no lookup for those.
                HeaderVerdict quick = inspect(current, Look::HeaderOnly);
                if (!quick.valid) {
                    broken = true;
                    break;
                }
                if (quick.next == 0 && !quick.hasTable) {
                    tail = quick;
                    tail.headers = 1;
                    break;
                }
            }
            // Before the kept verdicts: a header of this very path has none yet.
            if (isOnPath(current) || static_cast<int>(path_.size()) >= maxLength_) {
                broken = true;  // a loop or an endless chain is no table list
                break;
            }
            if (const HeaderVerdict* known = verdicts_.find(current)) {
                tail = *known;
                break;
            }
            path_.push_back({current, inspect(current, Look::WithBook)});
            if (path_.size() > shortPath) onPath_.insert(current);
            current = path_.back().second.next;
        }
        // Fill the path backward from its tail. A chain cut by the length limit counts as
        // broken for every header on it: the cost of being exact would be quadratic.
        for (auto it = path_.rbegin(); it != path_.rend(); ++it) {
            HeaderVerdict& verdict = it->second;
            if (broken || !tail.valid || !verdict.valid) {
                verdict.valid = false;
            } else {
                verdict.headers = tail.headers + 1;
                verdict.tables = tail.tables + (verdict.hasTable ? 1 : 0);
                verdict.books = tail.books + (verdict.hasBook ? 1 : 0);
            }
            tail = verdict;
        }
        // A lone header costs less to judge again than to keep, unless its book was read.
        if (path_.size() > 1 || (path_.size() == 1 && path_.front().second.hasBook))
            for (const auto& [address, verdict] : path_) verdicts_.insert(address, verdict);
        return path_.empty() ? tail : path_.front().second;
    }

    std::vector<std::string> tickers(TerminalAddress head) {
        std::vector<std::string> names;
        std::unordered_set<TerminalAddress> seen;
        for (TerminalAddress current = head; current != 0 && seen.insert(current).second;) {
            HeaderVerdict verdict = inspect(current, Look::WithBook);
            if (!verdict.valid) break;
            if (verdict.hasBook) names.push_back(securities_.at(verdict.secIndex).Ticker);
            current = verdict.next;
        }
        return names;
    }

private:
    bool isOnPath(TerminalAddress address) const {
        if (path_.size() <= shortPath)
            return std::any_of(path_.begin(), path_.end(), [&](const auto& step) { return step.first == address; });
        return onPath_.count(address) != 0 ||
               std::any_of(path_.begin(), path_.begin() + shortPath, [&](const auto& step) { return step.first == address; });
    }

    // HeaderOnly checks a header with a table, not its book.
    enum class Look { HeaderOnly, WithBook };
    HeaderVerdict inspect(TerminalAddress address, Look look) {
        HeaderVerdict verdict;
        const std::uint8_t* header = address % 4 == 0 ? memory_.at(address, headerSize) : nullptr;
        if (!header) return verdict;
        verdict.next = wordAt(header);
        verdict.secIndex = static_cast<std::int32_t>(wordAt(header + 4));
        TerminalAddress table = wordAt(header + 8);
        if (!securities_.contains(verdict.secIndex)) return verdict;
        if (verdict.next != 0 && (verdict.next % 4 != 0 || !memory_.at(verdict.next, headerSize))) return verdict;
        verdict.hasTable = table != 0;
        // A book that cannot be read is no book, but the chain may still be the one: a live
        // terminal may be moving it right now.
        if (look == Look::WithBook && verdict.hasTable && mayHoldBook(address, table)) {
            TQuoteTable book;
            book.RecordAddress = address;
            book.TableAddress = table;
            verdict.hasBook = GetNewQuotes(&memory_, book, log_);
        }
        verdict.valid = true;
        return verdict;
    }

    // What the full read would reject first, checked without it: no entries, or a first
    // entry that is no level.
    bool mayHoldBook(TerminalAddress header, TerminalAddress table) const {
        const std::uint8_t* count = memory_.at(header + 0x0C, 4);
        const std::uint8_t* pointers = memory_.at(table, 4);
        if (!count || !pointers || static_cast<std::int32_t>(wordAt(count)) < 1) return false;
        const std::uint8_t* entry = memory_.at(wordAt(pointers), 36);
        if (!entry) return false;
        const std::uint32_t sell = wordAt(entry + 0x0C), buy = wordAt(entry + 0x1C);
        return wordAt(entry) != 0 && (sell == 0) != (buy == 0) && (wordAt(entry + 0x10) == 0 || wordAt(entry + 0x20) == 0);
    }

    Snapshot& memory_;
    const TSecShareList& securities_;
    Log& log_;
    int maxLength_;
    VerdictMap verdicts_;
    std::vector<std::pair<TerminalAddress, HeaderVerdict>> path_;
    std::unordered_set<TerminalAddress> onPath_;
};

// The best first: in the program's image, then more books, more tables, fewer headers, the lower
// address; each named by the tickers of its chain.
std::vector<DomBaseCandidate> bestCandidates(std::vector<DomBaseCandidate> found, std::size_t maxCandidates,
                                             Snapshot& memory, ChainJudge& judge) {
    std::sort(found.begin(), found.end(), [](const DomBaseCandidate& a, const DomBaseCandidate& b) {
        if (a.inImage != b.inImage) return a.inImage;
        if (a.books != b.books) return a.books > b.books;
        if (a.tables != b.tables) return a.tables > b.tables;
        if (a.headers != b.headers) return a.headers < b.headers;
        return a.base < b.base;
    });
    if (found.size() > maxCandidates) found.resize(maxCandidates);
    for (DomBaseCandidate& candidate : found) {
        std::uint32_t head = 0;
        memory.read(candidate.base, &head, 4);
        candidate.tickers = judge.tickers(head);
    }
    return found;
}

}  // namespace

DomBaseScanResult ScanForDomBase(ProcessHandle& process, const std::vector<MemoryRegion>& regions,
                                 const TSecShareList& securities, const std::string& imageName, Log& log,
                                 const DomBaseScanOptions& options) {
    DomBaseScanResult result;
    std::vector<Range> runs, image;
    layOut(regions, imageName, runs, image);
    std::uint64_t total = 0;
    for (const Range& run : runs) total += run.end - run.start;

    Snapshot memory;
    const std::size_t chunkSize = std::max<std::size_t>(options.blockSize & ~(pageSize - 1), pageSize);
    copyMemory(process, runs, chunkSize, memory, total, options, result.bytesScanned);
    memory.index();

    const std::uint32_t securityCount = static_cast<std::uint32_t>(std::max(securities.Count(), 0));
    const std::size_t progressStep = std::size_t{1} << 20;
    ChainJudge judge(memory, securities, log, options.maxChainLength);
    std::vector<DomBaseCandidate> found;
    std::uint64_t scanned = 0;
    for (const Block& block : memory.blocks) {
        const std::size_t skip = (4 - block.start % 4) % 4;
        const std::uint8_t* headers[batch];
        for (std::size_t offset = skip; offset + 4 <= block.size; offset += 4 * batch) {
            if (options.progress && (offset - skip) % progressStep == 0)
                options.progress(total / 2 + (scanned + offset) / 2, total);
            const std::size_t words = std::min(batch, (block.size - offset) / 4);
            for (std::size_t k = 0; k < words; ++k) {
                const std::uint32_t head = wordAt(block.bytes + offset + 4 * k);
                headers[k] = head != 0 && head % 4 == 0 ? memory.at(head, headerSize) : nullptr;
                if (headers[k]) __builtin_prefetch(headers[k]);
            }
            for (std::size_t k = 0; k < words; ++k) {
                // Almost every word fails here, on a header whose security index is out of range.
                if (!headers[k] || wordAt(headers[k] + 4) >= securityCount) continue;
                const TerminalAddress base = static_cast<TerminalAddress>(block.start + offset + 4 * k);
                HeaderVerdict verdict = judge.judge(wordAt(block.bytes + offset + 4 * k));
                if (!verdict.valid || verdict.books == 0) continue;
                DomBaseCandidate candidate;
                candidate.base = base;
                candidate.inImage = within(image, candidate.base);
                candidate.headers = verdict.headers;
                candidate.tables = verdict.tables;
                candidate.books = verdict.books;
                found.push_back(candidate);
            }
        }
        scanned += block.size;
    }
    if (options.progress) options.progress(total, total);

    result.candidates = bestCandidates(std::move(found), options.maxCandidates, memory, judge);
    return result;
}

}  // namespace velmora
