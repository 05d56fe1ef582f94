// SPDX-License-Identifier: Apache-2.0
// The installation run. Each step of the working phase is trapped on its own:
// a failure abandons that step only, and the run goes on to its end. The
// first failure is kept (the root cause: a database that could not be opened
// is reported by its open, not by the later close of its handle) and shown
// before the completion message. A table whose export failed is not imported,
// so its target keeps its rows and a stale transfer file is never loaded.
#include "installation/Installation.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <functional>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "dbengine/dbengine.h"
#include "support/ending_signals.h"
#include "support/program_files.h"
#include "transfer/VidangeTables.h"
#include "transfer/transfer_file.h"

namespace installation {

namespace {

constexpr char kAttention[] = "Attention";

// The data folder and the dictionary folder, held for one run: an exclusive
// flock on each folder itself, opened for reading. Nothing is written, and
// the system releases the locks when the process ends, killed or not. A
// folder named twice (both databases in one folder) is held once, and the
// folders are taken in one order (device, then inode) whatever their roles,
// so that two runs never hold one each. A folder that cannot be opened, or
// whose file system does not lock, is passed over: the run goes on as it
// would without another run.
class FolderLocks {
 public:
  FolderLocks() = default;
  FolderLocks(const FolderLocks&) = delete;
  FolderLocks& operator=(const FolderLocks&) = delete;
  ~FolderLocks() { Release(); }

  // Lets the folders go: closing a descriptor releases its lock.
  void Release() {
    for (const Held& held : held_) ::close(held.fd);
    held_.clear();
  }

  // Takes `folders`, waiting up to host.BusyWait() for another run. Returns
  // the folder (as named) that stayed busy, or nothing when all are held.
  std::optional<std::string> Take(const std::vector<std::string>& folders, InstallationHost& host) {
    for (const std::string& folder : folders) {
      const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0) continue;
      struct stat status {};
      if (::fstat(fd, &status) != 0 ||
          std::any_of(held_.begin(), held_.end(), [&](const Held& held) {
            return held.device == status.st_dev && held.inode == status.st_ino;
          })) {
        ::close(fd);
        continue;
      }
      held_.push_back({fd, status.st_dev, status.st_ino, folder});
    }
    std::sort(held_.begin(), held_.end(), [](const Held& left, const Held& right) {
      return std::pair(left.device, left.inode) < std::pair(right.device, right.inode);
    });
    const auto deadline = std::chrono::steady_clock::now() + host.BusyWait();
    bool waited = false;
    std::optional<std::string> busy;
    for (const Held& held : held_) {
      while (::flock(held.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) break;  // a file system without locks
        if (std::chrono::steady_clock::now() >= deadline) {
          busy = held.folder;
          break;
        }
        if (!waited) host.SetWaitCursor(true);
        waited = true;
        host.WhileWaiting();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (busy) break;
    }
    if (waited) host.SetWaitCursor(false);
    return busy;
  }

  // The descriptor of `folder` when it is held, else -1.
  int FolderFd(const std::string& folder) const {
    for (const Held& held : held_) {
      if (held.folder == folder) return held.fd;
    }
    return -1;
  }

 private:
  struct Held {
    int fd;
    dev_t device;
    ino_t inode;
    std::string folder;
  };
  std::vector<Held> held_;
};

// While the working phase runs, SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a
// closed terminal) remove the transfer files, which hold the source's rows,
// and this process's named temporaries of them, then end the process as
// they would have; a process that handles or ignores them itself keeps its
// way. The handler only unlinks names written beforehand, relative to the
// data folder held by the run (so that no other run's files are touched).
constexpr unsigned kTemporaryAttempts = 4;
constexpr std::size_t kRemovedCount = kInstalledTables.size() * (1 + kTemporaryAttempts);
char removedOnSignal[kRemovedCount][NAME_MAX + 1];
int removalFolderFd = -1;

extern "C" void RemoveTransferFilesAndEnd(int signal) {
  for (const char* name : removedOnSignal) {
    if (name[0] != '\0') ::unlinkat(removalFolderFd, name, 0);
  }
  support::EndBySignal(signal);
}

class TransferFilesRemovalOnSignal {
 public:
  explicit TransferFilesRemovalOnSignal(int folderFd) {
    if (folderFd < 0) return;
    std::size_t at = 0;
    for (const InstalledTable& table : kInstalledTables) {
      std::vector<std::string> names = {table.fileName};
      for (unsigned attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        names.push_back(transfer::NamedTemporaryOf(table.fileName, attempt));
      }
      for (const std::string& name : names) {
        if (name.size() <= NAME_MAX) std::snprintf(removedOnSignal[at], NAME_MAX + 1, "%s", name.c_str());
        ++at;
      }
    }
    removalFolderFd = folderFd;
    support::HandleEndingSignals(RemoveTransferFilesAndEnd, previous_, installed_);
  }
  TransferFilesRemovalOnSignal(const TransferFilesRemovalOnSignal&) = delete;
  TransferFilesRemovalOnSignal& operator=(const TransferFilesRemovalOnSignal&) = delete;
  ~TransferFilesRemovalOnSignal() {
    support::RestoreEndingSignals(previous_, installed_);
    for (auto& name : removedOnSignal) name[0] = '\0';
    removalFolderFd = -1;
  }

 private:
  struct sigaction previous_[support::kEndingSignalCount] {};
  bool installed_[support::kEndingSignalCount] = {};
};

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
      exported[entry] =
          Transfer(transfer::ExportTable(source_, table.table, dataFolder + table.fileName, {}, host_.Progress()));
    }
    for (std::size_t key = 0; key < kRebuiltKeys.size(); ++key) Step([&] { RebuildKey(data_, key); });
    for (std::size_t entry : kImportOrder) {
      if (!exported[entry]) continue;
      const InstalledTable& table = kInstalledTables[entry];
      dbengine::Database& target = table.target == InstallationTarget::kDictionary ? dictionary_ : data_;
      Transfer(transfer::ImportTable(target, table.table, dataFolder + table.fileName,
                                     transfer::ImportMode::kClearFirst, {}, host_.Progress()));
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
      transfer::RemoveTransferFile(dataFolder + entry.fileName);
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

  // Records a transfer result other than success, the import's warning
  // included; its description names the table: "(TABLE name):description".
  bool Transfer(const transfer::TransferResult& result) {
    if (result.Succeeded()) return true;
    Record(result.number, "(TABLE " + result.table + "):" + result.description);
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

void InstallationHost::ShowBusy(const InstallationFailure& busy) {
  ShowMessage(busy.description, kAttention, MessageIcon::Critical);
}

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

void RebuildKey(dbengine::Database& data, std::size_t key, const std::function<void()>& dropped) {
  const std::vector<std::string> statements = KeyStatements();
  data.BeginTrans();
  try {
    try {
      data.Execute(statements.at(2 * key));
    } catch (const dbengine::Error& error) {
      if (error.Number() != 3371) throw;  // already missing: added below
    }
    if (dropped) dropped();
    data.Execute(statements.at(2 * key + 1));
  } catch (...) {
    try {
      data.Rollback();
    } catch (const dbengine::Error&) {
      // The transaction already ended inside SQLite (a full disk): nothing of it is kept.
    }
    throw;
  }
  data.CommitTrans();
}

std::string InstallationHost::ProgramFolder() const { return support::InstalledFilesFolder(kSourceDatabaseName); }

std::string SourceDatabaseOf(const InstallationHost& host) {
  return host.SourceDatabasePath().value_or(support::DatabasePath(host.ProgramFolder(), kSourceDatabaseName));
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
  const std::string dictionaryFolder = support::WithSeparator(host.DictionaryFolderText());
  const std::string dataFolder = support::WithSeparator(host.DataFolderText());

  const std::optional<std::string> dictionaryPath = support::FindDatabase(dictionaryFolder, kDictionaryDatabaseName);
  if (!dictionaryPath) {
    host.ShowMessage("Base " + dictionaryFolder + "lexbase.mdb non trouvée !", kAttention,
                     MessageIcon::Critical);
    return InstallationOutcome::kNotStarted;
  }
  const std::optional<std::string> dataPath = support::FindDatabase(dataFolder, kDataDatabaseName);
  if (!dataPath) {
    host.ShowMessage("Base " + dataFolder + "patbase.mdb non trouvée !", kAttention,
                     MessageIcon::Critical);
    return InstallationOutcome::kNotStarted;
  }
  const std::string sourcePath = SourceDatabaseOf(host);

  FolderLocks locks;
  if (const std::optional<std::string> busy = locks.Take({dataFolder, dictionaryFolder}, host)) {
    const InstallationFailure refusal{kInstallationBusy, "Impossible d'utiliser le dossier « " + *busy +
                                                             " » : une autre installation y travaille. Rien "
                                                             "n'a été modifié ; relancez l'installation quand "
                                                             "elle sera terminée."};
    if (failure != nullptr) *failure = refusal;
    host.ShowBusy(refusal);
    return InstallationOutcome::kNotStarted;
  }

  host.SetOkEnabled(false);
  host.SetWaitCursor(true);
  WorkingPhase working(host);
  {
    const TransferFilesRemovalOnSignal removal(locks.FolderFd(dataFolder));
    working.Run(*dictionaryPath, *dataPath, dataFolder, sourcePath);
  }
  locks.Release();  // the working phase is over; the completion box may wait for the operator
  if (failure != nullptr) *failure = working.First();
  host.SetWaitCursor(false);
  host.ShowMessage("Installation terminée.", "Installation des conventions de tests du KVEL",
                   MessageIcon::Information);
  host.Quit();
  return working.Failed() ? InstallationOutcome::kFailed : InstallationOutcome::kCompleted;
}

}  // namespace installation
