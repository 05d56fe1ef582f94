// SPDX-License-Identifier: Apache-2.0
// Qt's own French: the translations Qt ships for the texts it makes itself (the file dialog's
// labels, buttons, column headers, tool tips and context menu, the standard buttons, the text
// boxes' context menu). The installer loads them at start-up so that every text it shows is
// French, whatever the process's locale; the window's own texts are never translated.
#ifndef APP_QTFRENCH_H_
#define APP_QTFRENCH_H_

class QCoreApplication;

namespace app {

// Loads "qtbase_fr" from Qt's translations folder (QLibraryInfo::TranslationsPath; Debian:
// qt6-translations-l10n) and installs it in `application`, which owns it from then on, then the
// installer's own catalogue of the few texts Qt's lacks (the file list's type names); and makes
// French (France) Qt's default locale, so that the texts Qt takes from its locale data, such as
// the file dialog's file type names, are French too (the file dialog writes its sizes and dates
// in French itself, FileOpenDialog.cpp). False, with no translation installed, when the file is missing or unreadable:
// Qt's own texts then stay English.
bool InstallQtFrench(QCoreApplication& application);

}  // namespace app

#endif  // APP_QTFRENCH_H_
