#include "core/crash_report_notice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "support/fakes.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::TempFolder;

// Writes a report and dates it relative to the marker, the previous start.
std::string writeReport(const TempFolder& folder, const std::string& stamp, fs::file_time_type written,
                        const std::string& body = "") {
    std::string path = folder.file(std::string("Velmora-crash-") + stamp + ".txt");
    testing::writeFile(path, "Velmora crash report\r\nVersion: 1.0.0\r\n" + body);
    fs::last_write_time(path, written);
    return path;
}

// Moves the previous start an hour back, so that the reports dated after it are still in the past.
fs::file_time_type previousStart(const TempFolder& folder) {
    const std::string marker = folder.file(CrashNoticeMarkerName);
    fs::last_write_time(marker, fs::last_write_time(marker) - 1h);
    return fs::last_write_time(marker);
}

TEST(CrashReportNoticeTest, ReportsFromBeforeTheFirstKnownStartAreOld) {
    TempFolder folder;
    writeReport(folder, "20261201-100000", fs::file_time_type::clock::now() - 1h);
    EXPECT_FALSE(takePendingCrashReport(folder.path()));
    EXPECT_FALSE(takePendingCrashReport(folder.path()));
}

TEST(CrashReportNoticeTest, NewestReportSinceThePreviousStartIsShownOnce) {
    TempFolder folder;
    EXPECT_FALSE(takePendingCrashReport(folder.path()));
    const fs::file_time_type started = previousStart(folder);
    writeReport(folder, "20261207-090000", started - 1s);  // older than the previous start
    writeReport(folder, "20261208-093000", started + 1s, "Time: 2026-12-08 09:31:07 (UTC+03:00)\r\n");
    std::string newest = writeReport(folder, "20261208-094000", started + 2s, "Time: 2026-12-08 09:45:59\r\n");
    testing::writeFile(folder.file("Velmora-crash-20261208-094000.dmp"), "MDMP");
    fs::last_write_time(folder.file("Velmora-crash-20261208-094000.dmp"), started + 3s);

    auto report = takePendingCrashReport(folder.path());
    ASSERT_TRUE(report);
    EXPECT_EQ(report->path, newest);
    EXPECT_EQ(report->crashTime.hour, 9);
    EXPECT_EQ(report->crashTime.minute, 45);
    EXPECT_EQ(report->crashTime.second, 59);
    // Not yet shown (the run ended before the box): still pending at the next start.
    ASSERT_TRUE(takePendingCrashReport(folder.path()));

    markCrashReportShown(folder.path(), *report);
    EXPECT_FALSE(takePendingCrashReport(folder.path()));
    EXPECT_FALSE(takePendingCrashReport(folder.path()));
}

TEST(CrashReportNoticeTest, ReportWithoutATimeLineIsDatedByItsName) {
    TempFolder folder;
    EXPECT_FALSE(takePendingCrashReport(folder.path()));
    writeReport(folder, "20261208-071502", previousStart(folder) + 1s, "cut short");
    auto report = takePendingCrashReport(folder.path());
    ASSERT_TRUE(report);
    EXPECT_EQ(report->crashTime.year, 2026);
    EXPECT_EQ(report->crashTime.day, 8);
    EXPECT_EQ(report->crashTime.hour, 7);
    EXPECT_EQ(report->crashTime.second, 2);
}

TEST(CrashReportNoticeTest, MissingFolderHasNothingPending) {
    EXPECT_FALSE(takePendingCrashReport("/nonexistent-velmora-folder/"));
}

}  // namespace
}  // namespace velmora
