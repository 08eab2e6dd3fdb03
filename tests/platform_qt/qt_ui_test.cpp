#include "platform/qt/qt_ui.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <atomic>
#include <memory>
#include <thread>

#include "support/qt_wait.h"

namespace vellora {
namespace {

TEST(QtLabelTest, AnotherThreadsTextIsShownOnTheGuiThread) {
  QLabel widget;
  QtLabel label(&widget);
  std::thread([&] { label.SetText(Text::FromUtf8("状态:等待中...")); }).join();
  EXPECT_EQ(label.GetText().ToUtf8(), "状态:等待中...");
  EXPECT_TRUE(
      testing::SpinUntil([&] { return widget.text() == QStringLiteral("状态:等待中..."); }, 5000));
}

TEST(QtLabelTest, TheTextSetLastWinsOverAnEarlierQueuedOne) {
  QLabel widget;
  QtLabel label(&widget);
  std::thread([&] { label.SetText(Text::FromUtf8("older")); }).join();  // queued
  label.SetText(Text::FromUtf8("newer"));                               // direct
  QCoreApplication::processEvents();
  EXPECT_EQ(widget.text(), QStringLiteral("newer"));
  EXPECT_EQ(label.GetText().ToUtf8(), "newer");
}

TEST(QtLabelTest, QueuedTextForAVanishedLabelIsDropped) {
  {  // the widget goes first
    auto widget = std::make_unique<QLabel>();
    QtLabel label(widget.get());
    std::thread([&] { label.SetText(Text::FromUtf8("late")); }).join();
    widget.reset();
    QCoreApplication::processEvents();
    label.SetText(Text::FromUtf8("later"));
    EXPECT_EQ(label.GetText().ToUtf8(), "later");
  }
  {  // the wrapper goes first
    QLabel widget(QStringLiteral("kept"));
    auto label = std::make_unique<QtLabel>(&widget);
    std::thread([&] { label->SetText(Text::FromUtf8("late")); }).join();
    label.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(widget.text(), QStringLiteral("kept"));
  }
}

// A side thread that keeps writing while the window closes: the sanitizer builds catch any touch
// of the freed label.
TEST(QtLabelTest, AWriterRacingTheLabelsDestructionNeverTouchesIt) {
  auto widget = std::make_unique<QLabel>();
  auto label = std::make_shared<QtLabel>(widget.get());
  std::atomic<bool> stop = false;
  std::atomic<int> writes = 0;
  std::thread writer([&, label] {
    while (!stop) {
      label->SetText(Text::FromUtf8("tick"));
      ++writes;
    }
  });
  testing::SpinUntil([&] { return writes > 200; }, 5000);
  widget.reset();
  testing::SpinUntil([&] { return writes > 400; }, 5000);
  stop = true;
  writer.join();
  label.reset();
  QCoreApplication::processEvents();
  EXPECT_GT(writes, 400);
}

}  // namespace
}  // namespace vellora
