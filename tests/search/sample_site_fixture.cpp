#include "sample_site_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "search/exchange.h"

namespace vellora::testing {

namespace {

std::unique_ptr<sample_site::SampleSite> g_site;

class SiteEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    sample_site::SiteOptions options;
    options.keep_log = true;
    options.stall = std::chrono::milliseconds(300);
    options.now = [] { return kSiteNow; };
    g_site = std::make_unique<sample_site::SampleSite>(options);
    const auto error = g_site->Start();
    ASSERT_FALSE(error) << *error;
    for (const char* name : {"VELLORA_SEARCH_HOST", "VELLORA_BOOKING_HOST", "VELLORA_HOME_HOST",
                             "VELLORA_COUNTER_HOST"}) {
      setenv(name, g_site->HostPort().c_str(), 1);
    }
  }
  void TearDown() override {
    // Workers of cancelled exchanges let go of their buffers before the site goes.
    WaitForHttpWorkers(std::chrono::seconds(10));
    g_site.reset();
  }
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new SiteEnvironment);

}  // namespace

sample_site::SampleSite& Site() { return *g_site; }

}  // namespace vellora::testing
