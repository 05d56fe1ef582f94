// SPDX-License-Identifier: Apache-2.0
// The verification of an installation, over the run's own list of tables and
// keys: each table through the general table comparison, source first.
#include "installation/Verification.h"

#include <algorithm>

#include "dbengine/dbengine.h"
#include "installation/Installation.h"
#include "support/program_files.h"

namespace installation {

namespace {

bool SameName(const std::string& left, const std::string& right) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(), [&](char a, char b) { return lower(a) == lower(b); });
}

// Opens `path` for reading and starts the reading transaction that keeps
// every later read on one state of the file.
void OpenSnapshot(dbengine::Database& database, const std::string& path) {
  database.Open(path, {}, dbengine::OpenMode::kReadOnly);
  database.BeginTrans();
}

}  // namespace

bool KeyVerification::InPlace() const {
  return found && unique && found->size() == expected.size() &&
         std::equal(expected.begin(), expected.end(), found->begin(), SameName);
}

bool InstallationVerification::Identical() const {
  return std::all_of(tables.begin(), tables.end(),
                     [](const TableVerification& t) { return !t.error && t.rows.Identical(); }) &&
         std::all_of(keys.begin(), keys.end(), [](const KeyVerification& k) { return k.InPlace(); });
}

InstallationVerification VerifyInstallation(const std::string& dictionaryFolder, const std::string& dataFolder,
                                            const std::string& sourcePath, dbengine::Progress* progress) {
  dbengine::Database dictionary;
  dbengine::Database data;
  dbengine::Database source;
  OpenSnapshot(dictionary, support::DatabasePath(dictionaryFolder, kDictionaryDatabaseName));
  OpenSnapshot(data, support::DatabasePath(dataFolder, kDataDatabaseName));
  OpenSnapshot(source, sourcePath);

  InstallationVerification verification;
  for (const InstalledTable& table : kInstalledTables) {
    dbengine::Database& target = table.target == InstallationTarget::kDictionary ? dictionary : data;
    TableVerification& check = verification.tables.emplace_back();
    check.table = table.table;
    try {
      check.rows = transfer::CompareTables(source, table.table, target, table.table, progress,
                                           transfer::CompareMode::kTransferText);
    } catch (const dbengine::Error& error) {
      check.error = InstallationFailure{error.Number(), error.Description()};
    }
  }
  for (const RebuiltKey& key : kRebuiltKeys) {
    KeyVerification& check = verification.keys.emplace_back();
    check.table = key.table;
    check.expected = KeyFields(key);
    try {
      const dbengine::TableDef def = data.TableDefs(key.table);
      if (const dbengine::IndexDef* primary = def.PrimaryIndex()) {
        check.found = primary->fields;
        check.unique = primary->unique;
      }
    } catch (const dbengine::EngineError&) {
      // The table is gone (its comparison says why): so is its key.
    }
  }
  // Only reads were made: the handles' ends undo the reading transactions.
  return verification;
}

}  // namespace installation
