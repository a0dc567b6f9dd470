// The modal "Audio Settings" dialog: its one page, "PCM Settings", lists the PCM and G.711
// variants of an AudioSettings record and gives back the chosen row on OK.
#pragma once

#include <QDialog>

#include "settings/audio_settings.h"

class QListWidget;

namespace vx {

class AudioSettingsDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit AudioSettingsDialog(AudioSettings settings, QWidget* parent = nullptr);

  // The record with the row chosen at OK.
  const AudioSettings& settings() const { return settings_; }

  void accept() override;

 private:
  AudioSettings settings_;
  QListWidget* variants_ = nullptr;
};

}  // namespace vx
