#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace velmora {

// Whether a line goes after the file's lines or starts the file over.
enum class LineWrite { Append, StartOver };

// Writes `line` and CR LF to `path` in Windows-1251: appends, or starts the file when asked to or when it
// is new. Every failure goes to `report` as "error appending|rewriting|writing|closing message " + `message`;
// answers whether the line reached the file intact.
bool WriteLineToFile(const std::string& path, std::string_view line, LineWrite write, std::string_view message,
                     const std::function<void(const std::string&)>& report);

}  // namespace velmora
