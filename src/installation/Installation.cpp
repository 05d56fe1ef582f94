// SPDX-License-Identifier: Apache-2.0
// The installation run. Each step of the working phase is trapped on its own:
// a failure abandons that step only, and the run goes on to its end. The
// first failure is kept (the root cause: a database that could not be opened
// is reported by its open, not by the later close of its handle) and shown
// before the completion message. A table whose export failed is not imported,
// so its target keeps its rows and a stale transfer file is never loaded.
#include "installation/Installation.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <functional>
#include <optional>
#include <string_view>

#include "dbengine/dbengine.h"
#include "support/Fonctions.h"
#include "transfer/VidangeTables.h"

namespace {

constexpr char kSeparator = '/';

constexpr char kAttention[] = "Attention";

class WorkingPhase {
 public:
  explicit WorkingPhase(InstallationHost& host) : host_(host) {
    // A target held by another program's write costs the run one wait, not one per statement.
    for (dbengine::Database* target : {&data_, &dictionary_}) {
      target->SetLockWaitCallback([&host] { host.WhileWaiting(); });
      target->SetFailAtOnceAfterLockTimeout(true);
    }
  }

  void Run(const std::string& dictionaryPath, const std::string& dataPath, const std::string& dataFolder,
           const std::string& sourcePath) {
    Step([&] { data_.Open(dataPath); });
    Step([&] { dictionary_.Open(dictionaryPath); });
    Step([&] { source_.Open(sourcePath); });

    std::array<bool, kInstalledTables.size()> exported{};
    for (std::size_t entry = 0; entry < kInstalledTables.size(); ++entry) {
      const InstalledTable& table = kInstalledTables[entry];
      std::string separator;
      const std::string result =
          ExportTableToText(source_, table.table, dataFolder + table.fileName, separator, host_.Progress());
      exported[entry] = Transfer(result, table.table);
    }
    for (const std::string& statement : KeyStatements()) Step([&] { data_.Execute(statement); });
    for (std::size_t entry : kImportOrder) {
      if (!exported[entry]) continue;
      const InstalledTable& table = kInstalledTables[entry];
      std::string separator;
      dbengine::Database& target = table.target == InstallationTarget::kDictionary ? dictionary_ : data_;
      Transfer(ImportTextIntoTable(target, table.table, dataFolder + table.fileName, -1, separator, host_.Progress()),
               table.table);
    }
    Step([&] { data_.Close(); });
    Step([&] { dictionary_.Close(); });
    Step([&] { source_.Close(); });

    if (failed_) {
      host_.ShowMessage(
          "Une erreur est survenue lors de l'ajout des conventions de tests dans la base !\r\nerreur n°" +
              std::to_string(first_.number) + "\r\n" + first_.description,
          "Erreur d'installation", MessageIcon::Exclamation);
    }
    for (const InstalledTable& entry : kInstalledTables) {
      // A transfer file that was never written, or cannot be removed, is
      // passed over: the installation itself is done. Copies that a killed
      // run's exports left under temporary names go with it.
      RemoveTransferFile(dataFolder + entry.fileName);
    }
  }

  bool Failed() const { return failed_; }
  const InstallationFailure& First() const { return first_; }

 private:
  void Record(std::int32_t number, std::string description) {
    if (failed_) return;
    failed_ = true;
    first_ = {number, std::move(description)};
  }

  void Step(const std::function<void()>& step) {
    try {
      step();
    } catch (const dbengine::Error& error) {
      Record(error.Number(), error.Description());
    } catch (const std::exception& error) {
      Record(51, std::string("Erreur interne : ") + error.what());
    }
  }

  // Records a transfer result other than success. Its description names the
  // table as the error form does: "(TABLE name):description", the import's
  // warning included.
  bool Transfer(const std::string& result, const char* table) {
    if (result == kTransferSuccess) return true;
    std::size_t at = 3;  // after "ERR"
    if (at < result.size() && result[at] == '-') ++at;
    while (at < result.size() && result[at] >= '0' && result[at] <= '9') ++at;
    std::int32_t number = 0;
    try {
      number = static_cast<std::int32_t>(std::stol(result.substr(3, at - 3)));
    } catch (const std::exception&) {
      number = 51;
    }
    std::string description = result.substr(at);
    if (description.rfind(" (TABLE ", 0) == 0) {
      description.erase(0, 1);
    } else {
      description = std::string("(TABLE ") + table + ")" + description;
    }
    Record(number, std::move(description));
    return false;
  }

  InstallationHost& host_;
  dbengine::Database data_;
  dbengine::Database dictionary_;
  dbengine::Database source_;
  bool failed_ = false;
  InstallationFailure first_;
};

}  // namespace

std::vector<std::string> KeyFields(const RebuiltKey& key) {
  std::vector<std::string> fields;
  for (const char* field : key.fields) {
    if (field != nullptr) fields.emplace_back(field);
  }
  return fields;
}

std::vector<std::string> KeyStatements() {
  std::vector<std::string> statements;
  for (const RebuiltKey& key : kRebuiltKeys) {
    std::string fields;
    for (const std::string& field : KeyFields(key)) fields += (fields.empty() ? "" : ",") + field;
    statements.push_back(std::string("ALTER TABLE ") + key.table + " DROP CONSTRAINT PrimaryKey");
    statements.push_back(std::string("ALTER TABLE ") + key.table + " ADD CONSTRAINT PrimaryKey PRIMARY KEY (" +
                         fields + ")");
  }
  return statements;
}

std::string WithSeparator(std::string folder) {
  if (folder.empty() || folder.back() != kSeparator) folder.push_back(kSeparator);
  return folder;
}

std::optional<std::string> FindDatabase(const std::string& folder, std::string_view name) {
  const std::string built = folder + std::string(name);
  if (PathExists(built)) return built;
  if (const auto variant = FindFileIgnoringCase(folder, name)) return variant->string();
  return std::nullopt;
}

InstallationOutcome RunInstallationSteps(InstallationHost& host, InstallationFailure* failure) {
  if (host.DictionaryFolderText().empty()) {
    host.ShowMessage("Le chemin de la base Lexbase.mdb n'est pas spécifié !", kAttention,
                     MessageIcon::Critical);
    return InstallationOutcome::kNotStarted;
  }
  if (host.DataFolderText().empty()) {
    host.ShowMessage("Le chemin de la base Patbase.mdb n'est pas spécifié !", kAttention,
                     MessageIcon::Critical);
    return InstallationOutcome::kNotStarted;
  }
  const std::string dictionaryFolder = WithSeparator(host.DictionaryFolderText());
  const std::string dataFolder = WithSeparator(host.DataFolderText());
  const std::string programFolder = WithSeparator(host.ProgramFolder());

  const std::optional<std::string> dictionaryPath = FindDatabase(dictionaryFolder, kDictionaryDatabaseName);
  if (!dictionaryPath) {
    host.ShowMessage("Base " + dictionaryFolder + "lexbase.mdb non trouvée !", kAttention,
                     MessageIcon::Critical);
    return InstallationOutcome::kNotStarted;
  }
  const std::optional<std::string> dataPath = FindDatabase(dataFolder, kDataDatabaseName);
  if (!dataPath) {
    host.ShowMessage("Base " + dataFolder + "patbase.mdb non trouvée !", kAttention,
                     MessageIcon::Critical);
    return InstallationOutcome::kNotStarted;
  }
  const std::string sourcePath = host.SourceDatabasePath().value_or(
      FindDatabase(programFolder, kSourceDatabaseName).value_or(programFolder + std::string(kSourceDatabaseName)));

  host.SetOkEnabled(false);
  host.SetWaitCursor(true);
  WorkingPhase working(host);
  working.Run(*dictionaryPath, *dataPath, dataFolder, sourcePath);
  if (failure != nullptr) *failure = working.First();
  host.SetWaitCursor(false);
  host.ShowMessage("Installation terminée.", "Installation des conventions de tests du KVEL",
                   MessageIcon::Information);
  host.Quit();
  return working.Failed() ? InstallationOutcome::kFailed : InstallationOutcome::kCompleted;
}
