#include "routes/route_store.h"

#include <gtest/gtest.h>

#include <optional>

#include "platform/ini.h"
#include "platform/ui_memory.h"
#include "support/temp_dir.h"

namespace vellora {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

Text U(const char* utf8) { return Text::FromUtf8(utf8); }
Text G(std::string_view gbk) { return Text::FromGbk(gbk); }

class RouteStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path StorePath() const { return dir_ / "data.dat"; }
  std::filesystem::path BelowPath() const { return dir_ / "data_below.dat"; }
  void Add(const char* from, const char* to, const char* date, const char* minutes = "5") {
    store_.AddRoute(StorePath(), U(from), U(to), G(date), G("500"), U("气泡"), G(minutes));
  }
  std::vector<Text> Ids() const {
    std::vector<Text> ids;
    for (int row = 0; row < list_.RowCount(); ++row) ids.push_back(list_.Cell(row, 0));
    return ids;
  }

  TempDir dir_;
  FixedClock clock_{{2013, 1, 11, 9, 5, 3}};
  ManualEventPump pump_;
  RouteStore store_{clock_, pump_};
  MemoryListView list_;
};

TEST_F(RouteStoreTest, IsExpiredAroundToday) {
  struct Case {
    const char* date;
    bool expired;
  };
  const Case cases[] = {
      {"2013-01-10", true}, {"2013-01-11", true}, {"2013-01-12", false}, {"2014-01-01", false},
      {"2013-02-30", true}, {"", true},           {"abc", true},         {"2013-1-12", false},
  };
  for (const Case& c : cases) EXPECT_EQ(store_.IsExpired(G(c.date)), c.expired) << c.date;
}

TEST_F(RouteStoreTest, AddWritesTheSectionInKeyOrderAndTheInterval) {
  Add("青岛", "成都", "2013-01-15", "3");
  const std::string expected = (U("[0111090503]\r\n出发城市=青岛\r\n到达城市=成都\r\n") +
                                U("出发日期=2013-01-15\r\n心理价位=500\r\n提示方式=气泡\r\n"))
                                   .Bytes();
  EXPECT_EQ(ReadBytes(StorePath()), expected);
  EXPECT_EQ(ReadBytes(dir_ / "Refresh_time.dat"), "[Refresh_time]\r\ntime=3\r\n");
}

TEST_F(RouteStoreTest, IdsHaveTwoDigitsPerPart) {
  clock_.Set({2013, 12, 31, 23, 59, 58});
  Add("北京", "上海", "2014-01-02");
  clock_.Set({2013, 1, 2, 3, 4, 5});
  Add("北京", "广州", "2014-01-02");
  store_.LoadRoutes(StorePath(), list_);
  EXPECT_EQ(Ids(), (std::vector<Text>{G("1231235958"), G("0102030405")}));
}

TEST_F(RouteStoreTest, LoadFillsColumnsInFileOrderAndDropsExpiredRoutes) {
  WriteBytes(StorePath(), U("[r1]\r\n提示方式=音乐\r\n出发日期=2013-01-12\r\n出发城市=北京\r\n"
                            "[old]\r\n出发日期=2013-01-11\r\n"
                            "[bad]\r\n出发日期=2013-02-30\r\n"
                            "[r2]\r\n出发日期=2013-02-01\r\n到达城市=成都\r\n心理价位=\r\n"
                            "[none]\r\n出发城市=北京\r\n")
                              .Bytes());
  list_.AppendRow(G("stale"));
  store_.LoadRoutes(StorePath(), list_);
  ASSERT_EQ(list_.RowCount(), 2);
  EXPECT_EQ(list_.Row(0), (std::vector<Text>{G("r1"), U("北京"), G(""), G("2013-01-12"), G(""),
                                             U("音乐"), G(""), G("")}));
  EXPECT_EQ(list_.Row(1), (std::vector<Text>{G("r2"), G(""), U("成都"), G("2013-02-01"), G(""),
                                             G(""), G(""), G("")}));
  EXPECT_EQ(ListIniSections(StorePath()), (std::vector<Text>{G("r1"), G("r2")}));
  EXPECT_EQ(pump_.DispatchCount(), 5);  // once per section, kept or dropped
}

TEST_F(RouteStoreTest, MissingOrEmptyStoreEmptiesTheList) {
  list_.AppendRow(G("stale"));
  store_.LoadRoutes(StorePath(), list_);
  EXPECT_EQ(list_.RowCount(), 0);
  WriteBytes(StorePath(), "");
  list_.AppendRow(G("stale"));
  store_.LoadRoutes(StorePath(), list_);
  EXPECT_EQ(list_.RowCount(), 0);
}

TEST_F(RouteStoreTest, AddingARouteDatedTodayIsDroppedByTheNextLoad) {
  Add("北京", "上海", "2013-01-11");
  EXPECT_EQ(ListIniSections(StorePath()).size(), 1u);
  store_.LoadRoutes(StorePath(), list_);
  EXPECT_EQ(list_.RowCount(), 0);
  EXPECT_TRUE(ListIniSections(StorePath()).empty());
}

TEST_F(RouteStoreTest, SameSecondOverwritesTheFirstRoute) {
  Add("北京", "上海", "2013-02-01");
  Add("广州", "成都", "2013-03-01");
  store_.LoadRoutes(StorePath(), list_);
  ASSERT_EQ(list_.RowCount(), 1);
  EXPECT_EQ(list_.Cell(0, kColumnFromCity), U("广州"));
  EXPECT_EQ(list_.Cell(0, kColumnDate), G("2013-03-01"));
}

TEST_F(RouteStoreTest, UpdateKeepsIdAndPlace) {
  Add("北京", "上海", "2013-02-01");
  clock_.Set({2013, 1, 11, 9, 5, 4});
  Add("广州", "成都", "2013-03-01");
  store_.UpdateRoute(StorePath(), G("0111090503"), U("深圳"), U("上海"), G("2013-02-02"), G("450"),
                     U("音乐"), G("10"));
  store_.LoadRoutes(StorePath(), list_);
  ASSERT_EQ(list_.RowCount(), 2);
  EXPECT_EQ(list_.Row(0), (std::vector<Text>{G("0111090503"), U("深圳"), U("上海"), G("2013-02-02"),
                                             G("450"), U("音乐"), G(""), G("")}));
  EXPECT_EQ(list_.Cell(1, kColumnRouteId), G("0111090504"));
  EXPECT_EQ(ReadIniKey(dir_ / "Refresh_time.dat", G("Refresh_time"), G("time")), G("10"));

  // A route deleted meanwhile comes back at the end.
  store_.DeleteRoute(StorePath(), BelowPath(), G("0111090503"));
  store_.UpdateRoute(StorePath(), G("0111090503"), U("深圳"), U("上海"), G("2013-02-02"), G("450"),
                     U("音乐"), G("10"));
  store_.LoadRoutes(StorePath(), list_);
  EXPECT_EQ(Ids(), (std::vector<Text>{G("0111090504"), G("0111090503")}));
}

TEST_F(RouteStoreTest, DeleteRemovesTheRouteFromBothFiles) {
  Add("北京", "上海", "2013-02-01");
  WriteBytes(BelowPath(), "[0111090503]\r\nx=1\r\n[other]\r\ny=2\r\n");
  const std::string store_before = ReadBytes(StorePath());

  store_.DeleteRoute(StorePath(), BelowPath(), G(""));
  EXPECT_EQ(ReadBytes(StorePath()), store_before);
  EXPECT_EQ(ReadBytes(BelowPath()), "[0111090503]\r\nx=1\r\n[other]\r\ny=2\r\n");

  store_.DeleteRoute(StorePath(), BelowPath(), G("0111090503"));
  EXPECT_TRUE(ListIniSections(StorePath()).empty());
  EXPECT_EQ(ReadBytes(BelowPath()), "[other]\r\ny=2\r\n");

  // No data_below.dat: nothing is created.
  std::filesystem::remove(BelowPath());
  store_.DeleteRoute(StorePath(), BelowPath(), G("0111090503"));
  EXPECT_FALSE(std::filesystem::exists(BelowPath()));
}

TEST_F(RouteStoreTest, ANestedReloadDuringALoadLeavesEachRouteOnce) {
  Add("北京", "上海", "2013-02-01");
  clock_.Set({2013, 1, 11, 9, 5, 4});
  Add("广州", "成都", "2013-03-01");
  clock_.Set({2013, 1, 11, 9, 5, 5});
  Add("深圳", "西安", "2013-03-02");
  bool nested = false;
  pump_.SetHook([&] {
    if (nested) return;
    nested = true;  // an editor saved and reloaded while the first row was being shown
    store_.UpdateRoute(StorePath(), G("0111090504"), U("广州"), U("重庆"), G("2013-03-01"),
                       G("500"), U("气泡"), G("5"));
    store_.LoadRoutes(StorePath(), list_);
  });
  store_.LoadRoutes(StorePath(), list_);
  EXPECT_EQ(Ids(), (std::vector<Text>{G("0111090503"), G("0111090504"), G("0111090505")}));
  EXPECT_EQ(list_.Cell(1, kColumnToCity), U("重庆"));
}

}  // namespace
}  // namespace vellora

namespace vellora {
namespace {

TEST(RefreshIntervalTest, StoredMinutesToTimerPeriod) {
  struct Case {
    const char* name;
    std::optional<std::string> file;  // nullopt: no Refresh_time.dat
    std::int32_t minutes;
    int period_ms;
  };
  const Case cases[] = {
      {"five", "[Refresh_time]\r\ntime=5\r\n", 5, 300000},
      {"fraction dropped", "[Refresh_time]\r\ntime=2.9\r\n", 2, 120000},
      {"empty value", "[Refresh_time]\r\ntime=\r\n", 0, 0},
      {"not a number", "[Refresh_time]\r\ntime=abc\r\n", 0, 0},
      {"negative stops the timer", "[Refresh_time]\r\ntime=-3\r\n", -3, 0},
      {"no file", std::nullopt, 0, 0},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    if (c.file) testing::WriteBytes(dir / "Refresh_time.dat", *c.file);
    const std::int32_t minutes = ReadRefreshMinutes(dir / "Refresh_time.dat");
    EXPECT_EQ(minutes, c.minutes) << c.name;
    EXPECT_EQ(RefreshPeriodMs(minutes), c.period_ms) << c.name;
  }
}

}  // namespace
}  // namespace vellora
