#include "monitor/monitor.h"

#include <cmath>
#include <system_error>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "search/codecs.h"
#include "search/result_page.h"

namespace vellora {

namespace {

// The latest-flights column that holds a flight's lowest fare.
constexpr int kLowestPriceColumn = 4;

// The latest-flights list as one search sees it. Everything goes to the real list, so the user
// watches the rows come in; the fares of the rows this search appended are also kept here,
// because a search nested in one of our waits clears and refills the same list, and its cheapest
// fare must not be taken for ours.
class OwnRowsListView final : public ListView {
 public:
  explicit OwnRowsListView(ListView& list) : list_(list) {}

  int RowCount() const override { return list_.RowCount(); }
  int SelectedRow() const override { return list_.SelectedRow(); }
  Text Cell(int row, int column) const override { return list_.Cell(row, column); }
  void SetCell(int row, int column, const Text& text) override {
    list_.SetCell(row, column, text);
    if (column == kLowestPriceColumn && !own_.empty() && own_.back().row == row) {
      own_.back().lowest_price = text;
    }
  }
  int AppendRow(const Text& first_cell) override {
    const int row = list_.AppendRow(first_cell);
    own_.push_back({row, Text()});
    return row;
  }
  void DeleteAllRows() override { list_.DeleteAllRows(); }

  bool FoundFlights() const { return !own_.empty(); }
  // The site lists the cheapest flight first.
  Text CheapestFare() const { return own_.empty() ? Text() : own_.front().lowest_price; }

 private:
  struct OwnRow {
    int row;
    Text lowest_price;
  };
  ListView& list_;
  std::vector<OwnRow> own_;
};

// The cells of a monitor-list row that a search and its verdict depend on.
struct RouteRow {
  Text id;
  Text from_city;
  Text to_city;
  Text date;
  Text target_price;
  Text alert_mode;
  friend bool operator==(const RouteRow&, const RouteRow&) = default;
};

RouteRow ReadRouteRow(const ListView& list, int row) {
  return {list.Cell(row, kColumnRouteId),     list.Cell(row, kColumnFromCity),
          list.Cell(row, kColumnToCity),      list.Cell(row, kColumnDate),
          list.Cell(row, kColumnTargetPrice), list.Cell(row, kColumnAlertMode)};
}

// A nested delete or edit reloads the monitor list while we wait, so a row index may by then
// point past the end or at another route: the row is ours only while it still shows the route.
bool StillShows(const ListView& list, int row, const RouteRow& route) {
  return row >= 0 && row < list.RowCount() && ReadRouteRow(list, row) == route;
}

Text CompactDate(const Text& date) {
  Text compact;
  for (const Text& piece : SplitText(date, Text::FromGbk("-"))) compact += piece;
  return compact;
}

Text TwoDigits(int value) {
  return value >= 0 && value < 10 ? Text::FromGbk("0") + IntegerText(value) : IntegerText(value);
}

// Clears the latest-flights list and reads every result page of the route into it; returns the
// status text of the first page.
Text SearchRoute(MonitorContext& context, OwnRowsListView& rows, const RouteRow& route) {
  const Text date = CompactDate(route.date);
  rows.DeleteAllRows();
  context.status_label.SetText("状态:正在搜索 "_gbk + route.from_city + Text::FromGbk("-") +
                               route.to_city + Text::FromGbk(" ") + route.date +
                               " 的机票信息..."_gbk);
  SearchContext search{rows, context.status_label, context.pump, context.clock};
  Text status;
  const Text page_count =
      ParseResultPage(search, Text(), kFirstPageMode, UrlEncodeUtf8(route.from_city),
                      UrlEncodeUtf8(route.to_city), date, &status);
  FetchRemainingPages(search, page_count, UrlEncodeUtf8(route.from_city),
                      UrlEncodeUtf8(route.to_city), date);
  return status;
}

void Alert(MonitorContext& context, const RouteRow& route, const Text& price_text) {
  if (route.alert_mode == "气泡"_gbk) {
    context.tray_icon.ShowBalloon("发现特价机票"_gbk,
                                  "监控航线: "_gbk + route.from_city + Text::FromGbk("-") +
                                      route.to_city + "\r\n出发日期: "_gbk + route.date +
                                      "\r\n实际价格: ￥"_gbk + price_text + "\r\n发现时间: "_gbk +
                                      ClockText(context.clock.Now()),
                                  kAlertBalloonTimeoutMs);
  } else if (route.alert_mode == "音乐"_gbk) {
    if (context.sound_player.IsPlaying()) return;
    const std::filesystem::path sound = context.run_dir / "ts.mp3";
    std::error_code error;
    if (std::filesystem::is_regular_file(sound, error)) context.sound_player.PlayOnce(sound);
  }
}

// Writes the route's lowest fare and its mark into row `row`, and alerts when it is a bargain.
void MarkRoute(MonitorContext& context, int row, const RouteRow& route,
               const OwnRowsListView& rows) {
  ListView& list = context.monitor_list;
  if (!rows.FoundFlights()) {
    list.SetCell(row, kColumnLowestFare, "未搜索到"_gbk);
    return;
  }
  const Text fare = rows.CheapestFare();
  list.SetCell(row, kColumnLowestFare, fare);
  const Text price_text = TextBetween(fare, "￥"_gbk, Text::FromGbk("("));
  const double price = TextToNumber(price_text);
  if (price_text.Empty() || std::fabs(price) <= kPriceTolerance) return;
  const double target = static_cast<double>(TextToInt(route.target_price));
  if (price - target > kPriceTolerance) {
    list.SetCell(row, kColumnBelowTarget, Text::FromGbk("N"));
    return;
  }
  list.SetCell(row, kColumnBelowTarget, Text::FromGbk("Y"));
  Alert(context, route, price_text);
}

}  // namespace

Text ClockText(const LocalDateTime& now) {
  return TwoDigits(now.hour) + Text::FromGbk(":") + TwoDigits(now.minute) + Text::FromGbk(":") +
         TwoDigits(now.second);
}

void TrimWorkingSet() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

void OnRefreshTimer(MonitorContext& context) {
  const int saved_period = context.refresh_timer.Period();
  context.refresh_timer.SetPeriod(0);
  MonitorState& state = context.state;
  const Text today = TodayText(context.clock.Now());
  if (state.LastRefreshDate.Empty()) {
    state.LastRefreshDate = today;
  } else if (today != state.LastRefreshDate) {
    state.LastRefreshDate = today;
    context.route_store.LoadRoutes(context.run_dir / "data.dat", context.monitor_list);
    if (context.refresh_route_summary) context.refresh_route_summary();
  }
  RunMonitorCycle(context);
  TrimWorkingSet();
  // An editor save during the cycle re-armed the timer; the period we found on entry wins.
  context.refresh_timer.SetPeriod(saved_period);
}

void RunMonitorCycle(MonitorContext& context) {
  MonitorState& state = context.state;
  if (state.MonitorBusy != 0) return;
  state.MonitorBusy = 1;
  ListView& list = context.monitor_list;
  const int row_count = list.RowCount();
  if (row_count == 0) {
    context.status_label.SetText("状态:暂无航线"_gbk);
    state.MonitorBusy = 0;
    return;
  }
  for (int row = 0; row < row_count; ++row) {
    // Rows a nested reload took away are skipped: nothing is searched, written or alerted.
    if (row >= list.RowCount()) continue;
    const RouteRow route = ReadRouteRow(list, row);
    OwnRowsListView rows(context.latest_flights);
    const Text status = SearchRoute(context, rows, route);
    context.status_label.SetText("状态:"_gbk + status);
    // A row that vanished or changed during the search gets no fare, mark or alert this time.
    if (StillShows(list, row, route)) MarkRoute(context, row, route, rows);
    context.pump.ProcessPendingEvents();
  }
  context.status_label.SetText("状态:搜索航线完毕"_gbk);
  state.MonitorBusy = 0;
}

void RefreshSelectedRoute(MonitorContext& context) {
  ListView& list = context.monitor_list;
  const int row = list.SelectedRow();
  if (row < 0 || row >= list.RowCount()) return;
  const RouteRow route = ReadRouteRow(list, row);
  OwnRowsListView rows(context.latest_flights);
  const Text status = SearchRoute(context, rows, route);
  if (rows.FoundFlights() && StillShows(list, row, route)) {
    list.SetCell(row, kColumnLowestFare, rows.CheapestFare());
  }
  context.status_label.SetText("状态:"_gbk + status);
}

}  // namespace vellora
