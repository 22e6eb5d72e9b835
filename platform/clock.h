#pragma once
#include <memory>
#include <string>

namespace velmora {

struct LocalDateTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Days since 1899-12-30 with the time of day as fraction: the terminal's date-time unit.
double toDayCount(const LocalDateTime& when);

class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalDateTime now() = 0;
};

// The user's locale: how dates, times and numbers are shown.
class LocaleFormats {
public:
    virtual ~LocaleFormats() = default;
    virtual char decimalSeparator() const = 0;
    virtual char timeSeparator() const = 0;
    // Short date then long time, e.g. "08.12.2026 09:30:05".
    virtual std::string formatDateTime(const LocalDateTime& when) const = 0;
};

std::unique_ptr<Clock> makeSystemClock();
std::unique_ptr<LocaleFormats> makeSystemLocaleFormats();

}  // namespace velmora
