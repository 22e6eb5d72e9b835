#pragma once
#include <string>
#include <vector>

namespace velmora {

// An instrument as the link names it.
struct LinkInstrumentName {
    std::string classCode;
    std::string ticker;
    bool operator==(const LinkInstrumentName&) const = default;
};

// "CLASS:TICKER,CLASS:TICKER": blanks around items dropped, empty items skipped; items without a
// class or ticker, or that repeat one before, go to `rejected`.
std::vector<LinkInstrumentName> ParseInstrumentList(const std::string& text, std::vector<std::string>& rejected);

// The request file velmora.lua polls: what it should send and where.
class LinkRequestFile {
public:
    explicit LinkRequestFile(std::string path) : path_(std::move(path)) {}

    // Rewrites the file whole when the request differs from the one last written. False, with
    // `error` set, when it could not; the next call tries again. `commands`: the command file's
    // path, empty when orders do not go through the script.
    bool update(const std::string& run, const std::string& streamPath, const std::vector<LinkInstrumentName>& wanted,
                const std::string& commands, std::string& error);
    // The program ends: the script stops sending.
    void remove();
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string written_;  // the last text written, UTF-8
};

}  // namespace velmora
