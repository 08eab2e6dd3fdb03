#include "side/help_window.h"

#include <QStringList>

#include "side/chrome.h"

namespace vellora {

HelpWindow::HelpWindow() {
  setObjectName(QStringLiteral("HelpWindow"));
  ApplyWindowChrome(this, {QSize(472, 263), WindowMove::kDragBySurface, true, true});
  setModal(true);
  setAttribute(Qt::WA_DeleteOnClose, false);

  auto* strip = new PictureBox(this, QStringLiteral("图片框1"), QRect(0, 0, 472, 31),
                               palette::kStripTop, palette::kStripBottom);
  MakeTransparentLabel(strip, QStringLiteral("透明标签2"), QRect(58, 4, 70, 24),
                       QStringLiteral("帮助说明"), Qt::white, UiFont(QStringLiteral("幼圆"), 12));
  auto* body = new PictureBox(this, QStringLiteral("图片框2"), QRect(0, 28, 472, 235),
                              palette::kBodyTop, palette::kBodyBottom);
  const QStringList lines = {
      QStringLiteral("1.主窗口上面列表框中显示的是所有监控航线信息"),
      QStringLiteral("2.主窗口下面列表框中显示对应航线的所有航班信息"),
      QStringLiteral("3.所有航线会自动刷新,首次打开软件需要等到设定的监控时间才会刷新"),
      QStringLiteral("4.双击对应航线可以立即刷新,会显示出票价信息,但不会有提示"),
      QStringLiteral("5.右键点击对应的监控航线可自动打开去哪儿官网进行查询和预定"),
      QString(),
      QStringLiteral(
          "注:本版本由 Vellora 2012版改写而来,在网上搜索\"Vellora 机票价格监控\"即可找到本软件"),
      QStringLiteral("   此版本支持国内,国际航班查询"),
  };
  QLabel* text =
      MakeTransparentLabel(body, QStringLiteral("透明标签_提示内容"), QRect(15, 22, 440, 172),
                           lines.join(QLatin1Char('\n')), Qt::black,
                           UiFont(QStringLiteral("微软雅黑"), 12), Qt::AlignLeft | Qt::AlignTop);
  text->setWordWrap(true);
  auto* ok = new PictureButton(body, QStringLiteral("图形按钮_确认"), QRect(400, 202, 60, 20),
                               ButtonGlyph::kTick, palette::kButton);
  connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
}

void OpenHelpWindow() {
  HelpWindow window;
  window.exec();
}

}  // namespace vellora
