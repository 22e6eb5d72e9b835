#pragma once
#include <string>
#include <vector>

namespace velmora {

// A Windows-style ini file of our own: section and key names match without regard
// to case, values are trimmed and cut at 2047 characters. Lines are kept as read,
// so a save changes only the lines of the keys it wrote.
class IniFile {
public:
    // A missing or unreadable file gives an empty one. Text is converted from
    // Windows-1251 to UTF-8 on reading and back on saving; lines end in CR LF.
    // A file that starts with the UTF-8 byte-order mark is UTF-8, and is saved so, with its mark.
    static IniFile load(const std::string& path);
    // As load, but a file that exists and cannot be read throws ProgramError("Unable to
    // write to <path>"): a save must not replace settings it never saw.
    static IniFile loadForUpdate(const std::string& path);

    // The value, or `fallback` when the section or key is missing. A key present
    // with an empty value gives "".
    std::string read(const std::string& section, const std::string& key,
                     const std::string& fallback) const;
    bool contains(const std::string& section, const std::string& key) const;

    // Replaces the key's value in place; appends the key to its section, or the
    // section to the file, when missing.
    void write(const std::string& section, const std::string& key, const std::string& value);

    // Throws ProgramError("Unable to write to <path>") when the file cannot be written.
    void save(const std::string& path) const;

private:
    void takeText(const std::string& bytes);

    std::vector<std::string> lines_;  // UTF-8, without line ends
    bool utf8_ = false;               // the file on disk is UTF-8 with its mark
};

// Sets one key of the file at `path` in place, keeping every other line, as the
// platform's profile-string writer does. Throws ProgramError("Unable to write to <path>").
void WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);

}  // namespace velmora
