#include "platform/clock.h"

namespace velmora {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long daysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

}  // namespace

double toDayCount(const LocalDateTime& when) {
    const long long epoch = daysFromCivil(1899, 12, 30);
    const long long days = daysFromCivil(when.year, static_cast<unsigned>(when.month),
                                         static_cast<unsigned>(when.day)) - epoch;
    const double milliseconds =
        ((when.hour * 60.0 + when.minute) * 60.0 + when.second) * 1000.0 + when.millisecond;
    return static_cast<double>(days) + milliseconds / 86400000.0;
}

}  // namespace velmora
