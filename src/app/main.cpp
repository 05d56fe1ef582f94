// SPDX-License-Identifier: Apache-2.0
// install-conventions: the installer's entry. It creates the one window, runs its load check
// (which may end the program with status 1 before anything is shown), shows it and waits until
// it is closed: status 1 after an installation that reported a failure, else 0. The program
// reads no command line, environment variable or configuration.
#include <QApplication>

#include "app/QtFrench.h"
#include "app/StartupCheck.h"
#include "app/frmInstallFichiers.h"

using namespace Qt::StringLiterals;

int main(int argc, char* argv[]) {
  // Only the program's name is passed on: Qt would otherwise take options from the command line.
  int qtArgumentCount = argc > 0 ? 1 : 0;
  QApplication application(qtArgumentCount, argv);
  QCoreApplication::setApplicationVersion(u"1.00"_s);
  // The window's class (WM_CLASS) and the desktop entry's name agree, so that docks and taskbars
  // match the window to its menu entry. No display name is set: Qt would append it to the title
  // of every message box; the window's own title carries it (DisplayName()).
  QCoreApplication::setApplicationName(u"installateur-conventions"_s);
  QGuiApplication::setDesktopFileName(u"installateur-conventions"_s);
  QApplication::setWindowIcon(ApplicationIcon());
  // Without the translations, Qt's own texts stay English; the installer works all the same.
  InstallQtFrench(application);

  frmInstallFichiers window;
  if (!window.Form_Load(ProgramFolder())) return 1;
  window.show();
  const int status = QApplication::exec();
  return window.InstallationFailed() ? 1 : status;
}
