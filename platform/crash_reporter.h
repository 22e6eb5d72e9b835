#pragma once
#include <cstddef>
#include <string>

namespace velmora {

// Reports go into one folder as Velmora-crash-YYYYMMDD-HHMMSS.txt (and .dmp on Windows). The time in the
// name is the start-up time, taken once at install, so that the handler formats no name.
struct CrashReporterSettings {
    std::string folder;  // with its trailing separator
    std::string programVersion;
};

inline constexpr const char* CrashReportPrefix = "Velmora-crash-";

// Installs the process-wide handlers for faults and for std::terminate. Call once, first thing in main:
// they cover every thread of the process, including those that libraries start later. At most one report
// is written per run; afterwards the process ends as it would have without the handlers.
void installCrashReporter(const CrashReporterSettings& settings);

// The report this run would write (the .txt), empty before install.
std::string crashReportPath();

// "type: what()" of the exception being handled, or a note that there is none. For terminate handlers;
// writes at most capacity - 1 characters and a terminating zero.
void describeCurrentException(char* text, std::size_t capacity);

}  // namespace velmora
