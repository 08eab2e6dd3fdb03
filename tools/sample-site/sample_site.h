#pragma once

// The sample site: one HTTP server on 127.0.0.1 that plays the travel site's mobile search and
// booking page, the publisher's home server and the hit-counter service, for tests, benchmarks
// and the demo. Every request is logged with its header lines in the order they were sent.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pages.h"
#include "request_log.h"

namespace vellora::sample_site {

struct SiteOptions {
  std::string log_path;    // the JSON-lines request log; empty: none
  bool keep_log = false;   // also keep the requests for Requests()
  RouteSettings defaults;  // for routes that have no settings of their own
  // How long a slow page stalls; longer than the program's 90 s so the program gives up first.
  std::chrono::milliseconds stall = std::chrono::seconds(120);
  // The time fares drift with; the system clock when not given.
  std::function<std::chrono::system_clock::time_point()> now;
};

class SampleSite {
 public:
  explicit SampleSite(SiteOptions options = {});
  ~SampleSite();
  SampleSite(const SampleSite&) = delete;
  SampleSite& operator=(const SampleSite&) = delete;

  // Listens on 127.0.0.1:port (0 picks a free port) and serves from threads of its own. The
  // error text, or nothing once the site is accepting connections.
  std::optional<std::string> Start(int port = 0);
  // Ends stalled answers and open connections, then stops listening. Also done on destruction.
  void Stop();

  int Port() const { return port_; }
  // "127.0.0.1:PORT": what the VELLORA_*_HOST variables should hold.
  std::string HostPort() const;

  // Settings for a route's search pages (cities in UTF-8); an empty date means every date.
  // The control path /_sample/route does the same over HTTP.
  void SetRoute(std::string_view begin, std::string_view end, std::string_view date,
                RouteSettings settings);
  void ResetRoutes();
  RouteSettings SettingsFor(std::string_view begin, std::string_view end,
                            std::string_view date) const;

  // The requests so far (only with keep_log), oldest first.
  std::vector<LoggedRequest> Requests() const;
  void ClearRequests();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

}  // namespace vellora::sample_site
