// SPDX-License-Identifier: Apache-2.0
// The installation run as the OK button starts it: the run's steps over the
// installer window's fields, buttons, pointer and message boxes.
#include "InstallationRun.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>

#include "frmInstallFichiers.h"
#include "installation/Installation.h"

namespace app {

namespace {

OperatorMessages::Icon BoxIcon(installation::MessageIcon icon) {
  switch (icon) {
    case installation::MessageIcon::Critical:
      return OperatorMessages::Icon::Critical;
    case installation::MessageIcon::Exclamation:
      return OperatorMessages::Icon::Exclamation;
    case installation::MessageIcon::Information:
      break;
  }
  return OperatorMessages::Icon::Information;
}

// Refuses the window's closing (the window manager's close button) while the
// run waits: the run closes the window itself at its end.
class CloseRefusal : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Close) return QObject::eventFilter(watched, event);
    event->ignore();
    return true;
  }
};

class WindowHost : public installation::InstallationHost {
 public:
  explicit WindowHost(frmInstallFichiers& window) : window_(window) {}

  std::string DictionaryFolderText() const override { return window_.CheminApplication().toStdString(); }
  std::string DataFolderText() const override { return window_.CheminMedecin().toStdString(); }
  std::string ProgramFolder() const override { return window_.ProgramFolder().toStdString(); }
  void ShowMessage(const std::string& text, const std::string& title, installation::MessageIcon icon) override {
    window_.Messages().Show(QString::fromStdString(text), QString::fromStdString(title), BoxIcon(icon));
  }
  void SetOkEnabled(bool enabled) override { window_.SetOkEnabled(enabled); }
  void SetWaitCursor(bool waiting) override { window_.SetWaitCursor(waiting); }
  void Quit() override { window_.cmdQuitter_Click(); }
  void WhileWaiting() override {
    // Paint events and the hourglass are handled; keys and clicks stay
    // queued until the run is over.
    window_.installEventFilter(&closeRefusal_);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    window_.removeEventFilter(&closeRefusal_);
  }

 private:
  frmInstallFichiers& window_;
  CloseRefusal closeRefusal_;
};

}  // namespace

void RunInstallation(frmInstallFichiers& window) {
  WindowHost host(window);
  // The run's last step closes the window, which stays alive until the
  // program ends: the outcome is read from it for the exit status.
  const installation::InstallationOutcome outcome = installation::RunInstallationSteps(host);
  window.SetInstallationFailed(outcome == installation::InstallationOutcome::kFailed);
}

}  // namespace app
