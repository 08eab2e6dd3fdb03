#include "platform/clock.h"

#include <time.h>

namespace vellora {

LocalDateTime SystemClock::Now() const {
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::chrono::steady_clock::time_point SystemClock::SteadyNow() const {
  return std::chrono::steady_clock::now();
}

FixedClock::FixedClock(LocalDateTime now) : now_(now) {}

LocalDateTime FixedClock::Now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

std::chrono::steady_clock::time_point FixedClock::SteadyNow() const {
  std::lock_guard lock(mutex_);
  return steady_;
}

void FixedClock::Set(LocalDateTime now) {
  std::lock_guard lock(mutex_);
  now_ = now;
}

void FixedClock::AdvanceSteady(std::chrono::steady_clock::duration by) {
  std::lock_guard lock(mutex_);
  steady_ += by;
}

bool IsValidDate(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::int64_t DaysFromCivil(int year, int month, int day) {
  // Howard Hinnant's days_from_civil.
  const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t mp = (month + 9) % 12;
  const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int DayOfWeek(int year, int month, int day) {
  const std::int64_t days = DaysFromCivil(year, month, day);  // 1970-01-01 was a Thursday
  return static_cast<int>(((days % 7) + 7 + 4) % 7);
}

LocalDateTime TextToDateTime(const Text& text) {
  const std::string& s = text.Bytes();
  int fields[6] = {0, 0, 0, 0, 0, 0};
  int count = 0;
  std::size_t i = 0;
  while (count < 6) {
    const std::size_t start = i;
    int value = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 4)
      value = value * 10 + (s[i++] - '0');
    const std::size_t digits = i - start;
    if (digits == 0 || digits > (count == 0 ? 4u : 2u)) return kEarliestDateTime;
    fields[count++] = value;
    if (i == s.size()) break;
    if (s[i] != '-') return kEarliestDateTime;
    ++i;
  }
  if (i != s.size() || (count != 3 && count != 6)) return kEarliestDateTime;
  const LocalDateTime result{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]};
  if (result.year < 100 || !IsValidDate(result.year, result.month, result.day) ||
      result.hour > 23 || result.minute > 59 || result.second > 59) {
    return kEarliestDateTime;
  }
  return result;
}

std::int64_t DaysBetween(const LocalDateTime& from, const LocalDateTime& to) {
  auto seconds = [](const LocalDateTime& t) {
    return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
  };
  return (seconds(to) - seconds(from)) / 86400;  // C++ division truncates toward zero
}

Text TodayText(const LocalDateTime& now) {
  const Text dash = Text::FromGbk("-");
  return IntegerText(now.year) + dash + IntegerText(now.month) + dash + IntegerText(now.day);
}

const Text& WeekdayName(int day_of_week) {
  static const Text* const kNames[] = {&"星期日"_gbk, &"星期一"_gbk, &"星期二"_gbk, &"星期三"_gbk,
                                       &"星期四"_gbk, &"星期五"_gbk, &"星期六"_gbk};
  return *kNames[((day_of_week % 7) + 7) % 7];
}

}  // namespace vellora
