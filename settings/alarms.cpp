#include "settings/alarms.h"

#include <cmath>
#include <string>

#include "settings/info_panel.h"
#include "platform/text_encoding.h"
#include "settings/ini_file.h"
#include "settings/program_error.h"

namespace velmora {

namespace {

constexpr double millisecondsPerDay = 86400000.0;

// Start, end and now are all built by this one formula, so a time of day exactly on
// a window's edge compares equal to it rather than a rounding error away.
double timeOfDay(int hour, int minute, int second, int millisecond) {
    return ((hour * 60 + minute) * 60 + second) * 1000.0 + millisecond;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "hh:mm", two digits each.
double parseTime(const std::string& text) {
    bool valid = text.size() == 5 && isDigit(text[0]) && isDigit(text[1]) && text[2] == ':' &&
                 isDigit(text[3]) && isDigit(text[4]);
    int hour = valid ? (text[0] - '0') * 10 + (text[1] - '0') : 0;
    int minute = valid ? (text[3] - '0') * 10 + (text[4] - '0') : 0;
    if (!valid || hour > 23 || minute > 59) throw ProgramError("'" + text + "' is not a valid time");
    return timeOfDay(hour, minute, 0, 0) / millisecondsPerDay;
}

double fraction(double value) { return value - std::floor(value); }

}  // namespace

bool TAlarmItem::IsActive(const LocalDateTime& now) const {
    double t = timeOfDay(now.hour, now.minute, now.second, now.millisecond) / millisecondsPerDay;
    return fraction(StartTime) < t && fraction(EndTime) > t;
}

bool TAlarms::FindActive(const LocalDateTime& now) {
    for (const auto& item : items) {
        if (item->IsActive(now)) {
            ActiveText = item->Text;
            return true;
        }
    }
    return false;
}

void LoadAlarms(const IniFile& ini, TAlarms& alarms) {
    for (int n = 1;; ++n) {
        std::string value = ini.read("ALARMS", "ALARM" + std::to_string(n), "");
        if (value.empty()) return;
        // Positions count characters of the file, which are single bytes there.
        std::string bytes = utf8ToCp1251(value);
        auto field = [&bytes](std::size_t from, std::size_t count) {
            return from < bytes.size() ? bytes.substr(from, count) : std::string();
        };
        auto item = std::make_unique<TAlarmItem>();
        item->StartTime = parseTime(cp1251ToUtf8(field(0, 5)));
        item->EndTime = parseTime(cp1251ToUtf8(field(6, 5)));
        item->Text = cp1251ToUtf8(field(11, std::string::npos));
        alarms.items.push_back(std::move(item));
    }
}

void ShowAlarm(TAlarms& alarms, const LocalDateTime& now, std::uint32_t CycleNum, std::uint32_t blinkTicks,
               std::string& LastAlarmText, InfoPanel& view) {
    if (alarms.FindActive(now)) {
        LastAlarmText = alarms.ActiveText;
        // It blinks: between its showings the panel says what it said before.
        if (CycleNum % (2 * blinkTicks) < blinkTicks)
            view.withdraw(PanelKind::Alarm);
        else
            view.post(PanelKind::Alarm, LastAlarmText);
    } else {
        view.withdraw(PanelKind::Alarm);
    }
}

}  // namespace velmora
