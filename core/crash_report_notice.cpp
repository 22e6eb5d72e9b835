#include "core/crash_report_notice.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "platform/crash_reporter.h"

namespace velmora {

namespace {

namespace fs = std::filesystem;

std::string readStart(const std::string& path, std::size_t limit) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes(limit, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(limit));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

bool readNumber(std::string_view text, std::size_t at, std::size_t digits, int& value) {
    if (at + digits > text.size()) return false;
    const char* first = text.data() + at;
    auto [end, error] = std::from_chars(first, first + digits, value);
    return error == std::errc() && end == first + digits;
}

// "YYYY?MM?DD?HH?MM?SS" with any one separator between the parts, or none: the report's "Time:"
// line and the stamp in a report's name.
std::optional<LocalDateTime> parseTime(std::string_view text, bool separated) {
    const std::size_t step = separated ? 1 : 0;
    LocalDateTime when;
    std::size_t at = 0;
    if (!readNumber(text, at, 4, when.year)) return std::nullopt;
    at += 4 + step;
    int* parts[] = {&when.month, &when.day, &when.hour, &when.minute, &when.second};
    for (int* part : parts) {
        if (!readNumber(text, at, 2, *part)) return std::nullopt;
        at += 2 + step;
        if (part == &when.day && !separated) ++at;  // the name's "-" between date and time
    }
    return when;
}

LocalDateTime crashTimeOf(const std::string& path, const std::string& name) {
    std::string head = readStart(path, 512);
    std::size_t line = head.find("\nTime: ");
    if (line != std::string::npos) {
        if (auto when = parseTime(std::string_view(head).substr(line + 7), true)) return *when;
    }
    std::string_view stamp = std::string_view(name).substr(std::string_view(CrashReportPrefix).size());
    return parseTime(stamp, false).value_or(LocalDateTime{});
}

std::string lastShownName(const std::string& markerPath) {
    std::string text = readStart(markerPath, 256);
    return text.substr(0, text.find_first_of("\r\n"));
}

void writeMarker(const std::string& markerPath, const std::string& shownName) {
    std::ofstream marker(markerPath, std::ios::binary | std::ios::trunc);
    marker << shownName << "\r\n";
}

std::optional<PendingCrashReport> findPendingReport(const std::string& folder) {
    const std::string markerPath = folder + CrashNoticeMarkerName;
    std::error_code error;
    const fs::file_time_type previousStart = fs::last_write_time(markerPath, error);
    if (error) {
        writeMarker(markerPath, "");
        return std::nullopt;
    }
    const std::string shownName = lastShownName(markerPath);

    std::optional<PendingCrashReport> newest;
    fs::file_time_type newestTime{};
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(CrashReportPrefix, 0) != 0 || entry.path().extension() != ".txt") continue;
        if (name == shownName) continue;
        std::error_code timeError;
        fs::file_time_type written = entry.last_write_time(timeError);
        if (timeError || written < previousStart) continue;
        if (newest && written <= newestTime) continue;
        newest = PendingCrashReport{folder + name, name, {}};
        newestTime = written;
    }
    if (!newest) {
        writeMarker(markerPath, shownName);
        return std::nullopt;
    }
    newest->crashTime = crashTimeOf(newest->path, newest->name);
    return newest;
}

}  // namespace

std::optional<PendingCrashReport> takePendingCrashReport(const std::string& folder) {
    try {
        return findPendingReport(folder);
    } catch (const std::exception&) {
        return std::nullopt;  // a folder that cannot be listed holds no report to tell about
    }
}

void markCrashReportShown(const std::string& folder, const PendingCrashReport& report) {
    writeMarker(folder + CrashNoticeMarkerName, report.name);
}

}  // namespace velmora
