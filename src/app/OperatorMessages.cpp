// SPDX-License-Identifier: Apache-2.0
// The message boxes of the installer window over QMessageBox.
#include "OperatorMessages.h"

#include <QWidget>

using namespace Qt::StringLiterals;

namespace app {

MessageBoxes::MessageBoxes(QWidget* owner) : owner_(owner) {}

void MessageBoxes::Show(const QString& text, const QString& title, Icon icon) {
  QWidget* parent = owner_ && owner_->isVisible() ? owner_.data() : nullptr;
  QMessageBox box(MessageBoxIcon(icon), title, DisplayedText(text), QMessageBox::Ok, parent);
  // The texts are plain sentences: a "<" in a folder name must not turn them into rich text.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

QMessageBox::Icon MessageBoxIcon(OperatorMessages::Icon icon) {
  switch (icon) {
    case OperatorMessages::Icon::Critical:
      return QMessageBox::Critical;
    case OperatorMessages::Icon::Exclamation:
      return QMessageBox::Warning;
    case OperatorMessages::Icon::Information:
      return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

QString DisplayedText(const QString& text) {
  QString displayed = text;
  displayed.replace(u"\r\n"_s, u"\n"_s);
  displayed.replace(u'\r', u'\n');
  return displayed;
}

}  // namespace app
