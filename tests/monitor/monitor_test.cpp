#include "monitor/monitor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "flights.h"
#include "platform/ini.h"
#include "platform/ui_memory.h"
#include "sample_site_fixture.h"
#include "search/codecs.h"
#include "search/exchange.h"
#include "support/http_server.h"
#include "support/temp_dir.h"

namespace vellora {
namespace {

using sample_site::RouteSettings;
using sample_site::SiteMode;
using testing::Site;

Text Gbk(const std::string& utf8) { return Text::FromUtf8(utf8); }

struct Route {
  std::string from;
  std::string to;
  std::string date;  // as the list shows it: 2013-01-20
  std::string target;
  std::string mode;
};

const Route kBeijingShanghai{"北京", "上海", "2013-01-20", "99999", "气泡"};
const Route kQingdaoChengdu{"青岛", "成都", "2013-01-11", "99999", "音乐"};
const Route kShanghaiBeijing{"上海", "北京", "2013-01-20", "99999", "气泡"};

std::string Compact(const std::string& date) {
  std::string compact;
  for (char c : date) {
    if (c != '-') compact += c;
  }
  return compact;
}

RouteSettings Settings(int flights, SiteMode mode = SiteMode::kNormal) {
  RouteSettings settings;
  settings.flights = flights;
  settings.mode = mode;
  return settings;
}

// The cheapest fare the site lists for a route set to `flights` flights: "￥560(5.6折)".
Text SiteFare(const Route& route, int flights) {
  const auto found = sample_site::FlightsFor(route.from, route.to, Compact(route.date),
                                             testing::kSiteNow, flights);
  return Gbk("￥" + std::to_string(found.at(0).price) + "(" +
             sample_site::DiscountText(found.at(0).price, found.at(0).full_fare) + ")");
}

Text Searching(const Route& route) {
  return Gbk("状态:正在搜索 " + route.from + "-" + route.to + " " + route.date + " 的机票信息...");
}

// The status after the pages of a route that lists `flights` flights (the site writes blanks
// around the number, and both stay).
Text Found(int flights) { return Gbk("状态:搜索到  " + std::to_string(flights) + " 个航班"); }

std::vector<Text> Texts(const std::vector<std::string>& utf8) {
  std::vector<Text> texts;
  for (const auto& text : utf8) texts.push_back(Gbk(text));
  return texts;
}

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Site().ResetRoutes();
    Site().ClearRequests();
    testing::WriteBytes(run_dir_ / "ts.mp3", "ID3");
  }

  void SiteRoute(const Route& route, const RouteSettings& settings) {
    Site().SetRoute(route.from, route.to, "", settings);
  }

  int AddRow(const Route& route, const std::string& id = "0111090503") {
    const int row = monitor_list_.AppendRow(Gbk(id));
    monitor_list_.SetCell(row, kColumnFromCity, Gbk(route.from));
    monitor_list_.SetCell(row, kColumnToCity, Gbk(route.to));
    monitor_list_.SetCell(row, kColumnDate, Gbk(route.date));
    monitor_list_.SetCell(row, kColumnTargetPrice, Gbk(route.target));
    monitor_list_.SetCell(row, kColumnAlertMode, Gbk(route.mode));
    return row;
  }

  // The routes whose first page was requested, in order, as "from-to date".
  static std::vector<std::string> SearchedRoutes(const std::vector<Route>& candidates) {
    std::vector<std::string> searched;
    for (const auto& request : Site().Requests()) {
      for (const Route& route : candidates) {
        const std::string first_page =
            "/search.action?begin=" + UrlEncodeUtf8(Gbk(route.from)).Bytes() +
            "&end=" + UrlEncodeUtf8(Gbk(route.to)).Bytes() + "&date=" + Compact(route.date) + "&";
        if (request.path.starts_with(first_page)) {
          searched.push_back(route.from + "-" + route.to + " " + route.date);
        }
      }
    }
    return searched;
  }

  static int RequestCount() { return static_cast<int>(Site().Requests().size()); }

  Text Cell(int row, int column) const { return monitor_list_.Cell(row, column); }

  // Runs `nested` once, at the first dispatch while `route` is being searched: inside the wait
  // for its first page when the site is slow for it.
  void DuringSearchOf(const Route& route, std::function<void()> nested) {
    pump_.SetHook([this, status = Searching(route), nested = std::move(nested)] {
      if (nested_ran_ || status_.GetText() != status) return;
      nested_ran_ = true;
      nested();
    });
  }

  testing::TempDir run_dir_;
  MonitorState state_;
  MemoryListView monitor_list_{8};
  MemoryListView latest_{5};
  MemoryLabel status_;
  MemoryTimer timer_{300000};
  MemoryTrayIcon tray_;
  MemorySoundPlayer sound_;
  ManualEventPump pump_;
  FixedClock clock_;  // 2013-1-11 09:05:03
  RouteStore store_{clock_, pump_};
  int summary_refreshes_ = 0;
  bool nested_ran_ = false;
  MonitorContext context_{state_, monitor_list_, latest_,         status_,
                          timer_, tray_,         sound_,          pump_,
                          clock_, store_,        run_dir_.Path(), [this] { ++summary_refreshes_; }};
};

TEST_F(MonitorTest, CycleMarksAlertsAndReportsEveryRoute) {
  const Route balloon = kBeijingShanghai;
  const Route music = kQingdaoChengdu;
  Route nothing = kShanghaiBeijing;
  nothing.target = "100";
  SiteRoute(balloon, Settings(7));  // two pages
  SiteRoute(music, Settings(3));
  SiteRoute(nothing, Settings(3, SiteMode::kEmpty));
  AddRow(balloon);
  AddRow(music);
  const int nothing_row = AddRow(nothing);
  monitor_list_.SetCell(nothing_row, kColumnLowestFare, Gbk("￥900(9折)"));
  monitor_list_.SetCell(nothing_row, kColumnBelowTarget, Gbk("N"));

  RunMonitorCycle(context_);

  EXPECT_EQ(status_.History(),
            (std::vector<Text>{Searching(balloon), Gbk("状态:正在读取第2页..."), Found(7),
                               Searching(music), Found(3), Searching(nothing),
                               Gbk("状态:搜索到 个航班"), Gbk("状态:搜索航线完毕")}));
  EXPECT_EQ(Cell(0, kColumnLowestFare), SiteFare(balloon, 7));
  EXPECT_EQ(Cell(0, kColumnBelowTarget), Gbk("Y"));
  EXPECT_EQ(Cell(1, kColumnLowestFare), SiteFare(music, 3));
  EXPECT_EQ(Cell(1, kColumnBelowTarget), Gbk("Y"));
  EXPECT_EQ(Cell(2, kColumnLowestFare), Gbk("未搜索到"));
  EXPECT_EQ(Cell(2, kColumnBelowTarget), Gbk("N")) << "cell 7 keeps what it held";

  const Text price = TextBetween(SiteFare(balloon, 7), Gbk("￥"), Gbk("("));
  EXPECT_EQ(tray_.Balloons(),
            (std::vector<ShownBalloon>{
                {Gbk("发现特价机票"),
                 Gbk("监控航线: 北京-上海\r\n出发日期: 2013-01-20\r\n实际价格: ￥") + price +
                     Gbk("\r\n发现时间: 09:05:03"),
                 30000}}));
  EXPECT_EQ(sound_.Plays(), (std::vector<std::filesystem::path>{run_dir_ / "ts.mp3"}));
  EXPECT_EQ(state_.MonitorBusy, 0);
  EXPECT_EQ(latest_.RowCount(), 0) << "the latest flights are those of the last route";
}

TEST_F(MonitorTest, EmptyListMakesNoRequest) {
  RunMonitorCycle(context_);
  EXPECT_EQ(status_.History(), Texts({"状态:暂无航线"}));
  EXPECT_EQ(RequestCount(), 0);
  EXPECT_EQ(state_.MonitorBusy, 0);
}

TEST(ClockTextTest, TwoDigitsEach) {
  EXPECT_EQ(ClockText({2013, 1, 11, 9, 5, 3}), Gbk("09:05:03"));
  EXPECT_EQ(ClockText({2013, 1, 11, 0, 0, 0}), Gbk("00:00:00"));
  EXPECT_EQ(ClockText({2013, 1, 11, 23, 59, 59}), Gbk("23:59:59"));
}

// ---- The price verdict, on pages written by hand: the site's own fares are whole yuan.

struct PriceCase {
  const char* name;
  const char* fare;    // the first flight's lowest-price text, UTF-8
  const char* target;  // cell 4
  const char* mark;    // cell 7 afterwards; "-" is what it held before
  int balloons;
  friend void PrintTo(const PriceCase& c, std::ostream* out) { *out << c.name; }
};

std::string HandWrittenPage(const std::string& fare) {
  return "<html><body>搜索到 1 个航班<br/>[首页][上页] 1/1 <a href=\"#\">下页</a><br/>"
         "当前按价格排序<br/>1.&#19996;&#33322;MU5138<br/>起飞:07:00&nbsp;T3<br/>"
         "到达:09:15&nbsp;T2<br/>最低价:" +
         fare + "<br/><a href=\"#\">报价(查看) </a><br/>返回首页</body></html>";
}

class PriceTest : public MonitorTest, public ::testing::WithParamInterface<PriceCase> {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    server_.Routes().Get("/search.action", [page = HandWrittenPage(GetParam().fare)](
                                               const httplib::Request&, httplib::Response& res) {
      res.set_content(page, "text/html; charset=utf-8");
    });
    server_.Start();
    // No worker may read the environment while it changes.
    ASSERT_TRUE(WaitForHttpWorkers(std::chrono::seconds(10)));
    setenv("VELLORA_SEARCH_HOST", ("127.0.0.1:" + std::to_string(server_.Port())).c_str(), 1);
  }
  void TearDown() override {
    WaitForHttpWorkers(std::chrono::seconds(10));
    setenv("VELLORA_SEARCH_HOST", Site().HostPort().c_str(), 1);
  }
  testing::HttpServer server_;
};

TEST_P(PriceTest, MarksAndAlertsOnTheTruncatedTarget) {
  const PriceCase& c = GetParam();
  Route route = kBeijingShanghai;
  route.target = c.target;
  AddRow(route);
  monitor_list_.SetCell(0, kColumnBelowTarget, Gbk("-"));

  RunMonitorCycle(context_);

  EXPECT_EQ(Cell(0, kColumnLowestFare), Gbk(c.fare));
  EXPECT_EQ(Cell(0, kColumnBelowTarget), Gbk(c.mark));
  EXPECT_EQ(static_cast<int>(tray_.Balloons().size()), c.balloons);
}

INSTANTIATE_TEST_SUITE_P(
    Prices, PriceTest,
    ::testing::Values(PriceCase{"below_target", "￥560(5.6折)", "600", "Y", 1},
                      PriceCase{"above_target", "￥560(5.6折)", "559", "N", 0},
                      PriceCase{"at_target", "￥560(5.6折)", "560", "Y", 1},
                      PriceCase{"target_fraction_dropped", "￥600.5(6折)", "600.9", "N", 0},
                      PriceCase{"price_fraction_kept", "￥600.5(6折)", "601", "Y", 1},
                      PriceCase{"zero_price_no_mark", "￥0(全价)", "600", "-", 0},
                      PriceCase{"no_number_no_mark", "￥特价(全价)", "600", "-", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The music alert.

struct MusicCase {
  const char* name;
  bool playing_before;
  bool sound_file;
  int music_routes;
  int plays;
  friend void PrintTo(const MusicCase& c, std::ostream* out) { *out << c.name; }
};

class MusicTest : public MonitorTest, public ::testing::WithParamInterface<MusicCase> {};

TEST_P(MusicTest, PlaysOnlyWhenNothingIsPlaying) {
  const MusicCase& c = GetParam();
  if (!c.sound_file) std::filesystem::remove(run_dir_ / "ts.mp3");
  sound_.SetPlaying(c.playing_before);
  const std::vector<Route> routes{kQingdaoChengdu, {"成都", "青岛", "2013-01-20", "99999", "音乐"}};
  for (int i = 0; i < c.music_routes; ++i) {
    SiteRoute(routes[i], Settings(2));
    AddRow(routes[i]);
  }

  RunMonitorCycle(context_);

  EXPECT_EQ(static_cast<int>(sound_.Plays().size()), c.plays);
  for (int i = 0; i < c.music_routes; ++i) EXPECT_EQ(Cell(i, kColumnBelowTarget), Gbk("Y"));
  EXPECT_TRUE(tray_.Balloons().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Music, MusicTest,
    ::testing::Values(MusicCase{"second_route_finds_it_playing", false, true, 2, 1},
                      MusicCase{"not_again_while_playing", true, true, 1, 0},
                      MusicCase{"missing_file_plays_nothing", false, false, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The manual refresh.

struct ManualCase {
  const char* name;
  RouteSettings settings;
  int selected;
  const char* fare;    // cell 6 afterwards, UTF-8; nullptr: the site's fare
  const char* status;  // the last status; nullptr: none was written
  int requests;
  friend void PrintTo(const ManualCase& c, std::ostream* out) { *out << c.name; }
};

class ManualRefreshTest : public MonitorTest, public ::testing::WithParamInterface<ManualCase> {};

TEST_P(ManualRefreshTest, WritesTheFareButNoMarkOrAlert) {
  const ManualCase& c = GetParam();
  Route route = kBeijingShanghai;
  route.target = "99999";
  SiteRoute(route, c.settings);
  AddRow(route);
  monitor_list_.SetCell(0, kColumnLowestFare, Gbk("￥900(9折)"));
  monitor_list_.SetCell(0, kColumnBelowTarget, Gbk("N"));
  monitor_list_.SelectRow(c.selected);

  RefreshSelectedRoute(context_);

  EXPECT_EQ(Cell(0, kColumnLowestFare), c.fare ? Gbk(c.fare) : SiteFare(route, c.settings.flights));
  EXPECT_EQ(Cell(0, kColumnBelowTarget), Gbk("N"));
  if (c.status) {
    EXPECT_EQ(status_.GetText(), Gbk(c.status));
  } else {
    EXPECT_TRUE(status_.History().empty());
  }
  EXPECT_EQ(RequestCount(), c.requests);
  EXPECT_TRUE(tray_.Balloons().empty());
  EXPECT_EQ(state_.MonitorBusy, 0);
  EXPECT_TRUE(timer_.History().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Manual, ManualRefreshTest,
    ::testing::Values(ManualCase{"finds_flights", Settings(7), 0, nullptr, "状态:搜索到  7 个航班",
                                 2},
                      ManualCase{"finds_nothing", Settings(3, SiteMode::kEmpty), 0, "￥900(9折)",
                                 "状态:搜索到 个航班", 1},
                      ManualCase{"no_selection", Settings(3), -1, "￥900(9折)", nullptr, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Handlers nested inside a cycle's waits.

TEST_F(MonitorTest, ManualRefreshInsideACycleWaitDoesNotLendItsFare) {
  const Route slow = kBeijingShanghai;
  Route other = kShanghaiBeijing;
  other.target = "1";
  SiteRoute(slow, Settings(3, SiteMode::kSlow));
  SiteRoute(other, Settings(4));
  AddRow(slow);
  AddRow(other);
  monitor_list_.SelectRow(1);
  DuringSearchOf(slow, [this] { RefreshSelectedRoute(context_); });

  RunMonitorCycle(context_);

  ASSERT_TRUE(nested_ran_);
  EXPECT_EQ(SearchedRoutes({slow, other}),
            (std::vector<std::string>{"北京-上海 2013-01-20", "上海-北京 2013-01-20",
                                      "上海-北京 2013-01-20"}));
  // The nested search filled the shared list first; the cycle still marks its own fare.
  EXPECT_EQ(Cell(0, kColumnLowestFare), SiteFare(slow, 3));
  EXPECT_EQ(Cell(0, kColumnBelowTarget), Gbk("Y"));
  EXPECT_EQ(Cell(1, kColumnLowestFare), SiteFare(other, 4));
  EXPECT_EQ(Cell(1, kColumnBelowTarget), Gbk("N"));
  ASSERT_EQ(tray_.Balloons().size(), 1u);
  const Text first_line = Gbk("监控航线: 北京-上海\r\n");
  EXPECT_EQ(LeftBytes(tray_.Balloons()[0].text, static_cast<std::int64_t>(first_line.Size())),
            first_line);
  EXPECT_EQ(status_.GetText(), Gbk("状态:搜索航线完毕"));
}

TEST_F(MonitorTest, SecondCycleInsideTheFirstReturnsAtOnce) {
  SiteRoute(kBeijingShanghai, Settings(3));
  AddRow(kBeijingShanghai);
  std::size_t statuses_before = 0;
  std::size_t statuses_after = 0;
  DuringSearchOf(kBeijingShanghai, [&] {
    statuses_before = status_.History().size();
    RunMonitorCycle(context_);
    statuses_after = status_.History().size();
    EXPECT_EQ(state_.MonitorBusy, 1);
  });

  RunMonitorCycle(context_);

  ASSERT_TRUE(nested_ran_);
  EXPECT_EQ(statuses_after, statuses_before);
  EXPECT_EQ(status_.History(),
            (std::vector<Text>{Searching(kBeijingShanghai), Found(3), Gbk("状态:搜索航线完毕")}));
  EXPECT_EQ(RequestCount(), 1);
  EXPECT_EQ(state_.MonitorBusy, 0);
}

TEST_F(MonitorTest, EditorSaveDuringACycleGetsTheSavedPeriodBack) {
  state_.LastRefreshDate = Gbk("2013-1-11");
  SiteRoute(kBeijingShanghai, Settings(3));
  AddRow(kBeijingShanghai);
  // The editor re-arms the timer with a new interval, and its tick comes during the cycle.
  DuringSearchOf(kBeijingShanghai, [this] {
    timer_.SetPeriod(180000);
    OnRefreshTimer(context_);
  });

  OnRefreshTimer(context_);

  ASSERT_TRUE(nested_ran_);
  EXPECT_EQ(timer_.History(), (std::vector<int>{0, 180000, 0, 180000, 300000}));
  EXPECT_EQ(RequestCount(), 1) << "the nested tick's cycle searched nothing";
  EXPECT_EQ(state_.MonitorBusy, 0);
}

TEST_F(MonitorTest, FirstTickOnlyRecordsTheDateALaterDayReloadsFirst) {
  const std::filesystem::path data = run_dir_ / "data.dat";
  const Route tomorrow{"北京", "上海", "2013-01-12", "1", "气泡"};
  const Route later{"上海", "北京", "2013-01-20", "1", "气泡"};
  for (const auto& [id, route] :
       {std::pair{"0111090001", tomorrow}, std::pair{"0111090002", later}}) {
    ASSERT_FALSE(WriteIniKeys(data, Gbk(id),
                              {{KeyFromCity(), Gbk(route.from)},
                               {KeyToCity(), Gbk(route.to)},
                               {KeyDate(), Gbk(route.date)},
                               {KeyTargetPrice(), Gbk(route.target)},
                               {KeyAlertMode(), Gbk(route.mode)}}));
    SiteRoute(route, Settings(2));
  }
  store_.LoadRoutes(data, monitor_list_);
  ASSERT_EQ(monitor_list_.RowCount(), 2);

  // Midnight has passed since start-up, but the first tick does not reload.
  clock_.Set({2013, 1, 12, 0, 0, 30});
  OnRefreshTimer(context_);
  EXPECT_EQ(state_.LastRefreshDate, Gbk("2013-1-12"));
  EXPECT_EQ(SearchedRoutes({tomorrow, later}),
            (std::vector<std::string>{"北京-上海 2013-01-12", "上海-北京 2013-01-20"}));
  EXPECT_EQ(summary_refreshes_, 0);

  clock_.Set({2013, 1, 13, 8, 0, 0});
  Site().ClearRequests();
  OnRefreshTimer(context_);
  EXPECT_EQ(state_.LastRefreshDate, Gbk("2013-1-13"));
  EXPECT_EQ(SearchedRoutes({tomorrow, later}), (std::vector<std::string>{"上海-北京 2013-01-20"}));
  ASSERT_EQ(monitor_list_.RowCount(), 1);
  EXPECT_EQ(Cell(0, kColumnRouteId), Gbk("0111090002"));
  EXPECT_EQ(ListIniSections(data), (std::vector<Text>{Gbk("0111090002")}));
  EXPECT_EQ(summary_refreshes_, 1);
  EXPECT_EQ(timer_.Period(), 300000);
}

// ---- Rows that vanish while the cycle waits.

struct VanishCase {
  const char* name;
  std::function<void(MemoryListView&)> reload;  // what the nested delete or edit leaves
  std::vector<std::string> searched;
  std::vector<std::string> marks;  // cell 7 of each row left
  int balloons;
  friend void PrintTo(const VanishCase& c, std::ostream* out) { *out << c.name; }
};

class VanishedRowsTest : public MonitorTest, public ::testing::WithParamInterface<VanishCase> {};

TEST_P(VanishedRowsTest, NeverActsOnARowThatIsGone) {
  const VanishCase& c = GetParam();
  SiteRoute(kBeijingShanghai, Settings(3, SiteMode::kSlow));
  SiteRoute(kQingdaoChengdu, Settings(3));
  SiteRoute(kShanghaiBeijing, Settings(3));
  Route quiet = kQingdaoChengdu;
  quiet.mode = "无";
  AddRow(kBeijingShanghai, "01");
  AddRow(quiet, "02");
  AddRow(kShanghaiBeijing, "03");
  DuringSearchOf(kBeijingShanghai, [&] { c.reload(monitor_list_); });

  RunMonitorCycle(context_);

  ASSERT_TRUE(nested_ran_);
  EXPECT_EQ(SearchedRoutes({kBeijingShanghai, kQingdaoChengdu, kShanghaiBeijing}), c.searched);
  EXPECT_EQ(RequestCount(), static_cast<int>(c.searched.size())) << "one page per route";
  std::vector<std::string> marks;
  for (int row = 0; row < monitor_list_.RowCount(); ++row) {
    marks.push_back(Cell(row, kColumnBelowTarget).ToUtf8());
  }
  EXPECT_EQ(marks, c.marks);
  EXPECT_EQ(static_cast<int>(tray_.Balloons().size()), c.balloons);
  EXPECT_EQ(status_.GetText(), Gbk("状态:搜索航线完毕"));
  EXPECT_EQ(state_.MonitorBusy, 0);
}

// Rebuilds the list with the rows of `keep` (0-based indexes of the three rows at the start).
std::function<void(MemoryListView&)> KeepRows(std::vector<int> keep) {
  return [keep](MemoryListView& list) {
    std::vector<std::vector<Text>> rows;
    for (int row : keep) rows.push_back(list.Row(row));
    list.DeleteAllRows();
    for (const auto& cells : rows) {
      const int row = list.AppendRow(cells[0]);
      for (int column = 1; column <= kColumnAlertMode; ++column) {
        list.SetCell(row, column, cells[column]);
      }
    }
  };
}

INSTANTIATE_TEST_SUITE_P(
    Vanish, VanishedRowsTest,
    ::testing::Values(VanishCase{"all_deleted", KeepRows({}), {"北京-上海 2013-01-20"}, {}, 0},
                      // Row 0 now shows the second route and row 1 the third; the third is searched
                      // as row 1 and the end is reached before row 2.
                      VanishCase{"first_deleted",
                                 KeepRows({1, 2}),
                                 {"北京-上海 2013-01-20", "上海-北京 2013-01-20"},
                                 {"", "Y"},
                                 1},
                      VanishCase{
                          "first_edited",
                          [](MemoryListView& list) {
                            KeepRows({0, 1, 2})(list);
                            list.SetCell(0, kColumnTargetPrice, Gbk("1"));
                          },
                          {"北京-上海 2013-01-20", "青岛-成都 2013-01-11", "上海-北京 2013-01-20"},
                          {"", "Y", "Y"},
                          1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vellora
