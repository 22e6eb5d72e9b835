#pragma once
#include <optional>
#include <string>

#include "platform/clock.h"

namespace velmora {

// A crash report of an earlier run that the user has not been told about yet.
struct PendingCrashReport {
    std::string path;
    std::string name;
    LocalDateTime crashTime;  // as the report records it; the run's start time when it records none
};

// Beside the reports: its name is the last report shown, its modification time the last start.
inline constexpr const char* CrashNoticeMarkerName = "Velmora-crash.shown";

// The newest report in the folder written since the previous start and not shown before. When there is
// none, records this start; otherwise the start is recorded when the report is marked shown, so a run
// that ends before it tells the user leaves the report pending. No marker yet means no earlier start
// is known: the reports found then are old.
std::optional<PendingCrashReport> takePendingCrashReport(const std::string& folder);

void markCrashReportShown(const std::string& folder, const PendingCrashReport& report);

}  // namespace velmora
