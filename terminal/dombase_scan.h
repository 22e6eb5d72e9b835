#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/memory_regions.h"
#include "platform/process_access.h"

namespace velmora {

class Log;
class TSecShareList;

// A word that could be DOMBASE: it points at a chain of table headers whose security
// indexes all lie in the security list, with at least one book that passes the
// program's own consistency checks.
struct DomBaseCandidate {
    TerminalAddress base = 0;
    bool inImage = false;  // inside the terminal's executable image, where the real one lives
    int headers = 0;       // the chain's length
    int tables = 0;        // headers that name a pointer array
    int books = 0;         // of those, books that pass the consistency checks
    std::vector<std::string> tickers;  // of the consistent books, in chain order
};

struct DomBaseScanOptions {
    std::size_t blockSize = 1 << 20;  // memory is read in blocks this large
    int maxChainLength = 100000;
    std::size_t maxCandidates = 10;
    // Called now and then with bytes done and bytes in all.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

struct DomBaseScanResult {
    std::vector<DomBaseCandidate> candidates;  // best first
    std::uint64_t bytesScanned = 0;
};

// `imageName`: the terminal's executable file name; regions mapped from a file of that
// name count as its image, and so does an unnamed region right after them (its
// zero-filled data). Ranks image candidates first, then more books, more tables, and
// among equals the shorter chain (a word pointing at the head word makes a chain one
// header longer that is otherwise the same).
DomBaseScanResult ScanForDomBase(ProcessHandle& process, const std::vector<MemoryRegion>& regions,
                                 const TSecShareList& securities, const std::string& imageName, Log& log,
                                 const DomBaseScanOptions& options = {});

}  // namespace velmora
