// vellora-sample-site: the loopback stand-in for the travel site, the publisher's home server
// and the hit counter. Prints "listening on 127.0.0.1:PORT" as its first line and serves until
// it gets SIGINT or SIGTERM.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "sample_site.h"

namespace {

constexpr std::string_view kUsage =
    "usage: vellora-sample-site [--port N] [--log FILE] [--mode MODE] [--flights N]\n"
    "                           [--per-page N] [--stall-seconds N]\n"
    "  --port N           port on 127.0.0.1; 0 or none picks a free one\n"
    "  --log FILE         write one JSON line per request to FILE\n"
    "  --mode MODE        search pages of every route: normal, slow, failing, empty,\n"
    "                     malformed, many (a route's own setting, made through\n"
    "                     /_sample/route?begin=..&end=..&mode=.., wins)\n"
    "  --flights N        flights of every route (default: the route's timetable)\n"
    "  --per-page N       flight blocks on a page (default 5)\n"
    "  --stall-seconds N  how long a slow page stalls (default 120)\n";

bool ReadInt(const char* text, long low, long high, long& out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > high) return false;
  out = value;
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "vellora-sample-site: %s\n%s", message.c_str(), kUsage.data());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using vellora::sample_site::ParseSiteMode;
  vellora::sample_site::SiteOptions options;
  long port = 0;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string value;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage.data(), stdout);
      return 0;
    }
    if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != arg.npos) {
      value = std::string(arg.substr(eq + 1));
      arg = arg.substr(0, eq);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return Fail("missing value for " + std::string(arg));
    }
    long number = 0;
    if (arg == "--port") {
      if (!ReadInt(value.c_str(), 0, 65535, port)) return Fail("bad port: " + value);
    } else if (arg == "--log") {
      options.log_path = value;
    } else if (arg == "--mode") {
      auto mode = ParseSiteMode(value);
      if (!mode) return Fail("unknown mode: " + value);
      options.defaults.mode = *mode;
    } else if (arg == "--flights") {
      if (!ReadInt(value.c_str(), 0, 100000, number)) return Fail("bad flight count: " + value);
      options.defaults.flights = static_cast<int>(number);
    } else if (arg == "--per-page") {
      if (!ReadInt(value.c_str(), 1, 1000, number)) return Fail("bad page size: " + value);
      options.defaults.per_page = static_cast<int>(number);
    } else if (arg == "--stall-seconds") {
      if (!ReadInt(value.c_str(), 0, 86400, number)) return Fail("bad stall: " + value);
      options.stall = std::chrono::seconds(number);
    } else {
      return Fail("unknown option " + std::string(arg));
    }
  }

  // Signals are taken by sigwait below, never by a server thread in the middle of a request.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  vellora::sample_site::SampleSite site(options);
  if (auto error = site.Start(static_cast<int>(port))) {
    std::fprintf(stderr, "vellora-sample-site: %s\n", error->c_str());
    return 1;
  }
  std::printf("listening on %s\n", site.HostPort().c_str());
  std::fflush(stdout);

  int signal_number = 0;
  sigwait(&signals, &signal_number);
  site.Stop();
  return 0;
}
