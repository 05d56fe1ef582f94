// Qt's own French: the translations Qt ships for the texts it makes itself (the file dialog's
// labels, buttons, column headers, tool tips and context menu, the standard buttons, the text
// boxes' context menu). The installer loads them at start-up so that every text it shows is
// French, whatever the process's locale; the window's own texts are never translated.
#ifndef APP_QTFRENCH_H_
#define APP_QTFRENCH_H_

class QCoreApplication;

// Loads "qtbase_fr" from Qt's translations folder (QLibraryInfo::TranslationsPath; Debian:
// qt6-translations-l10n) and installs it in `application`, which owns it from then on. False,
// with nothing installed, when the file is missing or unreadable: Qt then speaks English.
bool InstallQtFrench(QCoreApplication& application);

#endif  // APP_QTFRENCH_H_
