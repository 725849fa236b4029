#include "FileTime.h"

#include <cstdio>

namespace {

constexpr uint64_t TicksPerSecond = 10000000;
constexpr int64_t DaysFrom1601To1970 = 134774;

struct CivilTime {
    int64_t year;
    unsigned month, day, hour, minute, second, ticks;
};

// Days since 1970-01-01 to a proleptic Gregorian date (the era arithmetic of the civil calendar:
// 400-year eras of 146097 days, years counted from March so that the leap day comes last).
void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthFromMarch = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    *month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    *year = static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2 ? 1 : 0);
}

CivilTime Split(uint64_t fileTime) {
    CivilTime t;
    t.ticks = static_cast<unsigned>(fileTime % TicksPerSecond);
    const uint64_t seconds = fileTime / TicksPerSecond;
    const uint64_t secondOfDay = seconds % 86400;
    t.hour = static_cast<unsigned>(secondOfDay / 3600);
    t.minute = static_cast<unsigned>(secondOfDay / 60 % 60);
    t.second = static_cast<unsigned>(secondOfDay % 60);
    CivilFromDays(static_cast<int64_t>(seconds / 86400) - DaysFrom1601To1970, &t.year, &t.month, &t.day);
    return t;
}

}  // namespace

std::string FileTimeToIso8601(uint64_t fileTime) {
    const CivilTime t = Split(fileTime);
    if (t.year > 9999) return {};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02u.%07uZ", static_cast<int>(t.year),
                  t.month, t.day, t.hour, t.minute, t.second, t.ticks);
    return text;
}

std::string FileTimeToTableText(uint64_t fileTime) {
    const CivilTime t = Split(fileTime);
    if (t.year > 9999) return "-";
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u", static_cast<int>(t.year), t.month,
                  t.day, t.hour, t.minute, t.second);
    return text;
}
