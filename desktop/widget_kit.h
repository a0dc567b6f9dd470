// The small widget makers and the silent setters every window of the desktop shares: controls
// named for tests and refusals, labels with their buddies, exclusive pairs of choices, lists
// that keep a typed text as typed, and drawing a record's value without raising the signals
// that mean operator input.
#pragma once

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include <string>

#include "desktop/qt_text.h"

namespace vx {

inline QLabel* label_for(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  return label;
}

// Enter stays with a dialog's default button wherever the focus is.
inline QPushButton* push_button(const QString& text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

inline QRadioButton* radio_button(const QString& text, const char* name, QWidget* parent) {
  auto* button = new QRadioButton(text, parent);
  button->setObjectName(name);
  return button;
}

inline QCheckBox* check_box(const QString& text, const char* name, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(name);
  return box;
}

// The two choices of one setting; their own group keeps them apart from the other pairs of the
// same page.
inline void pair_up(QRadioButton* first, QRadioButton* second) {
  auto* group = new QButtonGroup(first->parent());
  group->addButton(first);
  group->addButton(second);
}

// A list whose text may also be typed. The typed text is kept as typed: completing it would turn
// a typed "20" into a listed "200", and a text confirmed with Enter must not join the list.
inline QComboBox* free_text_list(const char* name, QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->setCompleter(nullptr);
  return box;
}

inline void show_checked(QAbstractButton* button, bool on) {
  const QSignalBlocker blocker(button);
  button->setChecked(on);
}

inline void show_text(QLineEdit* edit, const std::string& text) {
  const QSignalBlocker blocker(edit);
  edit->setText(qt_text(text));
  edit->setCursorPosition(0);  // a long text shows its beginning
}

// The list keeps pointing at the entry the text names, so opening it shows that entry.
inline void show_text(QComboBox* box, const std::string& text) {
  const QSignalBlocker blocker(box);
  const QString shown = qt_text(text);
  box->setCurrentIndex(box->findText(shown));
  box->setEditText(shown);
}

}  // namespace vx
