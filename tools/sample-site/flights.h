#pragma once

// The sample site's timetable: made-up but plausible flights for any pair of the cities the
// route editor offers, with fares that are the same for a route and date at a given minute and
// drift slowly over the hours, so a running program sees prices move.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellora::sample_site {

struct Flight {
  std::string airline;            // short Chinese name, UTF-8: "东航"
  std::string number;             // "MU5138"
  int departure_minute = 0;       // minutes after midnight
  int arrival_minute = 0;         // may pass midnight; shown modulo a day
  std::string departure_airport;  // "首都T3"
  std::string arrival_airport;
  int price = 0;      // yuan, a multiple of 10
  int full_fare = 0;  // the economy full fare the discount is taken from
};

// True for the cities of the route editor's city picker (UTF-8, surrounding blanks ignored).
bool IsKnownCity(std::string_view city);

// A date of eight digits (yyyymmdd) that exists in the calendar.
bool IsValidCompactDate(std::string_view date);

// The flights of a route on a date (cities in UTF-8, date as yyyymmdd), cheapest first.
// Unknown cities, the same city at both ends and invalid dates have none. `count` >= 0 asks for
// exactly that many flights on any pair of non-empty, different names.
std::vector<Flight> FlightsFor(std::string_view begin, std::string_view end, std::string_view date,
                               std::chrono::system_clock::time_point now, int count = -1);

// "07:05"
std::string ClockText(int minute_of_day);

// The text of a discount as the site shows it in brackets: "4.5折", or "全价".
std::string DiscountText(int price, int full_fare);

// FNV-1a, for deterministic choices.
std::uint64_t Fnv1a(std::string_view bytes, std::uint64_t seed = 14695981039346656037ull);

}  // namespace vellora::sample_site
