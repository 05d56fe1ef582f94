// SPDX-License-Identifier: Apache-2.0
// The start-up check: before the installer window is shown, the source database
// "CONVENTIONS_TEST_KVEL.mdb" must lie in the program folder (the folder of the running
// executable).
#ifndef APP_STARTUPCHECK_H_
#define APP_STARTUPCHECK_H_

#include <QString>
#include <filesystem>
#include <optional>
#include <string_view>

#include "installation/Installation.h"  // kSourceDatabaseName
#include "support/Fonctions.h"          // FindFileIgnoringCase

namespace app {

// Title of the box that reports a missing source database (with its trailing blank).
QString MissingSourceTitle();

// The folder of the running executable (support::ProgramFolder, the one way every program
// finds it): "/" separators, no trailing separator except for the root folder "/".
QString ProgramFolder();

// `folder` as a file-system path (Qt file-name encoding, UTF-8 here).
std::filesystem::path ToFileSystemPath(const QString& folder);

// The check itself. Nothing when the source database is in `programFolder`; otherwise the exact
// text of the message that reports it missing: the sentence, one carriage return and
// `programFolder` as given.
std::optional<QString> StartupCheckMessage(const QString& programFolder);

}  // namespace app

#endif  // APP_STARTUPCHECK_H_
