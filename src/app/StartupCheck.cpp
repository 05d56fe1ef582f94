// The start-up check and the case-blind lookup of database files in a folder.
#include "app/StartupCheck.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <system_error>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

bool IsRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// Letter-case-blind comparison limited to ASCII, independent of the process locale.
bool SameNameIgnoringCase(std::string_view left, std::string_view right) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(),
                    [&](char a, char b) { return lower(a) == lower(b); });
}

}  // namespace

QString MissingSourceTitle() { return u"Installation impossible "_s; }

QString ProgramFolder() { return QCoreApplication::applicationDirPath(); }

std::filesystem::path ToFileSystemPath(const QString& folder) {
  return std::filesystem::path(QFile::encodeName(folder).toStdString());
}

std::optional<std::filesystem::path> FindFileIgnoringCase(const std::filesystem::path& folder,
                                                          std::string_view name) {
  const std::filesystem::path exact = folder / std::filesystem::path(name);
  if (IsRegularFile(exact)) return exact;

  std::vector<std::filesystem::path> variants;
  std::error_code error;
  std::filesystem::directory_iterator entry(folder, error);
  for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    const std::string entryName = entry->path().filename().string();
    if (SameNameIgnoringCase(entryName, name) && IsRegularFile(entry->path())) {
      variants.push_back(entry->path());
    }
  }
  if (variants.empty()) return std::nullopt;
  // Directory order is arbitrary; sorting keeps the choice stable from one run to the next.
  return *std::min_element(variants.begin(), variants.end());
}

std::optional<QString> StartupCheckMessage(const QString& programFolder) {
  if (FindFileIgnoringCase(ToFileSystemPath(programFolder), kSourceDatabaseName)) {
    return std::nullopt;
  }
  return u"La base de données 'CONVENTIONS_TEST_KVEL' n'est pas présente sur le répertoire "
         u"en cours : \r"_s +
         programFolder;
}
