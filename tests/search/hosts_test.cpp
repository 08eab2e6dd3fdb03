#include "search/hosts.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace vellora {
namespace {

struct OverrideCase {
  const char* name;
  const char* value;
  std::optional<std::string> host;
  friend void PrintTo(const OverrideCase& c, std::ostream* out) { *out << c.name; }
};

class HostOverrideTest : public ::testing::TestWithParam<OverrideCase> {};

TEST_P(HostOverrideTest, AcceptsOnlyHostAndPort) {
  EXPECT_EQ(ParseHostOverride(GetParam().value), GetParam().host);
}

INSTANTIATE_TEST_SUITE_P(
    Values, HostOverrideTest,
    ::testing::Values(OverrideCase{"host", "m.example.com", "m.example.com"},
                      OverrideCase{"host_port", "127.0.0.1:8080", "127.0.0.1:8080"},
                      OverrideCase{"forgiven_dressing", " http://127.0.0.1:8080/ ",
                                   "127.0.0.1:8080"},
                      OverrideCase{"empty", "", std::nullopt},
                      OverrideCase{"port_zero", "h:0", std::nullopt},
                      OverrideCase{"port_too_big", "h:65536", std::nullopt},
                      OverrideCase{"no_port_digits", "h:", std::nullopt},
                      OverrideCase{"path", "h/x", std::nullopt},
                      OverrideCase{"header_injection", "h\r\nX: y", std::nullopt},
                      OverrideCase{"space_inside", "h h", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Each test runs in a process of its own (ctest), so the environment is ours to change here.
TEST(HostOfTest, DefaultsToTheRealHostsAndTakesOverrides) {
  unsetenv("VELLORA_BOOKING_HOST");
  EXPECT_EQ(BookingHost().Bytes(), "flight.qunar.com");
  setenv("VELLORA_BOOKING_HOST", "127.0.0.1:4321", 1);
  EXPECT_EQ(BookingHost().Bytes(), "127.0.0.1:4321");
  setenv("VELLORA_BOOKING_HOST", "bad host", 1);
  EXPECT_EQ(BookingHost().Bytes(), "flight.qunar.com");
  EXPECT_EQ(HostSettingOf(HostKind::kSearch).variable, "VELLORA_SEARCH_HOST");
  EXPECT_EQ(HostSettingOf(HostKind::kHome).variable, "VELLORA_HOME_HOST");
  EXPECT_EQ(HostSettingOf(HostKind::kCounter).variable, "VELLORA_COUNTER_HOST");
}

}  // namespace
}  // namespace vellora
