// A monitor cycle over 100 routes of three result pages each against the sample site on
// loopback: the time a page costs beyond the site's own serving time, the longest stretch in
// which the window could not handle its events, and the resident memory over ten cycles.

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/monitor.h"
#include "platform/ui_memory.h"
#include "sample_site.h"
#include "search/codecs.h"
#include "search/exchange.h"

namespace vellora {
namespace {

using Steady = std::chrono::steady_clock;

const auto kNow = std::chrono::system_clock::time_point(std::chrono::seconds(1357866303));
constexpr int kRoutes = 100;
constexpr int kPagesPerRoute = 3;  // fifteen flights, five a page
const std::vector<std::string> kCities{"北京", "上海", "广州", "深圳", "成都", "重庆",
                                       "厦门", "昆明", "杭州", "西安", "海口"};
const std::string kDate = "2030-06-15";

struct RoutePair {
  std::string from;
  std::string to;
};

std::vector<RoutePair> Routes() {
  std::vector<RoutePair> routes;
  for (const auto& from : kCities) {
    for (const auto& to : kCities) {
      if (from != to && routes.size() < kRoutes) routes.push_back({from, to});
    }
  }
  return routes;
}

// An event pump that notes when the window could last handle events: at each dispatch and for
// the whole of each wait (the toolkit's pump dispatches whatever arrives while it waits).
class GapPump final : public EventPump {
 public:
  void ProcessPendingEvents() override { Mark(); }
  void WaitForEvents(std::chrono::milliseconds max_wait) override {
    Mark();
    {
      std::unique_lock lock(mutex_);
      woken_condition_.wait_for(lock, max_wait, [this] { return woken_; });
      woken_ = false;
    }
    Mark();
  }
  void Wake() override {
    {
      std::lock_guard lock(mutex_);
      woken_ = true;
    }
    woken_condition_.notify_all();
  }
  void Reset() {
    last_ = Steady::now();
    longest_ = {};
  }
  Steady::duration Longest() const { return longest_; }

 private:
  void Mark() {
    const auto now = Steady::now();
    longest_ = std::max(longest_, now - last_);
    last_ = now;
  }
  std::mutex mutex_;
  std::condition_variable woken_condition_;
  bool woken_ = false;
  Steady::time_point last_ = Steady::now();
  Steady::duration longest_{};
};

// A label that keeps only its text: MemoryLabel's history would grow with every cycle.
class PlainLabel final : public Label {
 public:
  Text GetText() const override {
    std::lock_guard lock(mutex_);
    return text_;
  }
  void SetText(const Text& text) override {
    std::lock_guard lock(mutex_);
    text_ = text;
  }

 private:
  mutable std::mutex mutex_;
  Text text_;
};

long RssKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// The monitor's world: the site, the controls in memory, 100 routes in the list.
struct Fixture {
  Fixture() {
    sample_site::SiteOptions options;
    options.now = [] { return kNow; };
    options.defaults.flights = 15;
    site = std::make_unique<sample_site::SampleSite>(options);
    if (auto failed = site->Start()) error = *failed;
    setenv("VELLORA_SEARCH_HOST", site->HostPort().c_str(), 1);
    for (const RoutePair& route : Routes()) {
      const int row = monitor_list.AppendRow(Text::FromGbk("0101000000"));
      monitor_list.SetCell(row, kColumnFromCity, Text::FromUtf8(route.from));
      monitor_list.SetCell(row, kColumnToCity, Text::FromUtf8(route.to));
      monitor_list.SetCell(row, kColumnDate, Text::FromUtf8(kDate));
      monitor_list.SetCell(row, kColumnTargetPrice, Text::FromGbk("1"));
      monitor_list.SetCell(row, kColumnAlertMode, Text::FromUtf8("气泡"));
    }
  }
  ~Fixture() { WaitForHttpWorkers(std::chrono::seconds(10)); }

  // The same 300 pages fetched by a bare client, a new connection each as the exchanges make
  // them: what the site and loopback cost without the program.
  Steady::duration SiteOnlyTime() {
    const auto start = Steady::now();
    for (const RoutePair& route : Routes()) {
      const std::string begin = UrlEncodeUtf8(Text::FromUtf8(route.from)).Bytes();
      const std::string end = UrlEncodeUtf8(Text::FromUtf8(route.to)).Bytes();
      const std::string date = "20300615";
      httplib::Client first("127.0.0.1", site->Port());
      auto page = first.Get("/search.action?begin=" + begin + "&end=" + end + "&date=" + date +
                            "&time=0&sort=1&v=1&f=index&bd_source=");
      if (!page) return {};
      const std::string cookie = page->get_header_value("Set-Cookie")
                                     .substr(0, page->get_header_value("Set-Cookie").find(';'));
      for (int n = 2; n <= kPagesPerRoute; ++n) {
        httplib::Client later("127.0.0.1", site->Port());
        auto next =
            later.Get("/search.action?f=index&v=1&time=0&sort=1&bd_source=&date=" + date +
                          "&end=" + end + "&begin=" + begin +
                          "&page.pageSize=5&page.groupSize=0&page.currPageNo=" + std::to_string(n) +
                          "&page.totalPageCount=3",
                      {{"Cookie", cookie}});
        if (!next) return {};
      }
    }
    return Steady::now() - start;
  }

  std::unique_ptr<sample_site::SampleSite> site;
  std::string error;
  MonitorState state;
  MemoryListView monitor_list{8};
  MemoryListView latest{5};
  PlainLabel status;
  MemoryTimer timer{300000};
  MemoryTrayIcon tray;
  MemorySoundPlayer sound;
  GapPump pump;
  SystemClock clock;
  RouteStore store{clock, pump};
  MonitorContext context{state, monitor_list, latest, status, timer,          tray,
                         sound, pump,         clock,  store,  "/nonexistent", {}};
};

void BM_MonitorCycle100RoutesOf3Pages(benchmark::State& state) {
  Fixture fixture;
  if (!fixture.error.empty()) {
    state.SkipWithError(fixture.error.c_str());
    return;
  }
  double cycle_seconds = 0;
  double site_seconds = 0;
  Steady::duration longest_gap{};
  for (auto _ : state) {
    fixture.pump.Reset();
    const auto start = Steady::now();
    RunMonitorCycle(fixture.context);
    cycle_seconds += std::chrono::duration<double>(Steady::now() - start).count();
    longest_gap = std::max(longest_gap, fixture.pump.Longest());
    state.PauseTiming();
    site_seconds += std::chrono::duration<double>(fixture.SiteOnlyTime()).count();
    state.ResumeTiming();
  }
  if (fixture.latest.RowCount() != 15 || fixture.monitor_list.Cell(kRoutes - 1, 6).Empty()) {
    state.SkipWithError("the cycle did not read every page");
  }
  const double pages = static_cast<double>(state.iterations()) * kRoutes * kPagesPerRoute;
  state.counters["ms_per_page"] = 1e3 * cycle_seconds / pages;
  state.counters["site_ms_per_page"] = 1e3 * site_seconds / pages;
  state.counters["beyond_site_ms_per_page"] = 1e3 * (cycle_seconds - site_seconds) / pages;
  state.counters["longest_gap_ms"] = std::chrono::duration<double, std::milli>(longest_gap).count();
}
BENCHMARK(BM_MonitorCycle100RoutesOf3Pages)->Unit(benchmark::kMillisecond)->UseRealTime();

// Ten timer ticks in a row (cycle and working-set trim each): the resident memory must not grow.
void BM_RssOverTenTicks(benchmark::State& state) {
  Fixture fixture;
  if (!fixture.error.empty()) {
    state.SkipWithError(fixture.error.c_str());
    return;
  }
  // Warms the caches, worker threads and the in-process site's pools up: they settle within
  // a few ticks (measured: +0.5 MB over the first 30 ticks, then flat).
  for (int tick = 0; tick < 30; ++tick) OnRefreshTimer(fixture.context);
  const long before = RssKilobytes();
  for (auto _ : state) {
    for (int tick = 0; tick < 10; ++tick) OnRefreshTimer(fixture.context);
  }
  const long after = RssKilobytes();
  state.counters["rss_before_kb"] = static_cast<double>(before);
  state.counters["rss_after_kb"] = static_cast<double>(after);
  state.counters["rss_growth_kb"] = static_cast<double>(after - before);
}
BENCHMARK(BM_RssOverTenTicks)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vellora

BENCHMARK_MAIN();
