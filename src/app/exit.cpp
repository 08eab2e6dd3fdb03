#include "app/exit.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "side/chrome.h"

namespace vellora {

ExitConfirmWindow::ExitConfirmWindow(ProgramState& state) {
  setObjectName(QStringLiteral("ExitConfirmWindow"));
  ApplyWindowChrome(this, {QSize(260, 154), WindowMove::kDragBySurface, true, true});
  setModal(true);
  auto* strip = new PictureBox(this, QStringLiteral("图片框1"), QRect(0, 0, 260, 31),
                               palette::kStripTop, palette::kStripBottom);
  MakeTransparentLabel(strip, QStringLiteral("透明标签2"), QRect(34, 4, 32, 24),
                       QStringLiteral("退出"), Qt::white, UiFont(QStringLiteral("幼圆"), 12));
  auto* body = new PictureBox(this, QStringLiteral("图片框2"), QRect(0, 29, 260, 124),
                              palette::kBodyTop, palette::kBodyBottom);
  auto* question = new PictureButton(body, QStringLiteral("图片框_退出询问"), QRect(31, 25, 32, 32),
                                     ButtonGlyph::kQuestion, palette::kButton);
  question->setEnabled(false);  // a picture, not a button
  MakeTransparentLabel(body, QStringLiteral("透明标签1"), QRect(79, 30, 104, 24),
                       QStringLiteral("是否确认退出?"), Qt::black,
                       UiFont(QStringLiteral("宋体"), 12));
  auto* confirm = new PictureButton(body, QStringLiteral("图形按钮_退出确认"),
                                    QRect(104, 72, 60, 20), ButtonGlyph::kTick, palette::kButton);
  auto* cancel = new PictureButton(body, QStringLiteral("图形按钮_退出取消"),
                                   QRect(177, 72, 60, 20), ButtonGlyph::kCross, palette::kButton);
  connect(confirm, &QAbstractButton::clicked, this, [this, &state] {
    state.ExitAnswer = 1;
    accept();
  });
  connect(cancel, &QAbstractButton::clicked, this, [this, &state] {
    state.ExitAnswer = 0;
    reject();
  });
}

void EndProcessNow(int code) {
  // At once: a confirmed exit may come in the middle of a nested wait, and nothing is left to
  // save (routes are written when they are edited).
  std::fflush(nullptr);
  std::_Exit(code);
}

bool ConfirmExit(ProgramState& state, const std::filesystem::path& run_dir, TrayIcon& tray,
                 const EndProcess& end_process) {
  {
    ExitConfirmWindow window(state);
    window.exec();
  }
  if (state.ExitAnswer != 1) return false;
  std::error_code ignored;  // no data_below.dat is no error
  std::filesystem::remove(run_dir / "data_below.dat", ignored);
  tray.SetShown(false);
  end_process(0);
  return true;
}

}  // namespace vellora
