#pragma once

// One sample site per test program, on 127.0.0.1 with an ephemeral port, started before the
// first test and stopped after the last. The VELLORA_*_HOST variables point at it (set once,
// before any worker thread could read them).

#include <chrono>

#include "sample_site.h"

namespace vellora::testing {

// The site's clock stands still, so fares are the same in the site and in the expectations.
inline const std::chrono::system_clock::time_point kSiteNow{std::chrono::seconds(1357866303)};

sample_site::SampleSite& Site();

}  // namespace vellora::testing
