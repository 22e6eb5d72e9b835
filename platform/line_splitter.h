#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Whether a CR just before the LF is part of the line or of its end.
enum class CarriageReturn { Kept, Dropped };

// Cuts bytes that arrive in pieces into lines at LF. The unfinished last line waits for the rest;
// a line longer than the cap is dropped whole, up to its LF, never kept, and counted when it ends.
// With CarriageReturn::Dropped the cap leaves room for the CR it drops.
class LineSplitter {
public:
    explicit LineSplitter(std::size_t maxLineBytes, CarriageReturn carriageReturn)
        : maxLineBytes_(maxLineBytes), carriageReturn_(carriageReturn) {}

    // Appends to `lines` every line that `bytes` ends.
    void feed(std::string_view bytes, std::vector<std::string>& lines);
    // Lines dropped for their length since the last call.
    std::size_t takeOverlongCount() {
        const std::size_t count = overlongCount_;
        overlongCount_ = 0;
        return count;
    }
    // The writer went, or starts over: what it left unended is no line.
    void reset() {
        partial_.clear();
        overlong_ = false;
    }

private:
    std::size_t maxLineBytes_;
    CarriageReturn carriageReturn_;
    std::string partial_;
    bool overlong_ = false;  // in a line already over the cap, dropping up to its LF
    std::size_t overlongCount_ = 0;
};

}  // namespace velmora
