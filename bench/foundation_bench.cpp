// LoadRoutes over a large store and Utf8ToAnsi over a large page.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "platform/ui_memory.h"
#include "routes/route_store.h"
#include "search/codecs.h"

namespace vellora {
namespace {

std::filesystem::path MakeStore(int routes) {
  std::string pattern = (std::filesystem::temp_directory_path() / "vellora-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) abort();
  const std::filesystem::path path = std::filesystem::path(pattern) / "data.dat";
  std::string bytes;
  for (int i = 0; i < routes; ++i) {
    char id[16];
    snprintf(id, sizeof(id), "%010d", 100000000 + i);
    bytes += "[" + std::string(id) + "]\r\n";
    bytes += Text::FromUtf8(
                 "出发城市=北京\r\n到达城市=乌鲁木齐\r\n出发日期=2013-02-15\r\n"
                 "心理价位=800\r\n提示方式=气泡\r\n")
                 .Bytes();
  }
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// A store of 1,000 routes, none expired, and what loading it needs.
struct LoadFixture {
  LoadFixture() : path(MakeStore(1000)), store(clock, pump) {}
  ~LoadFixture() { std::filesystem::remove_all(path.parent_path()); }
  std::filesystem::path path;
  FixedClock clock{{2013, 1, 11, 9, 0, 0}};
  ManualEventPump pump;
  RouteStore store;
  MemoryListView list;
};

void BM_LoadRoutes1000(benchmark::State& state) {
  LoadFixture f;
  for (auto _ : state) {
    f.store.LoadRoutes(f.path, f.list);
    benchmark::DoNotOptimize(f.list.RowCount());
  }
  if (f.list.RowCount() != 1000) state.SkipWithError("wrong row count");
}
BENCHMARK(BM_LoadRoutes1000)->Unit(benchmark::kMillisecond);

// A freshly written file: every read compares bytes until the file is older than the file
// system's time resolution.
void BM_LoadRoutes1000JustWritten(benchmark::State& state) {
  LoadFixture f;
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(f.path, std::ios::binary | std::ios::app) << "\r\n";
    state.ResumeTiming();
    f.store.LoadRoutes(f.path, f.list);
  }
}
BENCHMARK(BM_LoadRoutes1000JustWritten)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_Utf8ToAnsi1MB(benchmark::State& state) {
  std::string page;
  const std::string block =
      "<div class=\"f\"><a href=\"/x?a=1\">1. &#19996;&#33322;MU5138 07:00&nbsp;首都T3</a>"
      "最低价:<b>￥560(经济舱)</b></div>\n";
  while (page.size() < 1024 * 1024) page += block;
  for (auto _ : state) benchmark::DoNotOptimize(Utf8ToAnsi(page));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_Utf8ToAnsi1MB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vellora

BENCHMARK_MAIN();
