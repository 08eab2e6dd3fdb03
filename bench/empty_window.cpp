// The yardstick of the start-up benchmark: an empty Qt window of the main window's size.
#include <QApplication>
#include <QWidget>

#include "app/startup_report.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.resize(791, 549);
  window.show();
  vellora::ReportFirstExposeIfAsked(window);
  return application.exec();
}
