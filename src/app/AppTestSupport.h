// SPDX-License-Identifier: Apache-2.0
// Test support for the installer window's tests: a registry of Qt Test classes run by
// AppTestMain.cpp in one binary, scripted stand-ins for the message boxes and the file-open
// dialog, and a helper that answers a modal dialog from inside its own event loop.
#ifndef APP_APPTESTSUPPORT_H_
#define APP_APPTESTSUPPORT_H_

#include <QApplication>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "FileOpenDialog.h"
#include "OperatorMessages.h"

namespace app {

using TestFactory = std::function<std::unique_ptr<QObject>()>;

// The test classes of the binary, in registration order.
std::vector<TestFactory>& RegisteredTests();

// Adds test class `T` to the binary; use as `static const bool registered = RegisterTest<T>();`.
template <typename T>
bool RegisterTest() {
  RegisteredTests().push_back([] { return std::make_unique<T>(); });
  return true;
}

// Records every box instead of showing it; the operator's answer is always OK.
class ScriptedMessages : public OperatorMessages {
 public:
  struct Box {
    QString text;
    QString title;
    Icon icon;
  };
  std::vector<Box> boxes;

  void Show(const QString& text, const QString& title, Icon icon) override {
    boxes.push_back({text, title, icon});
  }
};

// Answers each opening of the dialog from a script and records what the dialog held.
class ScriptedFileOpenDialog : public FileOpenDialog {
 public:
  struct Opening {
    QString title;
    QString fileName;
    QString filter;
    bool cancelError;
  };
  std::vector<Opening> openings;
  // One answer per opening: a chosen path, or kCancel for a cancel. Once the script is used up,
  // every further opening is cancelled, so a handler that loops too often still ends.
  static inline const QString kCancel = QStringLiteral("<cancel>");
  QStringList answers;

 protected:
  std::optional<QString> AskForFile() override {
    openings.push_back({DialogTitle, FileName, Filter, CancelError});
    if (answers.isEmpty()) return std::nullopt;
    const QString answer = answers.takeFirst();
    if (answer == kCancel) return std::nullopt;
    return answer;
  }
};

// Arms a zero-timer that, once the event loop of a modal dialog of type `Dialog` runs, hands
// the dialog to `answer` (which must close it). Call it just before the code that opens the
// dialog.
template <typename Dialog>
void AnswerNextModal(std::function<void(Dialog*)> answer) {
  QTimer::singleShot(0, qApp, [answer] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (dialog != nullptr) {
      answer(dialog);
    } else if (QWidget* other = QApplication::activeModalWidget()) {
      other->close();  // not the dialog expected: close it so that the test fails, not hangs
    }
  });
}

}  // namespace app

#endif  // APP_APPTESTSUPPORT_H_
