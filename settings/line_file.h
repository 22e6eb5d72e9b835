#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace velmora {

// Writes `line` and CR LF to `path` in Windows-1251: appends, or starts the file when `rewrite` is set or it
// is new. Every failure goes to `report` as "error appending|rewriting|writing|closing message " + `message`;
// answers whether the line reached the file intact.
bool WriteLineToFile(const std::string& path, std::string_view line, bool rewrite, std::string_view message,
                     const std::function<void(const std::string&)>& report);

}  // namespace velmora
