// SPDX-License-Identifier: Apache-2.0
// The installation run, without a window: the checking phase on the two
// folder texts, then the working phase that opens the three databases,
// exports the five tables, rebuilds two primary keys, imports the tables,
// closes the databases, reports, removes the transfer files and closes.
// The window runs it through RunInstallation(frmInstallFichiers&), `vidange
// install` through its command-line host; tests and benchmarks run the same
// code through their own host. The five tables, their transfer files and
// targets, and the rebuilt keys are defined here once, for the run and for
// the verification of an installation (installation/Verification.h).
#ifndef INSTALLATION_INSTALLATION_H_
#define INSTALLATION_INSTALLATION_H_

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/progress.h"

namespace dbengine {
class Database;
}

namespace installation {

// Name of the source database, looked for in the program folder.
inline constexpr std::string_view kSourceDatabaseName = "CONVENTIONS_TEST_KVEL.mdb";
// Names of the two target databases, appended to their folders.
inline constexpr std::string_view kDictionaryDatabaseName = "lexbase.mdb";
inline constexpr std::string_view kDataDatabaseName = "patbase.mdb";

enum class InstallationTarget { kDictionary, kData };

// One table the installation carries, through its transfer file in the data
// folder, from the source database to the same table of its target.
struct InstalledTable {
  const char* table;
  const char* fileName;
  InstallationTarget target;
};

// In export order; the imports take the dictionary tables first (kImportOrder).
inline constexpr std::array<InstalledTable, 5> kInstalledTables = {{
    {"CentreServicesAMC", "TB_CentreServiceAMC.txt", InstallationTarget::kDictionary},
    {"Conventions", "TB_Conventions.txt", InstallationTarget::kData},
    {"CONVENTIONS_REGROUPEMENT", "TB_ConventionsRegroup.txt", InstallationTarget::kData},
    {"CONVENTIONS_TYPE", "TB_ConventionsType.txt", InstallationTarget::kData},
    {"CORRESPONDANCE_MUTNUM_AMC", "TB_CorrespondanceMutnum.txt", InstallationTarget::kDictionary},
}};
inline constexpr std::array<std::size_t, 5> kImportOrder = {0, 4, 1, 2, 3};

// A primary key (constraint PrimaryKey) the run rebuilds in the data
// database, between the exports and the imports: its fields in key order.
struct RebuiltKey {
  const char* table;
  std::array<const char*, 6> fields;  // unused places are null
};
inline constexpr std::array<RebuiltKey, 2> kRebuiltKeys = {{
    {"CONVENTIONS_REGROUPEMENT", {"NumeroAMC", "TypeConvention", "CritereSecondaire", "NumeroSignataire"}},
    {"CONVENTIONS",
     {"NumOrganismeSignataire", "TypeConvention", "CritereSecondaire", "TypeAccord", "NumAMC",
      "IndicateurConventionGroupee"}},
}};

// The fields of `key`, in order.
std::vector<std::string> KeyFields(const RebuiltKey& key);

// The statements that rebuild the keys, in order: for each key, the drop of
// its constraint, then its addition.
std::vector<std::string> KeyStatements();

// Rebuilds key `key` (an index of kRebuiltKeys) of the open data database
// `data`: its two statements of KeyStatements() in one transaction, so that
// the key is there before and after, whatever ends the process between them.
// A key already missing (the drop fails with 3371) is added all the same.
// Any other failure undoes the drop and is thrown. `dropped`, when given, is
// called between the drop and the addition.
void RebuildKey(dbengine::Database& data, std::size_t key, const std::function<void()>& dropped = {});

// The style of a message of the run.
enum class MessageIcon { Critical, Exclamation, Information };

// A failure of a working phase, or the refusal of a busy installation: its
// number and description.
struct InstallationFailure {
  std::int32_t number = 0;
  std::string description;
};

// The number of the refusal when another run holds one of the two folders.
inline constexpr std::int32_t kInstallationBusy = 3045;

// What the run needs of the window. Texts are UTF-8.
class InstallationHost {
 public:
  virtual ~InstallationHost() = default;
  virtual std::string DictionaryFolderText() const = 0;  // txtCheminApplication, as typed
  virtual std::string DataFolderText() const = 0;        // txtCheminMedecin, as typed
  // The folder of the program's files, where the source database is looked
  // for: by default the one that holds it among the package's program folder,
  // the build tree's sample folder and the program's own folder
  // (support/program_files.h).
  virtual std::string ProgramFolder() const;
  // A modal box; returns once the operator has dismissed it.
  virtual void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) = 0;
  virtual void SetOkEnabled(bool enabled) = 0;
  virtual void SetWaitCursor(bool waiting) = 0;
  virtual void Quit() = 0;  // the cancel button's handler: closes the window
  // Called every few tens of milliseconds while a step waits for another
  // program's write to a target: the window keeps its picture, taking no input.
  virtual void WhileWaiting() {}
  // The source database to read instead of the one in the program folder.
  virtual std::optional<std::string> SourceDatabasePath() const { return std::nullopt; }
  // Told the rows done of each export and import; nothing by default.
  virtual dbengine::Progress* Progress() { return nullptr; }
  // How long the run waits for another run that holds the data folder or the
  // dictionary folder before it refuses to start.
  virtual std::chrono::milliseconds BusyWait() const { return std::chrono::seconds(30); }
  // Tells that another run holds a folder and that nothing was done: by
  // default a critical "Attention" box holding the description.
  virtual void ShowBusy(const InstallationFailure& busy);
};

// The source database the run reads for `host`: host.SourceDatabasePath(),
// else the one in host.ProgramFolder() (found whatever the letter case of its
// name; the path as built when it is missing, for the open to report).
std::string SourceDatabaseOf(const InstallationHost& host);

enum class InstallationOutcome {
  kNotStarted,  // a check failed, or another run held a folder, and its message
                // was shown; nothing was changed and the window stays open
  kCompleted,   // the working phase ran to its end without any failure
  kFailed,      // the working phase ran to its end and reported its first failure
};

// Runs the installation for `host`, from the checks to the closing of the
// window. The working phase holds the data folder and the dictionary folder
// (flock on the folders themselves: no file is created, and the system lets
// them go when the process ends, however it ends): another run on either
// waits host.BusyWait(), calling host.WhileWaiting(), then refuses with
// kNotStarted. While the phase runs, SIGINT, SIGTERM and SIGHUP remove the
// five transfer files (and this process's temporaries of them) before they
// end the process as they would have, unless the process handles them
// itself. `failure`, when given, receives the first failure of the working
// phase, or the refusal of a busy installation.
InstallationOutcome RunInstallationSteps(InstallationHost& host, InstallationFailure* failure = nullptr);

}  // namespace installation

#endif  // INSTALLATION_INSTALLATION_H_
