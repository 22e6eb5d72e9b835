#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/clock.h"

namespace velmora {

namespace {

class SystemClock : public Clock {
public:
    LocalDateTime now() override {
        SYSTEMTIME local{};
        GetLocalTime(&local);
        return LocalDateTime{local.wYear, local.wMonth,  local.wDay,         local.wHour,
                             local.wMinute, local.wSecond, local.wMilliseconds};
    }
};

char localeCharacter(LCTYPE item, char fallback) {
    char text[8] = {};
    int length = GetLocaleInfoA(LOCALE_USER_DEFAULT, item, text, sizeof text);
    // A separator outside ASCII or longer than one character cannot be one char of our texts.
    if (length != 2 || static_cast<unsigned char>(text[0]) >= 0x80) return fallback;
    return text[0];
}

// The wide forms, so a date with letters of the user's language arrives intact as UTF-8
// whatever the ANSI code page.
std::string toUtf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size - 1));
    return result;
}

class SystemLocaleFormats : public LocaleFormats {
public:
    SystemLocaleFormats()
        : decimal_(localeCharacter(LOCALE_SDECIMAL, '.')), time_(localeCharacter(LOCALE_STIME, ':')) {}

    char decimalSeparator() const override { return decimal_; }
    char timeSeparator() const override { return time_; }

    std::string formatDateTime(const LocalDateTime& when) const override {
        SYSTEMTIME fields{};
        fields.wYear = static_cast<WORD>(when.year);
        fields.wMonth = static_cast<WORD>(when.month);
        fields.wDay = static_cast<WORD>(when.day);
        fields.wHour = static_cast<WORD>(when.hour);
        fields.wMinute = static_cast<WORD>(when.minute);
        fields.wSecond = static_cast<WORD>(when.second);
        fields.wMilliseconds = static_cast<WORD>(when.millisecond);
        wchar_t date[128] = {};
        wchar_t time[128] = {};
        if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &fields, nullptr, date, 128) > 0 &&
            GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &fields, nullptr, time, 128) > 0)
            return toUtf8(date) + " " + toUtf8(time);
        char text[64];
        std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", when.day, when.month, when.year,
                      when.hour, when.minute, when.second);
        return text;
    }

private:
    char decimal_;
    char time_;
};

}  // namespace

std::unique_ptr<Clock> makeSystemClock() { return std::make_unique<SystemClock>(); }

std::unique_ptr<LocaleFormats> makeSystemLocaleFormats() { return std::make_unique<SystemLocaleFormats>(); }

}  // namespace velmora
