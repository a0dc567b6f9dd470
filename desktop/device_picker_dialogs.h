// The pickers behind the browse buttons in Qt: the capture device dialog, the DeckLink card
// picker (a source's capture card or a target's playback card) and the NDI source picker. Each
// draws the picker record it is handed (window_logic/device_pickers.h), reads its widgets back into
// it and forwards the clicks; the record decides what OK or Select gives. A refusal is shown in a
// box and the dialog stays open with the focus on the control the refusal names.
#pragma once

#include <QDialog>

#include <optional>
#include <string>

#include "window_logic/device_pickers.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QTimer;

namespace vx {

// "Capture Device Config": the video and audio device and the capture size. The live preview,
// the drivers' own property pages and the crossbar and TV tuner boxes have no counterpart on
// this system and are not shown; options of that kind read from the address stay in the record.
class CaptureDeviceDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit CaptureDeviceDialog(CaptureDevicePicker& picker, QWidget* parent = nullptr);

  // After OK: the device text for the source's address.
  const std::optional<std::string>& device_text() const { return device_text_; }

 private:
  void draw();
  void read_widgets();
  void ok();

  CaptureDevicePicker& picker_;
  QComboBox* video_ = nullptr;
  QComboBox* audio_ = nullptr;
  QComboBox* width_ = nullptr;
  QComboBox* height_ = nullptr;
  std::optional<std::string> device_text_;
};

// "DeckLink Card Config": the cards for the picker's use and the chosen card's formats.
class DeckLinkDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit DeckLinkDialog(DeckLinkPicker& picker, QWidget* parent = nullptr);

  // After Select: the card and the format, when one was chosen.
  const std::optional<DeckLinkChoice>& choice() const { return choice_; }

 private:
  void draw_formats();
  void select();

  DeckLinkPicker& picker_;
  QListWidget* devices_ = nullptr;
  QListWidget* formats_ = nullptr;
  std::optional<DeckLinkChoice> choice_;
};

// "NewTek NDI Config": the sources a search finds within the timeout. The search runs on the
// record's own thread; a timer here asks whether it has ended, so the window keeps running. The
// busy cursor shows while a search runs and is given back however the dialog closes.
class NdiSourcePicker final : public QDialog {
  Q_OBJECT

 public:
  explicit NdiSourcePicker(NdiPicker& picker, QWidget* parent = nullptr);
  ~NdiSourcePicker() override;

  // After Select: the source's name and the timeout.
  const std::optional<NdiChoice>& choice() const { return choice_; }

  void done(int result) override;

 private:
  void search();
  void poll();
  void draw_sources();
  void show_busy(bool busy);
  void select();

  NdiPicker& picker_;
  QListWidget* sources_ = nullptr;
  QLineEdit* timeout_ = nullptr;
  QTimer* first_search_ = nullptr;
  QTimer* poll_ = nullptr;
  bool busy_ = false;
  std::optional<NdiChoice> choice_;
};

}  // namespace vx
