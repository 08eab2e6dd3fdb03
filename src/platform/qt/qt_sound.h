#pragma once

#include <QAudioOutput>
#include <QMediaPlayer>
#include <memory>

#include "platform/ui.h"

namespace vellora {

// The music alert through Qt Multimedia, set up at the first alert so that start-up does not
// pay for it. Call ChooseSoundBackend first thing in main().
void ChooseSoundBackend();

class QtSoundPlayer final : public SoundPlayer {
 public:
  QtSoundPlayer() = default;
  ~QtSoundPlayer() override;
  bool IsPlaying() const override;
  void PlayOnce(const std::filesystem::path& path) override;

 private:
  void SetUp();
  // The output comes first: a player without one never leaves the playing state.
  std::unique_ptr<QAudioOutput> output_;
  std::unique_ptr<QMediaPlayer> player_;
};

}  // namespace vellora
