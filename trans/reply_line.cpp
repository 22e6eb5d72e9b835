#include "trans/reply_line.h"

#include <charconv>

#include "platform/text_encoding.h"
#include "settings/normalized_text.h"

namespace velmora {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool sameName(std::string_view name, std::string_view upper) {
    if (name.size() != upper.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[i]) return false;
    }
    return true;
}

// The whole text as a number, nothing else around it.
template <typename Number>
std::optional<Number> wholeNumber(std::string_view text) {
    Number value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Reads the pairs of a line one at a time.
class PairReader {
public:
    explicit PairReader(std::string_view line) : line_(line) {}

    // False at the end of the line or when it is malformed (then failed() says so).
    bool next(std::string_view& name, std::string& value) {
        skipSeparators();
        if (at_ >= line_.size()) return false;
        std::size_t equals = line_.find_first_of("=;", at_);
        if (equals == std::string_view::npos || line_[equals] != '=') return fail();
        name = TrimmedText(line_.substr(at_, equals - at_), Blank::SpaceOrTab);
        if (name.empty()) return fail();
        at_ = equals + 1;
        while (at_ < line_.size() && isBlank(line_[at_])) ++at_;
        value.clear();
        if (at_ < line_.size() && line_[at_] == '"') return quoted(value);
        std::size_t end = line_.find(';', at_);
        if (end == std::string_view::npos) end = line_.size();
        std::string_view plain = TrimmedText(line_.substr(at_, end - at_), Blank::SpaceOrTab);
        if (plain.find('"') != std::string_view::npos) return fail();
        value.assign(plain);
        at_ = end;
        return true;
    }
    bool failed() const { return failed_; }

private:
    void skipSeparators() {
        while (at_ < line_.size() && (isBlank(line_[at_]) || line_[at_] == ';')) ++at_;
    }
    bool quoted(std::string& value) {
        ++at_;
        for (;;) {
            std::size_t quote = line_.find('"', at_);
            if (quote == std::string_view::npos) return fail();
            value.append(line_.substr(at_, quote - at_));
            at_ = quote + 1;
            if (at_ < line_.size() && line_[at_] == '"') {
                value += '"';
                ++at_;
                continue;
            }
            break;
        }
        while (at_ < line_.size() && isBlank(line_[at_])) ++at_;
        if (at_ < line_.size() && line_[at_] != ';') return fail();
        return true;
    }
    bool fail() {
        failed_ = true;
        return false;
    }

    std::string_view line_;
    std::size_t at_ = 0;
    bool failed_ = false;
};

}  // namespace

std::optional<TransReply> ParseReplyLine(std::string_view line) {
    if (line.find('\0') != std::string_view::npos) return std::nullopt;
    std::optional<std::uint32_t> transId;
    std::optional<int> status;
    std::optional<std::uint64_t> orderNumber;
    std::optional<std::string> transName;
    std::optional<std::string> description;

    PairReader reader(line);
    std::string_view name;
    std::string value;
    while (reader.next(name, value)) {
        if (sameName(name, "TRANS_ID")) {
            auto number = wholeNumber<std::uint32_t>(value);
            if (transId || !number || *number < 1 || *number > static_cast<std::uint32_t>(maxTransId))
                return std::nullopt;
            transId = number;
        } else if (sameName(name, "STATUS")) {
            auto number = wholeNumber<int>(value);
            if (status || !number || *number < 0) return std::nullopt;
            status = number;
        } else if (sameName(name, "ORDER_NUMBER")) {
            // An empty value is no order, as a missing pair is.
            auto number = value.empty() ? std::optional<std::uint64_t>(0) : wholeNumber<std::uint64_t>(value);
            if (orderNumber || !number) return std::nullopt;
            orderNumber = number;
        } else if (sameName(name, "TRANS_NAME")) {
            transName = cp1251ToUtf8(value);
        } else if (sameName(name, "DESCRIPTION")) {
            description = cp1251ToUtf8(value);
        }
    }
    if (reader.failed() || !transId || !status) return std::nullopt;
    return TransReply{*transId, *status, orderNumber.value_or(0), transName.value_or(""), description.value_or("")};
}

bool IsFinalStatus(int status) { return status >= 2; }

bool IsAcceptedStatus(int status) { return status == 3 || status == 15; }

}  // namespace velmora
