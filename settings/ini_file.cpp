#include "settings/ini_file.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "settings/program_error.h"
#include "settings/normalized_text.h"
#include "platform/text_encoding.h"

namespace velmora {

namespace {

constexpr std::size_t maximumValueLength = 2047;

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

// The name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> sectionName(std::string_view line) {
    line = TrimmedText(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    std::size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return TrimmedText(line.substr(1, close - 1));
}

// The key of a "key=value" line, or nothing for any other line.
std::optional<std::string_view> keyName(std::string_view line) {
    std::string_view trimmed = TrimmedText(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') return std::nullopt;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    return TrimmedText(line.substr(0, equals));
}

// Cuts at 2047 characters; the text is UTF-8 converted from single-byte 1251, so a
// character is one code point.
std::string cutValue(std::string_view value) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if ((static_cast<unsigned char>(value[i]) & 0xC0) == 0x80) continue;
        if (characters == maximumValueLength) return std::string(value.substr(0, i));
        ++characters;
    }
    return std::string(value);
}

// A line break inside a value would split it and could forge other keys.
std::string oneLine(std::string_view value) {
    std::string result(value);
    for (char& c : result)
        if (c == '\r' || c == '\n') c = ' ';
    return result;
}

struct SectionRange {
    std::size_t header;  // index of the "[name]" line
    std::size_t end;     // one past its last line
};

std::optional<SectionRange> findSection(const std::vector<std::string>& lines, const std::string& section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = sectionName(lines[i]);
        if (!name || !sameName(*name, section)) continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !sectionName(lines[end])) ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> findKey(const std::vector<std::string>& lines, const SectionRange& range,
                                   const std::string& key) {
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        auto name = keyName(lines[i]);
        if (name && sameName(*name, key)) return i;
    }
    return std::nullopt;
}

enum class ReadOutcome { Missing, Read, Failed };

ReadOutcome readBytes(const std::string& path, std::string& bytes) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return error ? ReadOutcome::Failed : ReadOutcome::Missing;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return ReadOutcome::Failed;
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, count);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? ReadOutcome::Failed : ReadOutcome::Read;
}

constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";

// A value in matching double or single quotes loses them, as the platform's profile reader does
// (a path copied with "Copy as path" comes quoted).
std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::size_t contentEnd = end;
        if (contentEnd > start && text[contentEnd - 1] == '\r') --contentEnd;
        lines.push_back(text.substr(start, contentEnd - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

void IniFile::takeText(const std::string& bytes) {
    // Notepad marks its UTF-8 files; any other file is Windows-1251.
    utf8_ = std::string_view(bytes).substr(0, utf8Mark.size()) == utf8Mark;
    lines_ = splitLines(utf8_ ? bytes.substr(utf8Mark.size()) : cp1251ToUtf8(bytes));
}

IniFile IniFile::load(const std::string& path) {
    IniFile ini;
    std::string bytes;
    if (readBytes(path, bytes) == ReadOutcome::Read) ini.takeText(bytes);
    return ini;
}

IniFile IniFile::loadForUpdate(const std::string& path) {
    IniFile ini;
    std::string bytes;
    ReadOutcome outcome = readBytes(path, bytes);
    if (outcome == ReadOutcome::Failed) throw ProgramError("Unable to write to " + path);
    if (outcome == ReadOutcome::Read) ini.takeText(bytes);
    return ini;
}

std::string IniFile::read(const std::string& section, const std::string& key,
                          const std::string& fallback) const {
    auto range = findSection(lines_, section);
    if (!range) return fallback;
    auto line = findKey(lines_, *range, key);
    if (!line) return fallback;
    const std::string& text = lines_[*line];
    return cutValue(unquoted(TrimmedText(std::string_view(text).substr(text.find('=') + 1))));
}

bool IniFile::contains(const std::string& section, const std::string& key) const {
    auto range = findSection(lines_, section);
    return range && findKey(lines_, *range, key);
}

void IniFile::write(const std::string& section, const std::string& key, const std::string& value) {
    auto range = findSection(lines_, section);
    if (!range) {
        if (!lines_.empty() && !TrimmedText(lines_.back()).empty()) lines_.emplace_back();
        lines_.push_back("[" + section + "]");
        lines_.push_back(key + "=" + oneLine(value));
        return;
    }
    if (auto line = findKey(lines_, *range, key)) {
        std::string existingKey(*keyName(lines_[*line]));
        lines_[*line] = existingKey + "=" + oneLine(value);
        return;
    }
    // Keep the blank lines that separate this section from the next one after it.
    std::size_t at = range->end;
    while (at > range->header + 1 && TrimmedText(lines_[at - 1]).empty()) --at;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), key + "=" + oneLine(value));
}

void IniFile::save(const std::string& path) const {
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += "\r\n";
    }
    std::string bytes = utf8_ ? std::string(utf8Mark) + text : utf8ToCp1251(text);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) throw ProgramError("Unable to write to " + path);
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) throw ProgramError("Unable to write to " + path);
}

void WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
    IniFile ini = IniFile::loadForUpdate(path);
    ini.write(section, key, value);
    ini.save(path);
}

}  // namespace velmora
