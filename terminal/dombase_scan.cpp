#include "terminal/dombase_scan.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "secs/security_list.h"
#include "settings/log.h"
#include "terminal/quote_table.h"

namespace velmora {

namespace {

constexpr std::uint64_t addressLimit = 1ull << 32;
constexpr unsigned pageShift = 12;
constexpr std::size_t pageSize = std::size_t{1} << pageShift;
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
        std::int32_t first = firstBlockOfPage_[address >> pageShift];
        if (first < 0) return nullptr;
        for (std::size_t i = static_cast<std::size_t>(first); i < blocks.size() && blocks[i].start <= address; ++i) {
            std::uint64_t offset = address - blocks[i].start;
            if (offset < blocks[i].size) return count <= blocks[i].size - offset ? blocks[i].bytes + offset : nullptr;
        }
        return nullptr;
    }

    std::uint8_t* allocate(std::size_t size) {
        buffers_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(size));
        return buffers_.back().get();
    }

    // Maps every page to the first block that touches it, so a lookup costs no search.
    void index() {
        firstBlockOfPage_.assign(addressLimit >> pageShift, -1);
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            std::uint64_t last = (blocks[i].end() - 1) >> pageShift;
            for (std::uint64_t page = blocks[i].start >> pageShift; page <= last; ++page)
                if (firstBlockOfPage_[page] < 0) firstBlockOfPage_[page] = static_cast<std::int32_t>(i);
        }
    }

private:
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers_;
    std::vector<std::int32_t> firstBlockOfPage_;
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

class ChainJudge {
public:
    ChainJudge(Snapshot& memory, const TSecShareList& securities, Log& log, int maxLength)
        : memory_(memory), securities_(securities), log_(log), maxLength_(maxLength) {}

    // Judges the chain from `head`. Verdicts of chains longer than one header are kept,
    // so the words that point into a chain already judged cost one lookup.
    HeaderVerdict judge(TerminalAddress head) {
        if (auto it = verdicts_.find(head); it != verdicts_.end()) return it->second;
        path_.clear();
        onPath_.clear();
        HeaderVerdict tail;
        tail.valid = true;  // the chain's end
        bool broken = false;
        for (TerminalAddress current = head; current != 0;) {
            // Before the kept verdicts: a header of this very path has none yet.
            if (isOnPath(current) || static_cast<int>(path_.size()) >= maxLength_) {
                broken = true;  // a loop or an endless chain is no table list
                break;
            }
            if (auto it = verdicts_.find(current); it != verdicts_.end()) {
                tail = it->second;
                break;
            }
            path_.push_back({current, inspect(current)});
            if (path_.size() > shortPath) onPath_.insert(current);
            if (!path_.back().second.valid) {
                broken = true;
                break;
            }
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
        if (path_.size() > 1 || (path_.size() == 1 && path_.front().second.hasTable))
            for (const auto& [address, verdict] : path_) verdicts_.emplace(address, verdict);
        return path_.empty() ? tail : path_.front().second;
    }

    std::vector<std::string> tickers(TerminalAddress head) {
        std::vector<std::string> names;
        std::unordered_set<TerminalAddress> seen;
        for (TerminalAddress current = head; current != 0 && seen.insert(current).second;) {
            HeaderVerdict verdict = inspect(current);
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

    HeaderVerdict inspect(TerminalAddress address) {
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
        if (verdict.hasTable && memory_.at(table, 4)) {
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
    std::vector<std::pair<TerminalAddress, HeaderVerdict>> path_;
    std::unordered_set<TerminalAddress> onPath_;
};

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
        for (std::size_t offset = skip; offset + 4 <= block.size; offset += 4) {
            if (options.progress && offset % progressStep == skip)
                options.progress(total / 2 + (scanned + offset) / 2, total);
            const std::uint32_t head = wordAt(block.bytes + offset);
            if (head == 0 || head % 4 != 0) continue;
            // Almost every word fails here, on a header whose security index is out of range.
            const std::uint8_t* header = memory.at(head, headerSize);
            if (!header || wordAt(header + 4) >= securityCount) continue;
            HeaderVerdict verdict = judge.judge(head);
            if (!verdict.valid || verdict.books == 0) continue;
            DomBaseCandidate candidate;
            candidate.base = static_cast<TerminalAddress>(block.start + offset);
            candidate.inImage = within(image, candidate.base);
            candidate.headers = verdict.headers;
            candidate.tables = verdict.tables;
            candidate.books = verdict.books;
            found.push_back(candidate);
        }
        scanned += block.size;
    }
    if (options.progress) options.progress(total, total);

    std::sort(found.begin(), found.end(), [](const DomBaseCandidate& a, const DomBaseCandidate& b) {
        if (a.inImage != b.inImage) return a.inImage;
        if (a.books != b.books) return a.books > b.books;
        if (a.tables != b.tables) return a.tables > b.tables;
        if (a.headers != b.headers) return a.headers < b.headers;
        return a.base < b.base;
    });
    if (found.size() > options.maxCandidates) found.resize(options.maxCandidates);
    for (DomBaseCandidate& candidate : found) {
        std::uint32_t head = 0;
        memory.read(candidate.base, &head, 4);
        candidate.tickers = judge.tickers(head);
    }
    result.candidates = std::move(found);
    return result;
}

}  // namespace velmora
