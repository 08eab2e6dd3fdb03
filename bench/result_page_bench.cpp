// The result page parser without the network (a five-flight page and a 100 KB page of 50
// blocks, per byte), the sample site answering a first page, and one whole first-page search
// over loopback.

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <cstdlib>
#include <string>

#include "flights.h"
#include "pages.h"
#include "platform/clock.h"
#include "platform/ui_memory.h"
#include "sample_site.h"
#include "search/codecs.h"
#include "search/exchange.h"
#include "search/result_page.h"

namespace vellora {
namespace {

using sample_site::FlightsFor;
using sample_site::RenderResultPage;
using sample_site::RouteSettings;
using sample_site::SearchRequest;

const auto kNow = std::chrono::system_clock::time_point(std::chrono::seconds(1357866303));
const SearchRequest kRoute{"北京", "上海", "20130120", 1};
const std::string kFirstPagePath =
    "/search.action?begin=%E5%8C%97%E4%BA%AC&end=%E4%B8%8A%E6%B5%B7&date=20130120"
    "&time=0&sort=1&v=1&f=index&bd_source=";

std::string FivePage() {
  return RenderResultPage(kRoute, FlightsFor(kRoute.begin, kRoute.end, kRoute.date, kNow, 12), {});
}

// Fifty blocks and, above the list, the kind of clutter a mobile page carries (ads, scripts),
// Chinese and ASCII mixed, up to 100 KB.
std::string HundredKilobytePage() {
  RouteSettings settings;
  settings.per_page = 50;
  std::string page = RenderResultPage(
      kRoute, FlightsFor(kRoute.begin, kRoute.end, kRoute.date, kNow, 50), settings);
  const std::string unit =
      "<div class=\"ad\">特价机票 酒店 火车票 <a href=\"/ad?id=7\">立即预订</a></div>\n";
  std::string filler;
  while (page.size() + filler.size() + unit.size() <= 100 * 1024) filler += unit;
  page.insert(page.find("<div>当前按价格排序"), filler);
  return page;
}

// Everything ParseResultPage does after the fetch: decode, cut, and fill the list.
void ParseIntoList(const std::string& body, MemoryListView& list, EventPump& pump) {
  const ResultPageContent content = ReadResultPage(Utf8ToAnsi(body));
  for (const FlightRow& flight : content.rows) {
    const int row = list.AppendRow(Text());
    list.SetCell(row, 0, IntegerText(row + 1));
    list.SetCell(row, 1, flight.flight);
    list.SetCell(row, 2, flight.departure);
    list.SetCell(row, 3, flight.arrival);
    list.SetCell(row, 4, flight.lowestPrice);
    pump.ProcessPendingEvents();
  }
  benchmark::DoNotOptimize(content.page_count);
}

void RunParse(benchmark::State& state, const std::string& body, std::size_t expected_rows) {
  MemoryListView list(5);
  ManualEventPump pump;
  for (auto _ : state) {
    list.DeleteAllRows();
    ParseIntoList(body, list, pump);
  }
  if (static_cast<std::size_t>(list.RowCount()) != expected_rows) state.SkipWithError("rows");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
  state.counters["page_bytes"] = static_cast<double>(body.size());
  // Seconds per byte, shown with an SI prefix: "1.5n" is 1.5 ns a byte.
  state.counters["s_per_byte"] = benchmark::Counter(
      static_cast<double>(body.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ParseFiveFlightPage(benchmark::State& state) { RunParse(state, FivePage(), 5); }
BENCHMARK(BM_ParseFiveFlightPage)->Unit(benchmark::kMicrosecond);

void BM_Parse100KbPageOf50Blocks(benchmark::State& state) {
  RunParse(state, HundredKilobytePage(), 50);
}
BENCHMARK(BM_Parse100KbPageOf50Blocks)->Unit(benchmark::kMicrosecond);

// The site's own serving time for a first page, over a kept-alive loopback connection, and
// with a new connection for every page as the program's exchanges make them.
void BM_SampleSiteFirstPage(benchmark::State& state) {
  const bool reconnect = state.range(0) != 0;
  sample_site::SiteOptions options;
  options.now = [] { return kNow; };
  sample_site::SampleSite site(options);
  if (auto error = site.Start()) {
    state.SkipWithError(error->c_str());
    return;
  }
  auto client = std::make_unique<httplib::Client>("127.0.0.1", site.Port());
  client->set_keep_alive(!reconnect);
  for (auto _ : state) {
    if (reconnect) client = std::make_unique<httplib::Client>("127.0.0.1", site.Port());
    auto response = client->Get(kFirstPagePath.c_str());
    if (!response || response->status != 200) {
      state.SkipWithError("no page");
      break;
    }
    benchmark::DoNotOptimize(response->body.data());
  }
}
BENCHMARK(BM_SampleSiteFirstPage)
    ->ArgName("new_connection")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// A whole first-page search as the monitor makes it: exchange thread, libcurl, decode, list.
void BM_ParseResultPageOverLoopback(benchmark::State& state) {
  sample_site::SiteOptions options;
  options.now = [] { return kNow; };
  sample_site::SampleSite site(options);
  if (auto error = site.Start()) {
    state.SkipWithError(error->c_str());
    return;
  }
  setenv("VELLORA_SEARCH_HOST", site.HostPort().c_str(), 1);
  MemoryListView list(5);
  MemoryLabel label;
  ManualEventPump pump;
  SystemClock clock;
  SearchContext context{list, label, pump, clock};
  const Text begin = UrlEncodeUtf8(Text::FromUtf8("北京"));
  const Text end = UrlEncodeUtf8(Text::FromUtf8("上海"));
  for (auto _ : state) {
    list.DeleteAllRows();
    ParseResultPage(context, Text(), kFirstPageMode, begin, end, Text::FromGbk("20130120"));
  }
  if (list.RowCount() != 5) state.SkipWithError("rows");
  WaitForHttpWorkers(std::chrono::seconds(10));
}
BENCHMARK(BM_ParseResultPageOverLoopback)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace vellora

BENCHMARK_MAIN();
