#include "platform/qt/qt_sound.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <functional>

#include "support/qt_wait.h"
#include "support/temp_dir.h"

namespace vellora {
namespace {

TEST(QtSoundPlayerTest, PlaysTheAlertOnceAndThenStops) {
  QtSoundPlayer player;
  EXPECT_FALSE(player.IsPlaying());
  player.PlayOnce(ALERT_SOUND_PATH);
  EXPECT_TRUE(testing::SpinUntil([&] { return player.IsPlaying(); }, 5000));
  // The chime lasts about 1.4 s; without a sound server it plays into a dummy output.
  EXPECT_TRUE(testing::SpinUntil([&] { return !player.IsPlaying(); }, 15000));
}

TEST(QtSoundPlayerTest, MissingOrDamagedFilesPlayNothing) {
  testing::TempDir dir;
  QtSoundPlayer player;
  player.PlayOnce(dir / "ts.mp3");
  EXPECT_FALSE(player.IsPlaying());
  testing::WriteBytes(dir / "broken.mp3", std::string(4096, '\x5a'));
  player.PlayOnce(dir / "broken.mp3");
  EXPECT_TRUE(testing::SpinUntil([&] { return !player.IsPlaying(); }, 10000));
}

}  // namespace
}  // namespace vellora
