// SPDX-License-Identifier: Apache-2.0
// The start-up check: the source database in the program folder.
#include "StartupCheck.h"

#include <QFile>

#include "support/program_files.h"

using namespace Qt::StringLiterals;

namespace app {

QString MissingSourceTitle() { return u"Installation impossible "_s; }

QString ProgramFolder() { return QFile::decodeName(support::ProgramFolder().c_str()); }

std::filesystem::path ToFileSystemPath(const QString& folder) {
  return std::filesystem::path(QFile::encodeName(folder).toStdString());
}

std::optional<QString> StartupCheckMessage(const QString& programFolder) {
  if (support::FindFileIgnoringCase(ToFileSystemPath(programFolder), installation::kSourceDatabaseName)) {
    return std::nullopt;
  }
  return u"La base de données 'CONVENTIONS_TEST_KVEL' n'est pas présente sur le répertoire "
         u"en cours : \r"_s +
         programFolder;
}

}  // namespace app
