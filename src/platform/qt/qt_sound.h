#pragma once

#include <QAudioOutput>
#include <QMediaPlayer>
#include <memory>

#include "platform/ui.h"

namespace vellora {

// The music alert through Qt Multimedia's GStreamer backend.
class QtSoundPlayer final : public SoundPlayer {
 public:
  QtSoundPlayer();
  ~QtSoundPlayer() override;
  bool IsPlaying() const override;
  void PlayOnce(const std::filesystem::path& path) override;

 private:
  // The output comes first: a player without one never leaves the playing state.
  std::unique_ptr<QAudioOutput> output_;
  std::unique_ptr<QMediaPlayer> player_;
};

}  // namespace vellora
