// Vellora: wires the program together and runs the GUI.
#include <QApplication>

#include "app/main_window.h"
#include "app/program_state.h"
#include "app/startup_report.h"
#include "platform/files.h"
#include "platform/qt/qt_sound.h"
#include "platform/qt/qt_ui.h"

int main(int argc, char** argv) {
  vellora::ChooseSoundBackend();
  QApplication application(argc, argv);
  // The program lives in the tray; only a confirmed exit ends it.
  application.setQuitOnLastWindowClosed(false);

  vellora::SystemClock clock;
  vellora::QtEventPump pump;
  vellora::QtBrowser browser;
  vellora::ProgramState state(clock, pump);
  vellora::MainWindow window(state, {vellora::RunDirectory(), clock, pump, browser});
  vellora::ReportFirstExposeIfAsked(window);
  window.Create();
  return application.exec();
}
