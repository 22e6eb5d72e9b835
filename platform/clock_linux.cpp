#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <cstdio>
#include <string>

#include "platform/clock.h"

namespace velmora {

namespace {

class SystemClock : public Clock {
public:
    LocalDateTime now() override {
        timespec stamp{};
        clock_gettime(CLOCK_REALTIME, &stamp);
        tm local{};
        localtime_r(&stamp.tv_sec, &local);
        return LocalDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min,         local.tm_sec,     static_cast<int>(stamp.tv_nsec / 1000000)};
    }
};

bool contains(const char* text, const char* part) {
    return text != nullptr && std::string(text).find(part) != std::string::npos;
}

class SystemLocaleFormats : public LocaleFormats {
public:
    SystemLocaleFormats() {
        locale_ = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
        // An unknown locale in the environment leaves the plain C conventions.
        if (locale_ == static_cast<locale_t>(0)) locale_ = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        if (locale_ == static_cast<locale_t>(0)) return;

        const char* radix = nl_langinfo_l(RADIXCHAR, locale_);
        // A separator outside ASCII cannot be one char of our texts.
        if (radix != nullptr && radix[0] != '\0' && static_cast<unsigned char>(radix[0]) < 0x80 && radix[1] == '\0')
            decimal_ = radix[0];

        const char* timeFormat = nl_langinfo_l(T_FMT, locale_);
        std::string format = timeFormat != nullptr ? timeFormat : "";
        std::size_t hours = format.find("%H");
        if (hours == std::string::npos) hours = format.find("%I");
        if (hours != std::string::npos && hours + 2 < format.size() && format[hours + 2] != '%' &&
            static_cast<unsigned char>(format[hours + 2]) < 0x80)
            time_ = format[hours + 2];

        const char* dateFormat = nl_langinfo_l(D_FMT, locale_);
        useLocaleText_ = dateFormat != nullptr && dateFormat[0] != '\0' &&
                         (contains(timeFormat, "%S") || contains(timeFormat, "%T") || contains(timeFormat, "%r"));
    }

    ~SystemLocaleFormats() override {
        if (locale_ != static_cast<locale_t>(0)) freelocale(locale_);
    }

    SystemLocaleFormats(const SystemLocaleFormats&) = delete;
    SystemLocaleFormats& operator=(const SystemLocaleFormats&) = delete;

    char decimalSeparator() const override { return decimal_; }
    char timeSeparator() const override { return time_; }

    std::string formatDateTime(const LocalDateTime& when) const override {
        if (useLocaleText_) {
            tm fields{};
            fields.tm_year = when.year - 1900;
            fields.tm_mon = when.month - 1;
            fields.tm_mday = when.day;
            fields.tm_hour = when.hour;
            fields.tm_min = when.minute;
            fields.tm_sec = when.second;
            fields.tm_isdst = -1;
            char text[128];
            std::size_t length = strftime_l(text, sizeof text, "%x %X", &fields, locale_);
            if (length > 0) return std::string(text, length);
        }
        char text[64];
        std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", when.day, when.month, when.year,
                      when.hour, when.minute, when.second);
        return text;
    }

private:
    locale_t locale_ = static_cast<locale_t>(0);
    char decimal_ = '.';
    char time_ = ':';
    bool useLocaleText_ = false;
};

}  // namespace

std::unique_ptr<Clock> makeSystemClock() { return std::make_unique<SystemClock>(); }

std::unique_ptr<LocaleFormats> makeSystemLocaleFormats() { return std::make_unique<SystemLocaleFormats>(); }

}  // namespace velmora
