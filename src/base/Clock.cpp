#include "base/Clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace ristova {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's rule).
long long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

Date CivilFromDays(long long z) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return Date{static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

}  // namespace

int Date::DayOfWeek() const {
    // 1970-01-01 was a Thursday (5 in 1 = Sunday counting).
    long long days = DaysFromCivil(year, month, day);
    long long wd = (days + 4) % 7;  // 0 = Sunday
    if (wd < 0) wd += 7;
    return static_cast<int>(wd) + 1;
}

Date Date::AddDays(int days) const { return CivilFromDays(DaysFromCivil(year, month, day) + days); }

long long Date::DaysSinceEpoch() const {
    return DaysFromCivil(year, month, day);
}

long long LocalMilliseconds(const LocalDateTime& t) {
    return ((t.date.DaysSinceEpoch() * 24 + t.hour) * 3600LL + t.minute * 60LL + t.second) * 1000LL +
           t.millisecond;
}

bool Date::IsValid() const {
    if (month < 1 || month > 12 || day < 1) return false;
    return CivilFromDays(DaysFromCivil(year, month, day)) == *this;
}

LocalDateTime SystemClock::Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    LocalDateTime t;
    t.date = Date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second counts as :59
    t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return t;
}

void SystemSleeper::SleepMs(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace ristova
