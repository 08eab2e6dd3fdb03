#include "platform/qt/qt_sound.h"

#include <QUrl>
#include <system_error>

namespace vellora {

void ChooseSoundBackend() {
  // Qt's FFmpeg backend crashes on machines without a sound device; GStreamer plays into a
  // dummy output there. Set before any thread starts, as the environment is not thread-safe.
  if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) {
    qputenv("QT_MEDIA_BACKEND", QByteArrayLiteral("gstreamer"));
  }
}

void QtSoundPlayer::SetUp() {
  if (player_) return;
  output_ = std::make_unique<QAudioOutput>();
  player_ = std::make_unique<QMediaPlayer>();
  player_->setAudioOutput(output_.get());
  // A damaged file reports an error but stays "playing": stop it, so later alerts still play.
  QObject::connect(player_.get(), &QMediaPlayer::errorOccurred, player_.get(),
                   [player = player_.get()] { player->stop(); });
}

QtSoundPlayer::~QtSoundPlayer() {
  if (player_) player_->stop();
  player_.reset();
}

bool QtSoundPlayer::IsPlaying() const {
  return player_ && player_->playbackState() == QMediaPlayer::PlayingState;
}

void QtSoundPlayer::PlayOnce(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return;  // no sound, no report
  SetUp();
  player_->setSource(QUrl::fromLocalFile(QString::fromStdString(path.string())));
  player_->setLoops(1);
  player_->play();
}

}  // namespace vellora
