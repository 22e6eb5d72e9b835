#include "settings/normalized_text.h"

namespace velmora {

std::string_view TrimmedText(std::string_view text, Blank blank) {
    const auto isBlank = [blank](char c) {
        return blank == Blank::SpaceOrTab ? c == ' ' || c == '\t' : static_cast<unsigned char>(c) <= ' ';
    };
    std::size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string NormalizedText(std::string_view text) {
    std::string result(TrimmedText(text));
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return result;
}

}  // namespace velmora
