// The main window's refresh timer and double-click reach the monitor, against the sample site.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTreeWidget>
#include <optional>

#include "app/main_window.h"
#include "platform/qt/qt_text.h"
#include "sample_site_fixture.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"

namespace vellora {
namespace {

class NoBrowser final : public Browser {
 public:
  void Open(const Text&) override {}
};

class MonitorWiringTest : public ::testing::Test {
 protected:
  MonitorWiringTest() {
    testing::WriteBytes(dir_ / "data.dat",
                        Text::FromUtf8("[0110080000]\r\n出发城市=北京\r\n到达城市=上海\r\n"
                                       "出发日期=2013-01-20\r\n心理价位=99999\r\n提示方式=其他\r\n"
                                       "[0110080001]\r\n出发城市=广州\r\n到达城市=成都\r\n"
                                       "出发日期=2013-01-21\r\n心理价位=1\r\n提示方式=气泡\r\n")
                            .Bytes());
    window_.emplace(state_, MainWindowContext{dir_.Path(), clock_, pump_, browser_, [](int) {}});
    window_->Create();
  }
  std::string Cell(int row, int column) {
    return window_->MonitorList().Cell(row, column).ToUtf8();
  }
  std::string Status() { return window_->Status().GetText().ToUtf8(); }

  testing::TempDir dir_;
  FixedClock clock_{{2013, 1, 10, 8, 0, 0}};
  QtEventPump pump_;
  NoBrowser browser_;
  ProgramState state_{clock_, pump_};
  std::optional<MainWindow> window_;
};

TEST_F(MonitorWiringTest, DoubleClickSearchesTheRouteAtOnce) {
  auto* list = window_->findChild<QTreeWidget*>(QStringLiteral("超级列表框_监控列表"));
  const QPoint row1 = list->visualItemRect(list->topLevelItem(1)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row1);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row1);
  EXPECT_GT(window_->LatestFlights().RowCount(), 0);
  EXPECT_EQ(Cell(1, 6).rfind("￥", 0), 0u) << Cell(1, 6);
  EXPECT_EQ(Cell(1, 7), "");  // no mark, no alert from a manual refresh
  EXPECT_EQ(Status().rfind("状态:搜索到", 0), 0u) << Status();
  EXPECT_EQ(Cell(0, 6), "");
}

TEST_F(MonitorWiringTest, TheRefreshTimerRunsACycleAndGetsItsPeriodBack) {
  window_->RefreshTimer().SetPeriod(50);
  ASSERT_TRUE(testing::SpinUntil([&] { return Status() == "状态:搜索航线完毕"; }, 20000))
      << Status();
  EXPECT_EQ(state_.Monitor.LastRefreshDate.ToUtf8(), "2013-1-10");
  EXPECT_EQ(Cell(0, 7), "Y");
  EXPECT_EQ(Cell(1, 7), "N");
  EXPECT_EQ(window_->RefreshTimer().Period(), 50);
  window_->RefreshTimer().SetPeriod(0);
}

}  // namespace
}  // namespace vellora
