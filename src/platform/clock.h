#pragma once

// Local date and time, and a monotonic clock for deadlines, behind one interface so tests can
// fix "now".

#include <chrono>
#include <cstdint>
#include <mutex>

#include "platform/text.h"

namespace vellora {

struct LocalDateTime {
  int year = 100;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime Now() const = 0;
  // For deadlines: never jumps with the wall clock.
  virtual std::chrono::steady_clock::time_point SteadyNow() const = 0;
};

class SystemClock final : public Clock {
 public:
  LocalDateTime Now() const override;
  std::chrono::steady_clock::time_point SteadyNow() const override;
};

// A clock that shows what it is told; both times move only when the test moves them.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(LocalDateTime now = {2013, 1, 11, 9, 5, 3});
  LocalDateTime Now() const override;
  std::chrono::steady_clock::time_point SteadyNow() const override;
  void Set(LocalDateTime now);
  void AdvanceSteady(std::chrono::steady_clock::duration by);

 private:
  mutable std::mutex mutex_;
  LocalDateTime now_;
  std::chrono::steady_clock::time_point steady_;
};

// The earliest date a date text can stand for; invalid texts convert to it.
inline constexpr LocalDateTime kEarliestDateTime{100, 1, 1, 0, 0, 0};

bool IsValidDate(int year, int month, int day);
// Days since 1970-01-01 of a proleptic Gregorian date (valid or not).
std::int64_t DaysFromCivil(int year, int month, int day);
// 0 Sunday .. 6 Saturday.
int DayOfWeek(int year, int month, int day);

// Converts "year-month-day" or "year-month-day-hour-minute-second" (decimal fields of up to
// four digits for the year and two for the others) to a date and time. A text that does not
// form a valid date and time in the years 100 to 9999, the empty text included, gives
// kEarliestDateTime.
LocalDateTime TextToDateTime(const Text& text);

// Whole days from `from` to `to`, truncated toward zero.
std::int64_t DaysBetween(const LocalDateTime& from, const LocalDateTime& to);

// The date as year-month-day with no leading zeros: 2013-1-11.
Text TodayText(const LocalDateTime& now);
// 星期日 .. 星期六 for 0 (Sunday) .. 6.
const Text& WeekdayName(int day_of_week);

}  // namespace vellora
