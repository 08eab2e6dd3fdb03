// The HTTP exchange against loopback servers: its cost beside a bare libcurl transfer, how
// long the GUI thread goes without dispatching while it waits, and how fast a cancel lands.

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/cookie_store.h"
#include "platform/internet.h"
#include "platform/ui_memory.h"
#include "search/exchange.h"
#include "support/http_server.h"
#include "support/temp_dir.h"

namespace vellora {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kPageBytes = 20 * 1024;

double Microseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::micro>(duration).count();
}

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// A loopback server with a 20 KB page, and a cookie store of its own in a temporary directory.
struct PageServer {
  PageServer() {
    CookieStore::Process().Reopen(dir / "cookies.dat");
    std::string page(kPageBytes, ' ');
    for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>('a' + i % 26);
    server.Routes().Get("/page", [page](const httplib::Request&, httplib::Response& response) {
      response.set_content(page, "text/html");
    });
    server.Start();
    url = server.Url("/page");
  }
  testing::TempDir dir;
  testing::HttpServer server;
  std::string url;
};

std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

// The same GET with nothing around it: one easy handle, one blocking perform.
std::string BareCurlGet(const std::string& url) {
  std::string body;
  CURL* easy = curl_easy_init();
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &AppendBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(easy);
  curl_easy_cleanup(easy);
  return body;
}

std::string Exchange(ManualEventPump& pump, const std::string& url) {
  static const SystemClock clock;
  return FetchWithTimeout(pump, clock, Text::FromGbk(url), Text(), Text::FromGbk("GET"));
}

void BM_Exchange20KB(benchmark::State& state) {
  PageServer page;
  ManualEventPump pump;
  for (auto _ : state) {
    const std::string body = Exchange(pump, page.url);
    if (body.size() != kPageBytes) state.SkipWithError("short body");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPageBytes));
}
BENCHMARK(BM_Exchange20KB)->Unit(benchmark::kMicrosecond);

void BM_BareCurl20KB(benchmark::State& state) {
  PageServer page;
  for (auto _ : state) {
    const std::string body = BareCurlGet(page.url);
    if (body.size() != kPageBytes) state.SkipWithError("short body");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPageBytes));
}
BENCHMARK(BM_BareCurl20KB)->Unit(benchmark::kMicrosecond);

// Both side by side, alternating, so the ratio compares like with like. Target: ratio <= 1.3.
void BM_ExchangeVersusBareCurl(benchmark::State& state) {
  PageServer page;
  ManualEventPump pump;
  Clock::duration exchange{};
  Clock::duration bare{};
  for (auto _ : state) {
    auto start = Clock::now();
    benchmark::DoNotOptimize(BareCurlGet(page.url));
    bare += Clock::now() - start;
    start = Clock::now();
    benchmark::DoNotOptimize(Exchange(pump, page.url));
    exchange += Clock::now() - start;
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["bare_curl_us"] = Microseconds(bare) / n;
  state.counters["exchange_us"] = Microseconds(exchange) / n;
  state.counters["ratio"] = Microseconds(exchange) / Microseconds(bare);
}
BENCHMARK(BM_ExchangeVersusBareCurl)->Unit(benchmark::kMicrosecond)->Iterations(2000);

// While an exchange waits on a server that never answers, window input arrives every
// millisecond. Reported: the longest gap between two dispatches (target <= 5 ms) and the
// longest time an event stayed pending.
void BM_DispatchGapWhileWaiting(benchmark::State& state) {
  testing::TempDir dir;
  CookieStore::Process().Reopen(dir / "cookies.dat");
  testing::RawHttpServer stalled(
      [](testing::RawConnection& connection) { connection.WaitForPeerClose(); });
  ManualEventPump pump;
  const SystemClock clock;
  Clock::duration longest_gap{};
  Clock::duration longest_pending{};
  for (auto _ : state) {
    std::atomic<bool> waiting{true};
    std::atomic<Clock::rep> posted_at{0};
    std::thread input([&] {
      while (waiting) {
        posted_at = Clock::now().time_since_epoch().count();
        pump.PostEvent();
        std::this_thread::sleep_for(1ms);
      }
    });
    Clock::time_point last_dispatch{};
    pump.SetHook([&] {
      const Clock::time_point now = Clock::now();
      if (last_dispatch != Clock::time_point{}) {
        longest_gap = std::max(longest_gap, now - last_dispatch);
      }
      last_dispatch = now;
      const Clock::time_point posted{Clock::duration(posted_at.load())};
      longest_pending = std::max(longest_pending, now - posted);
    });
    benchmark::DoNotOptimize(FetchWithTimeout(pump, clock, Text::FromGbk(stalled.Url("/")), Text(),
                                              Text(), Text(), Text(), Text(), Text(), 1));
    waiting = false;
    input.join();
    pump.SetHook(nullptr);
    WaitForHttpWorkers(10s);
  }
  state.counters["longest_gap_ms"] = Milliseconds(longest_gap);
  state.counters["longest_pending_ms"] = Milliseconds(longest_pending);
}
BENCHMARK(BM_DispatchGapWhileWaiting)->Unit(benchmark::kMillisecond)->Iterations(3);

// Close from another thread while the owner waits for a server that never answers; the time
// until the owner's Send returns. Target: within 100 ms.
void BM_CloseCancelsAStalledRequest(benchmark::State& state) {
  testing::TempDir dir;
  CookieStore cookies(dir / "cookies.dat");
  testing::RawHttpServer stalled(
      [](testing::RawConnection& connection) { connection.WaitForPeerClose(); });
  const InternetSession session(Text(), Text(), cookies);
  const InternetConnection connection(session, Text::FromGbk("127.0.0.1"), stalled.Port(), Text(),
                                      Text());
  Clock::duration longest{};
  Clock::duration total{};
  std::size_t requests = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto request =
        std::make_shared<InternetRequest>(connection, Text::FromGbk("GET"), Text::FromGbk("/"));
    std::atomic<Clock::rep> returned_at{0};
    std::thread owner([&] {
      request->Send(Text(), {});
      returned_at = Clock::now().time_since_epoch().count();
    });
    stalled.WaitForRequests(++requests, 10s);
    state.ResumeTiming();
    const Clock::time_point closed_at = Clock::now();
    request->Close();
    owner.join();
    const Clock::duration took = Clock::time_point(Clock::duration(returned_at.load())) - closed_at;
    longest = std::max(longest, took);
    total += took;
  }
  state.counters["mean_ms"] = Milliseconds(total) / static_cast<double>(state.iterations());
  state.counters["longest_ms"] = Milliseconds(longest);
}
BENCHMARK(BM_CloseCancelsAStalledRequest)->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace
}  // namespace vellora

BENCHMARK_MAIN();
