#pragma once
// Time is injected so that tests can run a whole day in milliseconds.
#include <cstdint>
#include <string>

namespace ristova {

struct Date {
    int year = 2000;
    int month = 1;
    int day = 1;

    // 1 = Sunday ... 7 = Saturday.
    int DayOfWeek() const;
    Date AddDays(int days) const;
    bool IsValid() const;
    // Days since 1970-01-01 (proleptic Gregorian).
    long long DaysSinceEpoch() const;
    auto operator<=>(const Date&) const = default;
};

struct LocalDateTime {
    Date date;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// A local time on one line of milliseconds since 1970-01-01 00:00 local:
// for intervals of a few seconds, where a clock that steps only makes one
// of them short or long.
long long LocalMilliseconds(const LocalDateTime& t);

class IClock {
public:
    virtual ~IClock() = default;
    virtual LocalDateTime Now() = 0;
};

class ISleeper {
public:
    virtual ~ISleeper() = default;
    virtual void SleepMs(int milliseconds) = 0;
};

// The local wall clock.
class SystemClock : public IClock {
public:
    LocalDateTime Now() override;
};

class SystemSleeper : public ISleeper {
public:
    void SleepMs(int milliseconds) override;
};

}  // namespace ristova
