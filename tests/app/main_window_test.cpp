#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <optional>

#include "platform/qt/qt_text.h"
#include "platform/ui_memory.h"
#include "support/temp_dir.h"

namespace vellora {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

class RecordingBrowser final : public Browser {
 public:
  void Open(const Text& url) override { opened.push_back(url); }
  std::vector<Text> opened;
};

// Answers the next modal window when it appears: clicks the named button, or closes it.
void AnswerNextModal(const QString& button_name) {
  QTimer::singleShot(0, [button_name] {
    QWidget* modal = QApplication::activeModalWidget();
    ASSERT_NE(modal, nullptr);
    if (button_name.isEmpty()) {
      modal->close();
      return;
    }
    auto* button = modal->findChild<QAbstractButton*>(button_name);
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
  });
}

std::string Utf8(const QString& string) { return string.toStdString(); }

const char kTwoRoutes[] =
    "[0110080000]\r\n出发城市=青岛\r\n到达城市=成都\r\n出发日期=2013-01-11\r\n心理价位=500\r\n"
    "提示方式=气泡\r\n"
    "[0110080001]\r\n出发城市=北京\r\n到达城市=上海\r\n出发日期=2013-02-01\r\n心理价位=600\r\n"
    "提示方式=音乐\r\n"
    "[0110080002]\r\n出发城市=广州\r\n到达城市=西安\r\n出发日期=2013-03-01\r\n心理价位=700\r\n"
    "提示方式=气泡\r\n";

class MainWindowTest : public ::testing::Test {
 protected:
  // Seeds the run directory with UTF-8 text stored as GBK, as the Windows program writes it.
  void Seed(const char* name, const char* utf8) {
    WriteBytes(dir_ / name, Text::FromUtf8(utf8).Bytes());
  }
  MainWindow& Start() {
    window_.emplace(state_, MainWindowContext{dir_.Path(), clock_, pump_, browser_,
                                              [this](int code) { exit_codes_.push_back(code); },
                                              [this] { return tray_available_; }});
    window_->Create();
    return *window_;
  }
  template <typename T>
  T* Find(const char* name) {
    return window_->findChild<T*>(QString::fromUtf8(name));
  }
  std::string LabelText(const char* name) { return Utf8(Find<QLabel>(name)->text()); }

  TempDir dir_;
  FixedClock clock_{{2013, 1, 10, 8, 0, 0}};
  QtEventPump pump_;
  RecordingBrowser browser_;
  ProgramState state_{clock_, pump_};
  std::vector<int> exit_codes_;
  bool tray_available_ = true;
  std::optional<MainWindow> window_;
};

TEST_F(MainWindowTest, StartWithoutRoutes) {
  Start();
  EXPECT_EQ(Find<QTreeWidget>("超级列表框_监控列表")->topLevelItemCount(), 0);
  EXPECT_FALSE(Find<QWidget>("图片框_左侧备注")->isVisible());
  EXPECT_EQ(LabelText("透明标签_刷新状态"), "状态:暂无航线");
  EXPECT_EQ(window_->height(), 549);
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(MainWindowTest, StartWithRoutesShowsRowZeroAndColumns) {
  Seed("data.dat", kTwoRoutes);
  Start();
  auto* list = Find<QTreeWidget>("超级列表框_监控列表");
  ASSERT_EQ(list->topLevelItemCount(), 3);
  EXPECT_TRUE(Find<QWidget>("图片框_左侧备注")->isVisible());
  EXPECT_EQ(LabelText("透明标签_出发地到达地_左侧"), "青岛-成都");
  EXPECT_EQ(LabelText("透明标签_出发日期_左侧"), "2013-01-11");
  EXPECT_EQ(LabelText("透明标签_ID"), "ID:");
  EXPECT_EQ(LabelText("透明标签_ID_左侧"), "0110080000");
  EXPECT_EQ(LabelText("透明标签_刷新状态"), "状态:等待中...");

  struct Column {
    const char* title;
    int width;
    Qt::Alignment alignment;
  };
  const Column columns[] = {
      {"ID", 0, Qt::AlignLeft | Qt::AlignVCenter}, {"出发城市", 80, Qt::AlignCenter},
      {"到达城市", 80, Qt::AlignCenter},           {"出发日期", 100, Qt::AlignCenter},
      {"心理价位", 80, Qt::AlignCenter},           {"提示方式", 80, Qt::AlignCenter},
      {"当前最低", 120, Qt::AlignCenter},          {"有票", 60, Qt::AlignCenter},
  };
  ASSERT_EQ(list->columnCount(), 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(Utf8(list->headerItem()->text(i)), columns[i].title);
    EXPECT_EQ(list->isColumnHidden(i) ? 0 : list->columnWidth(i), columns[i].width) << i;
    EXPECT_EQ(Qt::Alignment(list->topLevelItem(1)->textAlignment(i)), columns[i].alignment) << i;
  }
  EXPECT_EQ(Utf8(list->topLevelItem(1)->text(5)), "音乐");
  auto* flights = Find<QTreeWidget>("超级列表框_最新10班信息");
  ASSERT_EQ(flights->columnCount(), 5);
  EXPECT_EQ(Utf8(flights->headerItem()->text(1)), "航空公司&航班号");
  EXPECT_EQ(flights->columnWidth(0), 40);
}

TEST_F(MainWindowTest, ClicksOnTheMonitorList) {
  Seed("data.dat", kTwoRoutes);
  Start();
  auto* list = Find<QTreeWidget>("超级列表框_监控列表");
  // Below the last row: no row is selected, the panel keeps row 0.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    QPoint(50, list->viewport()->height() - 5));
  EXPECT_EQ(LabelText("透明标签_ID_左侧"), "0110080000");
  const QRect row2 = list->visualItemRect(list->topLevelItem(2));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row2.center());
  EXPECT_EQ(LabelText("透明标签_出发地到达地_左侧"), "广州-西安");
  EXPECT_EQ(LabelText("透明标签_ID_左侧"), "0110080002");
  EXPECT_EQ(LabelText("透明标签_刷新状态"), "状态:等待中...");
  // An empty part again: the panel stays on row 2.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    QPoint(50, list->viewport()->height() - 5));
  EXPECT_EQ(LabelText("透明标签_ID_左侧"), "0110080002");
}

TEST_F(MainWindowTest, DateLine) {
  struct Case {
    LocalDateTime now;
    const char* line;
  };
  const Case cases[] = {
      {{2013, 1, 11, 9, 0, 0}, "今天是 2013-1-11 星期五"},
      {{2013, 12, 1, 0, 0, 0}, "今天是 2013-12-1 星期日"},
  };
  Start();
  for (const Case& c : cases) {
    clock_.Set(c.now);
    window_->UpdateDateLine();
    EXPECT_EQ(LabelText("透明标签_今天日期星期"), c.line);
  }
  EXPECT_EQ(Find<QTimer>("时钟_日期星期")->interval(), 1000);
  EXPECT_TRUE(Find<QTimer>("时钟_日期星期")->isActive());
}

TEST_F(MainWindowTest, RefreshTimerArmedFromTheStoredInterval) {
  struct Case {
    const char* stored;  // nullptr: no Refresh_time.dat
    int minutes;
    bool active;
    int interval;
  };
  const Case cases[] = {
      {"5", 5, true, 300000}, {"2.9", 2, true, 120000}, {"", 0, false, 0},
      {"abc", 0, false, 0},   {"-3", -3, false, 0},     {nullptr, 0, false, 0},
  };
  for (const Case& c : cases) {
    if (c.stored != nullptr) {
      WriteBytes(dir_ / "Refresh_time.dat",
                 std::string("[Refresh_time]\r\ntime=") + c.stored + "\r\n");
    } else {
      std::filesystem::remove(dir_ / "Refresh_time.dat");
    }
    state_.RefreshMinutes = 0;
    window_.reset();
    Start();
    auto* timer = Find<QTimer>("时钟_定时刷新");
    EXPECT_EQ(state_.RefreshMinutes, c.minutes) << (c.stored ? c.stored : "none");
    EXPECT_EQ(timer->isActive(), c.active) << (c.stored ? c.stored : "none");
    if (c.active) {
      EXPECT_EQ(timer->interval(), c.interval);
    }
  }
}

TEST_F(MainWindowTest, ExitAsksAndOnlyConfirmationEndsTheProgram) {
  Start();
  WriteBytes(dir_ / "data_below.dat", "[x]\r\n");
  const auto still_running = [&] {
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(window_->Tray().IsShown());
    EXPECT_EQ(ReadBytes(dir_ / "data_below.dat"), "[x]\r\n");
    EXPECT_TRUE(exit_codes_.empty());
  };

  AnswerNextModal(QStringLiteral("图形按钮_退出取消"));
  QTest::mouseClick(Find<QAbstractButton>("图形按钮_关闭"), Qt::LeftButton);
  still_running();

  AnswerNextModal(QString());  // closed without a button: cancel
  EXPECT_FALSE(window_->ConfirmExit());
  still_running();

  AnswerNextModal(QStringLiteral("图形按钮_退出取消"));
  EXPECT_FALSE(window_->close());  // a close request of the system asks the same
  still_running();

  AnswerNextModal(QStringLiteral("图形按钮_退出确认"));
  EXPECT_TRUE(window_->ConfirmExit());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "data_below.dat"));
  EXPECT_FALSE(window_->Tray().IsShown());
  EXPECT_EQ(exit_codes_, std::vector<int>{0});
}

TEST_F(MainWindowTest, ConfirmingWithoutDataBelowStillEnds) {
  Start();
  AnswerNextModal(QStringLiteral("图形按钮_退出确认"));
  EXPECT_TRUE(window_->ConfirmExit());
  EXPECT_EQ(exit_codes_, std::vector<int>{0});
}

TEST_F(MainWindowTest, HelpWindowIsModalAndKeepsItsLines) {
  Start();
  std::vector<std::string> lines;
  bool modal = false;
  QTimer::singleShot(0, [&] {
    QWidget* help = QApplication::activeModalWidget();
    ASSERT_NE(help, nullptr);
    modal = help->objectName() == QStringLiteral("HelpWindow") && help->isModal();
    const QString text = help->findChild<QLabel*>(QStringLiteral("透明标签_提示内容"))->text();
    for (const QString& line : text.split(QLatin1Char('\n'))) lines.push_back(Utf8(line));
    QTest::mouseClick(help->findChild<QAbstractButton*>(QStringLiteral("图形按钮_确认")),
                      Qt::LeftButton);
  });
  auto* help_label = Find<QLabel>("透明标签3");
  EXPECT_EQ(help_label->cursor().shape(), Qt::PointingHandCursor);
  QTest::mouseClick(help_label, Qt::LeftButton);
  EXPECT_TRUE(modal);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "1.主窗口上面列表框中显示的是所有监控航线信息");
  EXPECT_EQ(lines[4], "5.右键点击对应的监控航线可自动打开去哪儿官网进行查询和预定");
  EXPECT_EQ(lines[5], "");
  EXPECT_EQ(lines[6].rfind("注:", 0), 0u);
  EXPECT_EQ(lines[7], "   此版本支持国内,国际航班查询");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainWindowTest, CreditLabelOpensTheHomePage) {
  Start();
  auto* credit = Find<QLabel>("透明标签_作者信息");
  EXPECT_EQ(credit->cursor().shape(), Qt::PointingHandCursor);
  QTest::mouseClick(credit, Qt::LeftButton);
  ASSERT_EQ(browser_.opened.size(), 1u);
  EXPECT_EQ(browser_.opened[0].Bytes().rfind("http://", 0), 0u);
}

TEST_F(MainWindowTest, ListBackgroundGoesThroughATemporaryFileThatIsNeverALink) {
  TempDir temp;
  setenv("temp", temp.Path().c_str(), 1);
  const auto victim = temp / "victim";
  WriteBytes(victim, "precious");
  std::filesystem::create_symlink(victim, temp / "dozlin_lv.dzl");
  Start();
  unsetenv("temp");
  EXPECT_EQ(ReadBytes(victim), "precious");
  const std::string gif = ReadBytes(temp / "dozlin_lv.dzl");
  EXPECT_EQ(gif.substr(0, 6), "GIF89a");
  QImage image;
  ASSERT_TRUE(
      image.loadFromData(reinterpret_cast<const uchar*>(gif.data()), static_cast<int>(gif.size())));
  EXPECT_EQ(image.size(), QSize(501, 280));
}

TEST_F(MainWindowTest, MinimiseHidesToTheTrayAndTheTrayBringsItBack) {
  Start();
  QTest::mouseClick(Find<QAbstractButton>("图形按钮_最小化"), Qt::LeftButton);
  QCoreApplication::processEvents();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(window_->Tray().BalloonsShown(), 1);

  auto* tray = window_->findChild<QSystemTrayIcon*>(QStringLiteral("托盘图标1"));
  emit tray->activated(QSystemTrayIcon::Trigger);
  QCoreApplication::processEvents();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(window_->isMinimized());
  EXPECT_EQ(window_->Tray().BalloonsShown(), 1);  // restoring shows none

  window_->showMinimized();  // a minimise by the system hides the same way
  QCoreApplication::processEvents();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(window_->Tray().BalloonsShown(), 2);
  emit tray->activated(QSystemTrayIcon::DoubleClick);
  QCoreApplication::processEvents();
  EXPECT_TRUE(window_->isVisible());

  // The tray menu: "显示界面" restores, "退出系统" asks.
  auto* menu = tray->contextMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->objectName(), QStringLiteral("菜单"));
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(Utf8(menu->actions()[0]->text()), "显示界面");
  AnswerNextModal(QStringLiteral("图形按钮_退出取消"));
  menu->actions()[1]->trigger();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(exit_codes_.empty());
}

TEST_F(MainWindowTest, WithoutATrayMinimisingKeepsTheWindowWithinReach) {
  tray_available_ = false;
  Start();
  QTest::mouseClick(Find<QAbstractButton>("图形按钮_最小化"), Qt::LeftButton);
  QCoreApplication::processEvents();
  EXPECT_TRUE(window_->isMinimized());
  EXPECT_TRUE(window_->isVisible());  // still in the task bar
  EXPECT_EQ(window_->Tray().BalloonsShown(), 0);
  // An alert without a tray still reaches the user, as a popup.
  window_->Tray().ShowBalloon("发现特价机票"_gbk, Text::FromGbk("x"), 30000);
  bool popup = false;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    popup = popup || (widget->objectName() == QStringLiteral("AlertPopup") && widget->isVisible());
  }
  EXPECT_TRUE(popup);
}

TEST_F(MainWindowTest, RouteMenuOpensTheBookingPage) {
  Seed("data.dat", kTwoRoutes);
  Start();
  auto* list = Find<QTreeWidget>("超级列表框_监控列表");
  auto* menu = Find<QMenu>("航线操作菜单");
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 1);
  EXPECT_EQ(Utf8(menu->actions()[0]->text()), "到官网订票");

  // No row selected: the menu opens, its item does nothing.
  window_->OpenRouteMenu(QPoint(10, 10));
  EXPECT_TRUE(menu->isVisible());
  menu->actions()[0]->trigger();
  menu->hide();
  EXPECT_TRUE(browser_.opened.empty());

  list->setCurrentItem(list->topLevelItem(0));
  window_->OpenRouteMenu(QPoint(10, 10));
  menu->actions()[0]->trigger();
  menu->hide();
  ASSERT_EQ(browser_.opened.size(), 1u);
  const std::string url = browser_.opened[0].ToUtf8();
  const std::string path =
      "/site/oneway_list.htm?searchDepartureAirport=青岛&searchArrivalAirport=成都"
      "&searchDepartureTime=2013-01-11&searchArrivalTime=2010-11-04&nextNDays=0"
      "&startSearch=true&from=fi_ont_search";
  EXPECT_EQ(url.rfind("http://", 0), 0u);
  EXPECT_EQ(url.substr(url.size() - path.size()), path);
  // The browser gets the cities percent-encoded as UTF-8.
  const QByteArray encoded = BrowserUrl(browser_.opened[0]).toEncoded();
  EXPECT_NE(encoded.indexOf("searchDepartureAirport=%E9%9D%92%E5%B2%9B&"), -1) << encoded.data();
}

}  // namespace
}  // namespace vellora
