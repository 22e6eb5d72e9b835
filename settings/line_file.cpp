#include "settings/line_file.h"

#include <cstdio>
#include <filesystem>

#include "platform/text_encoding.h"

namespace velmora {

bool WriteLineToFile(const std::string& path, std::string_view line, LineWrite write, std::string_view message,
                     const std::function<void(const std::string&)>& report) {
    const std::string text(message);
    std::error_code ignored;
    bool existed = std::filesystem::exists(path, ignored);
    std::FILE* file = std::fopen(path.c_str(), (write == LineWrite::StartOver || !existed) ? "wb" : "ab");
    bool ok = file != nullptr;
    if (!file) report((existed ? "error appending message " : "error rewriting message ") + text);

    std::string bytes = utf8ToCp1251(line) + "\r\n";
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        ok = false;
        report("error writing message " + text);
    }
    if (!file || std::fclose(file) != 0) {
        ok = false;
        report("error closing message " + text);
    }
    return ok;
}

}  // namespace velmora
