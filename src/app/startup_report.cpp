#include "app/startup_report.h"

#include <QEvent>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vellora {
namespace {

class ExposeReporter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
      std::fputs("shown\n", stdout);
      std::fflush(stdout);
      watched->removeEventFilter(this);
      deleteLater();
    }
    return false;
  }
};

}  // namespace

void ReportFirstExposeIfAsked(QWidget& window) {
  const char* asked = std::getenv("VELLORA_REPORT_SHOWN");
  if (asked == nullptr || std::strcmp(asked, "1") != 0) return;
  window.winId();  // makes sure the native window exists
  if (QWindow* handle = window.windowHandle())
    handle->installEventFilter(new ExposeReporter(handle));
}

}  // namespace vellora
