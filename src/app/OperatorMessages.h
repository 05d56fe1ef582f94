// SPDX-License-Identifier: Apache-2.0
// Operator messages: the modal boxes through which the installer window speaks to the operator.
// The window owns one OperatorMessages and shows every box through it, so tests can read each
// box's exact text, title and icon and answer it without a screen.
#ifndef APP_OPERATORMESSAGES_H_
#define APP_OPERATORMESSAGES_H_

#include <QMessageBox>
#include <QPointer>
#include <QString>

class QWidget;

namespace app {

class OperatorMessages {
 public:
  // The three box styles the installer uses: critical (a problem with the operator's input or
  // with the installation's prerequisites), exclamation (the run's error report) and
  // information (the completion message).
  enum class Icon { Critical, Exclamation, Information };

  virtual ~OperatorMessages() = default;

  // Shows a modal box with `text`, `title`, `icon` and one OK button, and returns once the
  // operator has dismissed it. `text` and `title` are the exact texts of the installer: a
  // carriage return in `text` stands for a line break.
  virtual void Show(const QString& text, const QString& title, Icon icon) = 0;
};

// The real boxes: a QMessageBox with the matching icon and an OK button only.
class MessageBoxes : public OperatorMessages {
 public:
  // Boxes are centred on `owner` while it is visible, otherwise on the screen (the start-up
  // check speaks before the window is ever shown). `owner` may be null; it is not owned.
  explicit MessageBoxes(QWidget* owner = nullptr);

  void Show(const QString& text, const QString& title, Icon icon) override;

 private:
  QPointer<QWidget> owner_;
};

// The icon a box of style `icon` shows.
QMessageBox::Icon MessageBoxIcon(OperatorMessages::Icon icon);

// `text` as a box displays it: each carriage return, alone or followed by a line feed, becomes
// one line feed. The installer's texts keep their carriage returns; only the display changes.
QString DisplayedText(const QString& text);

}  // namespace app

#endif  // APP_OPERATORMESSAGES_H_
