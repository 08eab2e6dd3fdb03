#pragma once

// The routes in data.dat, one INI section per route named by its id, and the refresh
// interval in Refresh_time.dat. The files are the state: nothing is kept between calls.

#include <cstdint>
#include <filesystem>

#include "platform/clock.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace vellora {

// Columns of the monitor list.
enum MonitorListColumn : int {
  kColumnRouteId = 0,
  kColumnFromCity = 1,
  kColumnToCity = 2,
  kColumnDate = 3,
  kColumnTargetPrice = 4,
  kColumnAlertMode = 5,
  kColumnLowestFare = 6,
  kColumnBelowTarget = 7,
};

// Keys of a route's section, and of Refresh_time.dat.
const Text& KeyFromCity();     // 出发城市
const Text& KeyToCity();       // 到达城市
const Text& KeyDate();         // 出发日期
const Text& KeyTargetPrice();  // 心理价位
const Text& KeyAlertMode();    // 提示方式

// Refresh_time.dat beside a store file.
std::filesystem::path RefreshTimePath(const std::filesystem::path& store_path);

// The stored refresh interval in whole minutes; 0 when missing or not a number.
std::int32_t ReadRefreshMinutes(const std::filesystem::path& refresh_time_path);
// The refresh timer's period for an interval. A negative interval stops the timer, as none does.
int RefreshPeriodMs(std::int32_t refresh_minutes);

// What the summary panel shows of one row of the monitor list.
struct RouteSummary {
  Text route;  // departure city "-" arrival city
  Text date;
  Text id;
};
RouteSummary SummaryOfRow(const ListView& list, int row);

class RouteStore {
 public:
  RouteStore(const Clock& clock, EventPump& pump) : clock_(clock), pump_(pump) {}

  void AddRoute(const std::filesystem::path& store_path, const Text& from_city, const Text& to_city,
                const Text& date, const Text& target_price, const Text& alert_mode,
                const Text& refresh_minutes) const;
  // Rebuilds the list from the file, dropping expired routes from the file for good.
  void LoadRoutes(const std::filesystem::path& store_path, ListView& list) const;
  bool IsExpired(const Text& date) const;
  void UpdateRoute(const std::filesystem::path& store_path, const Text& route_id,
                   const Text& from_city, const Text& to_city, const Text& date,
                   const Text& target_price, const Text& alert_mode,
                   const Text& refresh_minutes) const;
  void DeleteRoute(const std::filesystem::path& store_path, const std::filesystem::path& below_path,
                   const Text& route_id) const;

 private:
  void WriteRoute(const std::filesystem::path& store_path, const Text& route_id,
                  const Text& from_city, const Text& to_city, const Text& date,
                  const Text& target_price, const Text& alert_mode,
                  const Text& refresh_minutes) const;

  const Clock& clock_;
  EventPump& pump_;
};

}  // namespace vellora
