#include "routes/route_store.h"

#include <cstdint>

#include "platform/ini.h"

namespace vellora {

const Text& KeyFromCity() { return "出发城市"_gbk; }
const Text& KeyToCity() { return "到达城市"_gbk; }
const Text& KeyDate() { return "出发日期"_gbk; }
const Text& KeyTargetPrice() { return "心理价位"_gbk; }
const Text& KeyAlertMode() { return "提示方式"_gbk; }

std::filesystem::path RefreshTimePath(const std::filesystem::path& store_path) {
  return store_path.parent_path() / "Refresh_time.dat";
}

std::int32_t ReadRefreshMinutes(const std::filesystem::path& refresh_time_path) {
  return TextToInt(
      ReadIniKey(refresh_time_path, Text::FromGbk("Refresh_time"), Text::FromGbk("time")));
}

int RefreshPeriodMs(std::int32_t refresh_minutes) {
  const std::int64_t period = static_cast<std::int64_t>(refresh_minutes) * 60000;
  if (period <= 0) return 0;
  return period > INT32_MAX ? INT32_MAX : static_cast<int>(period);
}

RouteSummary SummaryOfRow(const ListView& list, int row) {
  return {list.Cell(row, kColumnFromCity) + Text::FromGbk("-") + list.Cell(row, kColumnToCity),
          list.Cell(row, kColumnDate), list.Cell(row, kColumnRouteId)};
}

namespace {

Text TwoDigits(int value) { return RightBytes(Text::FromGbk("00") + IntegerText(value), 2); }

// Counts the loads begun on the GUI thread. A load that dispatches events may find, when the
// dispatch returns, that a nested handler has rebuilt the list with a load of its own; the
// outer load then stops, since carrying on would append its routes a second time.
int load_generation = 0;

}  // namespace

void RouteStore::WriteRoute(const std::filesystem::path& store_path, const Text& route_id,
                            const Text& from_city, const Text& to_city, const Text& date,
                            const Text& target_price, const Text& alert_mode,
                            const Text& refresh_minutes) const {
  // The five keys land in one write, so a crash never leaves half a route behind.
  WriteIniKeys(store_path, route_id,
               {{KeyFromCity(), from_city},
                {KeyToCity(), to_city},
                {KeyDate(), date},
                {KeyTargetPrice(), target_price},
                {KeyAlertMode(), alert_mode}});
  WriteIniKey(RefreshTimePath(store_path), Text::FromGbk("Refresh_time"), Text::FromGbk("time"),
              refresh_minutes);
}

void RouteStore::AddRoute(const std::filesystem::path& store_path, const Text& from_city,
                          const Text& to_city, const Text& date, const Text& target_price,
                          const Text& alert_mode, const Text& refresh_minutes) const {
  const LocalDateTime now = clock_.Now();
  const Text route_id = TwoDigits(now.month) + TwoDigits(now.day) + TwoDigits(now.hour) +
                        TwoDigits(now.minute) + TwoDigits(now.second);
  WriteRoute(store_path, route_id, from_city, to_city, date, target_price, alert_mode,
             refresh_minutes);
}

void RouteStore::UpdateRoute(const std::filesystem::path& store_path, const Text& route_id,
                             const Text& from_city, const Text& to_city, const Text& date,
                             const Text& target_price, const Text& alert_mode,
                             const Text& refresh_minutes) const {
  WriteRoute(store_path, route_id, from_city, to_city, date, target_price, alert_mode,
             refresh_minutes);
}

void RouteStore::LoadRoutes(const std::filesystem::path& store_path, ListView& list) const {
  const int generation = ++load_generation;
  const std::vector<Text> route_ids = ListIniSections(store_path);
  list.DeleteAllRows();
  for (const Text& route_id : route_ids) {
    if (generation != load_generation) return;
    if (IsExpired(ReadIniKey(store_path, route_id, KeyDate()))) {
      DeleteIniSection(store_path, route_id);
      pump_.ProcessPendingEvents();
      continue;
    }
    // Each cell is read afresh: a handler that ran during the last dispatch may have
    // changed the file.
    const int row = list.AppendRow(route_id);
    list.SetCell(row, kColumnFromCity, ReadIniKey(store_path, route_id, KeyFromCity()));
    list.SetCell(row, kColumnToCity, ReadIniKey(store_path, route_id, KeyToCity()));
    list.SetCell(row, kColumnDate, ReadIniKey(store_path, route_id, KeyDate()));
    list.SetCell(row, kColumnTargetPrice, ReadIniKey(store_path, route_id, KeyTargetPrice()));
    list.SetCell(row, kColumnAlertMode, ReadIniKey(store_path, route_id, KeyAlertMode()));
    pump_.ProcessPendingEvents();
  }
}

bool RouteStore::IsExpired(const Text& date) const {
  const LocalDateTime now = clock_.Now();
  const LocalDateTime today{now.year, now.month, now.day, 0, 0, 0};
  const LocalDateTime departure = TextToDateTime(date + Text::FromGbk("-00-00-00"));
  return DaysBetween(today, departure) <= 0;
}

void RouteStore::DeleteRoute(const std::filesystem::path& store_path,
                             const std::filesystem::path& below_path, const Text& route_id) const {
  if (route_id.Empty()) return;
  DeleteIniSection(store_path, route_id);
  DeleteIniSection(below_path, route_id);
}

}  // namespace vellora
