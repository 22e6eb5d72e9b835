#include "terminal/link_request.h"

#include <cstdio>

#include "platform/file_replace.h"
#include "platform/text_encoding.h"
#include "settings/normalized_text.h"

namespace velmora {

std::vector<LinkInstrumentName> ParseInstrumentList(const std::string& text, std::vector<std::string>& rejected) {
    std::vector<LinkInstrumentName> names;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string_view item =
            TrimmedText(std::string_view(text).substr(start, comma - start), Blank::SpaceOrTab);
        start = comma + 1;
        if (item.empty()) continue;
        const std::size_t colon = item.find(':');
        LinkInstrumentName name;
        if (colon != std::string_view::npos) {
            name.classCode = std::string(TrimmedText(item.substr(0, colon), Blank::SpaceOrTab));
            name.ticker = std::string(TrimmedText(item.substr(colon + 1), Blank::SpaceOrTab));
        }
        // The script's fields and the request's list separators may not appear inside a name.
        const bool clean = name.ticker.find_first_of(":\t\r\n") == std::string::npos;
        bool repeated = false;
        for (const LinkInstrumentName& known : names) repeated = repeated || known == name;
        if (name.classCode.empty() || name.ticker.empty() || !clean || repeated) {
            rejected.emplace_back(item);
            continue;
        }
        names.push_back(std::move(name));
    }
    return names;
}

bool LinkRequestFile::update(const std::string& run, const std::string& streamPath,
                             const std::vector<LinkInstrumentName>& wanted, const std::string& commands,
                             std::string& error) {
    std::string text = "velmora-link 2\r\nrun=" + run + "\r\nstream=" + streamPath + "\r\nwant=";
    for (std::size_t i = 0; i < wanted.size(); ++i)
        text += (i ? "," : "") + wanted[i].classCode + ":" + wanted[i].ticker;
    text += "\r\ncommands=" + commands + "\r\n";
    if (text == written_) return true;

    const std::string temporary = path_ + ".new";
    const std::string bytes = utf8ToCp1251(text);
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    bool ok = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file && std::fclose(file) != 0) ok = false;
    if (ok && !replaceFile(temporary, path_)) ok = false;
    if (!ok) {
        std::remove(temporary.c_str());
        error = "cannot write the request file " + path_;
        return false;
    }
    written_ = std::move(text);
    return true;
}

void LinkRequestFile::remove() {
    std::remove(path_.c_str());
    written_.clear();
}

}  // namespace velmora
