#pragma once

#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <filesystem>
#include <memory>

#include "app/exit.h"
#include "app/program_state.h"
#include "monitor/monitor.h"
#include "platform/clock.h"
#include "platform/qt/qt_sound.h"
#include "platform/qt/qt_ui.h"

namespace vellora {

// What the main window works with besides its own controls.
struct MainWindowContext {
  std::filesystem::path run_dir;
  const Clock& clock;
  EventPump& pump;
  Browser& browser;
  EndProcess end_process = EndProcessNow;
  TrayAvailable tray_available = SystemTrayAvailable;
};

class MainWindow : public QWidget {
 public:
  MainWindow(ProgramState& state, MainWindowContext context);

  // The rest of start-up: fills the window from the route store, shows it and arms the timers.
  void Create();

  void ClearRouteSummary();
  void RefreshRouteSummary();
  void ShowSelectedRouteSummary();
  void UpdateDateLine();
  bool ConfirmExit();
  void OpenHomePage();
  void HideToTray();
  void RestoreMainWindow();
  void OpenRouteMenu(const QPoint& global_position);
  void OpenBookingPage();

  ListView& MonitorList() { return *monitor_list_; }
  ListView& LatestFlights() { return *flights_list_; }
  Label& Status() { return *status_; }
  Timer& RefreshTimer() { return *refresh_timer_; }
  QtTrayIcon& Tray() { return *tray_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void ShowSummaryOfRow(int row);
  std::filesystem::path StorePath() const { return context_.run_dir / "data.dat"; }

  ProgramState& state_;
  MainWindowContext context_;

  QTreeWidget* monitor_tree_ = nullptr;
  QTreeWidget* flights_tree_ = nullptr;
  QWidget* summary_panel_ = nullptr;
  QLabel* summary_route_ = nullptr;
  QLabel* summary_date_ = nullptr;
  QLabel* summary_id_caption_ = nullptr;
  QLabel* summary_id_ = nullptr;
  QLabel* date_line_ = nullptr;
  QLabel* status_label_ = nullptr;
  QTimer* date_timer_ = nullptr;
  QTimer* refresh_qtimer_ = nullptr;
  QSystemTrayIcon* tray_icon_ = nullptr;
  QMenu* route_menu_ = nullptr;

  std::unique_ptr<QtListView> monitor_list_;
  std::unique_ptr<QtListView> flights_list_;
  std::unique_ptr<QtLabel> status_;
  std::unique_ptr<QtTimer> date_timer_period_;
  std::unique_ptr<QtTimer> refresh_timer_;
  std::unique_ptr<QtTrayIcon> tray_;
  QtSoundPlayer sound_player_;
  std::unique_ptr<MonitorContext> monitor_;
};

}  // namespace vellora
