#include "desktop/audio_settings_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "desktop/qt_text.h"

namespace vx {

AudioSettingsDialog::AudioSettingsDialog(AudioSettings settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(kAudioSettingsTitle);
  auto* page = new QWidget;
  auto* page_layout = new QVBoxLayout(page);
  variants_ = new QListWidget;
  variants_->setObjectName("pcm_encoding");
  for (const PcmVariant& variant : kPcmVariants)
    variants_->addItem(qt_text(variant.text));
  variants_->setFixedHeight(variants_->sizeHintForRow(0) * static_cast<int>(kPcmVariants.size()) +
                            2 * variants_->frameWidth() + 4);
  auto* label = new QLabel("Encoding");
  label->setBuddy(variants_);
  page_layout->addWidget(label);
  page_layout->addWidget(variants_);
  page_layout->addStretch(1);
  if (settings_.enabled && settings_.selected >= 0) variants_->setCurrentRow(settings_.selected);
  page->setEnabled(settings_.enabled);

  auto* tabs = new QTabWidget;
  tabs->addTab(page, kPcmSettingsTab);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &AudioSettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &AudioSettingsDialog::reject);
  // A double click on a variant chooses it and closes, as OK would.
  connect(variants_, &QListWidget::itemActivated, this, &AudioSettingsDialog::accept);
  variants_->setFocus();
}

void AudioSettingsDialog::accept() {
  if (settings_.enabled) settings_.selected = variants_->currentRow();
  QDialog::accept();
}

}  // namespace vx
