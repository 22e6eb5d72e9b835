#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace velmora {

class IniFile;
class InfoPanel;

// A daily window of time with a text shown while the time of day is inside it.
struct TAlarmItem {
    double StartTime = 0;  // fraction of a day
    double EndTime = 0;
    std::string Text;

    bool IsActive(const LocalDateTime& now) const;
};

class TAlarms {
public:
    std::vector<std::unique_ptr<TAlarmItem>> items;
    std::string ActiveText;

    int Count() const { return static_cast<int>(items.size()); }
    void Clear() { items.clear(); }
    bool FindActive(const LocalDateTime& now);
};

// Reads ALARM1, ALARM2 ... of section ALARMS until the first missing or empty key.
// Throws ProgramError on a time that cannot be read; alarms before it stay.
void LoadAlarms(const IniFile& ini, TAlarms& alarms);

// The tick's display step: blinks the active alarm in pnlInfo (`blinkTicks` ticks hidden,
// as many shown) and hides the panel when the alarm's window has ended.
void ShowAlarm(TAlarms& alarms, const LocalDateTime& now, std::uint32_t CycleNum, std::uint32_t blinkTicks,
               std::string& LastAlarmText, InfoPanel& view);

}  // namespace velmora
