// A second yardstick for the start-up benchmark: the empty window of empty_window.cpp, plus what
// any program built on our stack pays before doing any work of its own: libcurl and Qt Multimedia
// loaded (with the libraries they bring), and one label showing the Chinese texts the main window
// shows at start-up, so a CJK font is opened and its glyphs drawn. Where the program stands against
// this window is the part of its memory and start-up that is its own.
#include <curl/curl.h>

#include <QApplication>
#include <QLabel>
#include <QMediaPlayer>
#include <QWidget>

#include "app/startup_report.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // Uses one symbol of each library, so the linker keeps them even with --as-needed.
  const bool linked = curl_version() != nullptr && QMediaPlayer::staticMetaObject.className();
  QWidget window;
  window.resize(791, 549);
  QLabel label(&window);
  label.setGeometry(10, 10, 771, 529);
  label.setWordWrap(true);
  label.setText(QString::fromUtf8(
      "去哪儿 Vellora 2013版(支持国内,国际航班查询) 今天是 2026-12-11 星期五 帮助信息 "
      "北京-上海 2026-12-18 ID: 1211135214 出发城市 到达城市 出发日期 心理价位 提示方式 当前最低 "
      "有票 北京 上海 广州 成都 青岛 西安 气泡 音乐 NO. 航空公司&航班号 起飞 到达 最低价 "
      "软件问题反馈 状态:等待中... (读取中...) Vellora 开发组 http://127.0.0.1"));
  if (!linked) return 1;
  window.show();
  vellora::ReportFirstExposeIfAsked(window);
  return application.exec();
}
