// SPDX-License-Identifier: Apache-2.0
// The copy of a database into a new engine database. The target is built
// under a temporary name in its own folder, so that the final rename stays
// on one file system; the build is one transaction on a file nobody else
// knows, with its journal in memory and no flush until the end, and each
// table's indexes are made once its rows are in. Only then is the file
// flushed, renamed without replacing anything, and the folder flushed. A
// temporary left by a killed copy carries the host and process that made it,
// so that the next copy into the folder can tell it is nobody's any more.
#include "dbengine/database_copy.h"
#include "dbengine/durable.h"
#include "dbengine/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>

#include "dbengine/storage.h"

namespace dbengine {
namespace {

constexpr char kTemporaryMark[] = ".~vc.";

std::string FolderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// The temporary file a copy is built in: created empty under a name of its
// own, removed with its companions unless published.
class TemporaryTarget {
 public:
  explicit TemporaryTarget(const std::string& targetPath) : target_(targetPath) {
    for (unsigned attempt = 0;; ++attempt) {
      path_ = TemporaryNameFor(targetPath, kTemporaryMark, attempt);
      const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        ::close(fd);
        return;
      }
      const int error = errno;
      if (error != EEXIST || attempt >= 100) {
        path_.clear();
        if (error == ENOSPC || error == EDQUOT) throw DiskWriteError(error, targetPath);
        throw EngineError(3051, "Impossible de créer la base de données « " + targetPath + " ».");
      }
    }
  }
  TemporaryTarget(const TemporaryTarget&) = delete;
  TemporaryTarget& operator=(const TemporaryTarget&) = delete;
  ~TemporaryTarget() {
    if (path_.empty()) return;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((path_ + suffix).c_str());
  }

  const std::string& Path() const { return path_; }

  // Flushes the complete file, gives it the target's name (never replacing
  // a file that appeared there) and flushes the folder that records it.
  void Publish() {
    if (const int error = SyncPath(path_)) throw DiskWriteError(error, target_);
    if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) != 0) {
      int error = errno;
      if (error == EINVAL || error == ENOSYS) {
        // A file system without the no-replace rename: a link fails just as
        // surely on an existing name.
        error = ::link(path_.c_str(), target_.c_str()) == 0 ? 0 : errno;
        if (error == 0) ::unlink(path_.c_str());
      }
      if (error == EEXIST) throw EngineError(3204, "La base de données « " + target_ + " » existe déjà.");
      if (error != 0) throw DiskWriteError(error, target_);
    }
    path_.clear();
    if (const int error = SyncFolderOf(target_)) {
      // Its name may not survive a power cut: the copy is not done.
      ::unlink(target_.c_str());
      throw DiskWriteError(error, target_);
    }
  }

 private:
  std::string target_;
  std::string path_;
};

// While a copy is built, SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a closed
// terminal) remove its temporary file before ending the process as they
// would have; a process that handles or ignores them itself keeps its way.
// Only what may be called in a signal handler is used there: the names are
// written beforehand.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
char removedOnSignal[4][PATH_MAX + 16];

extern "C" void RemoveTemporaryAndEnd(int signal) {
  for (const char* path : removedOnSignal) {
    if (path[0] != '\0') ::unlink(path);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

class RemovalOnSignal {
 public:
  explicit RemovalOnSignal(const std::string& path) {
    if (path.size() + 16 > PATH_MAX) return;
    const char* suffixes[] = {"", "-journal", "-wal", "-shm"};
    for (std::size_t index = 0; index < 4; ++index) {
      std::snprintf(removedOnSignal[index], sizeof removedOnSignal[index], "%s%s", path.c_str(), suffixes[index]);
    }
    for (std::size_t index = 0; index < std::size(kEndingSignals); ++index) {
      struct sigaction action {};
      action.sa_handler = RemoveTemporaryAndEnd;
      sigemptyset(&action.sa_mask);
      for (int signal : kEndingSignals) sigaddset(&action.sa_mask, signal);
      installed_[index] = ::sigaction(kEndingSignals[index], nullptr, &previous_[index]) == 0 &&
                          previous_[index].sa_handler == SIG_DFL &&
                          ::sigaction(kEndingSignals[index], &action, nullptr) == 0;
    }
  }
  RemovalOnSignal(const RemovalOnSignal&) = delete;
  RemovalOnSignal& operator=(const RemovalOnSignal&) = delete;
  ~RemovalOnSignal() {
    for (std::size_t index = 0; index < std::size(kEndingSignals); ++index) {
      if (installed_[index]) ::sigaction(kEndingSignals[index], &previous_[index], nullptr);
    }
    for (auto& path : removedOnSignal) path[0] = '\0';
  }

 private:
  struct sigaction previous_[std::size(kEndingSignals)] {};
  bool installed_[std::size(kEndingSignals)] = {};
};

std::string Bracketed(const std::string& name) { return "[" + name + "]"; }

// Whether `number` is within the range of an integer field of type `type`
// (any other type: true).
bool IntegerFits(FieldType type, std::int64_t number) {
  switch (type) {
    case kByte:
      return number >= 0 && number <= 255;
    case kInteger:
      return number >= INT16_MIN && number <= INT16_MAX;
    case kLong:
      return number >= INT32_MIN && number <= INT32_MAX;
    default:
      return true;
  }
}

// Makes `def`'s table in `target` through the statement dialect (so that a
// name it cannot write is refused as a statement would be), copies every row
// of the source's table as typed values (from `jetRows`, an Access table's
// rows read straight from the file, when given; `sourceFailed` is set when
// reading them fails), then makes its indexes.
void CopyTable(Storage& source, JetRows* jetRows, Storage& target, const TableDef& def,
               const CopyProgress& progress, bool& sourceFailed) {
  std::string create = "CREATE TABLE " + Bracketed(def.Name()) + " (";
  for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
    const FieldDef& field = def.Fields(position);
    create += (position > 0 ? ", " : "") + Bracketed(field.name) + " " + DeclaredTypeOf(field.type, field.size) +
              (field.required ? " NOT NULL" : "");
  }
  target.Execute(create + ")");
  TableInfo& added = target.Table(def.Name(), 3078);
  std::optional<Statement3> rows;
  if (jetRows == nullptr) rows.emplace(source, source.Handle(), "SELECT * FROM " + Quote(def.Name()));
  // Rows go in by batches of one statement each.
  std::vector<std::vector<Value>> batch(kInsertBatchRows, std::vector<Value>(static_cast<std::size_t>(def.FieldCount())));
  std::size_t filled = 0;
  std::vector<Value>* current = &batch[0];
  auto next = [&] {
    std::vector<Value>& row = *current;
    if (jetRows != nullptr) {
      try {
        return source.NextJetRow(*jetRows, row);
      } catch (const EngineError&) {
        sourceFailed = true;
        throw;
      }
    }
    const int rc = sqlite3_step(rows->get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) source.Fail(rc);
    for (std::int16_t position = 0; rc == SQLITE_ROW && position < def.FieldCount(); ++position) {
      ReadColumn(rows->get(), position, def.Fields(position).type, row[static_cast<std::size_t>(position)]);
    }
    return rc == SQLITE_ROW;
  };
  std::size_t count = 0;
  while (next()) {
    for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
      const FieldDef& field = def.Fields(position);
      const Value& value = (*current)[static_cast<std::size_t>(position)];
      // Another SQLite tool may have stored a longer text than the field allows.
      if (field.type == kText && !value.isNull && value.text.size() > static_cast<std::size_t>(field.size) &&
          Utf8Length(value.text) > static_cast<std::size_t>(field.size)) {
        throw EngineError(3163, "Le champ « " + field.name + " » est trop petit pour accepter la quantité "
                                "de données que vous avez tenté d'ajouter.");
      }
      // ... or a number past its field's range, which would read back as another number.
      if (!value.isNull && !IntegerFits(field.type, value.integer)) {
        throw EngineError(3349, "Dépassement de capacité du champ numérique « " + field.name + " ».");
      }
    }
    Storage::CheckRow(added, *current);
    if (++filled == kInsertBatchRows) {
      target.InsertRows(added, batch, filled);
      filled = 0;
    }
    current = &batch[filled];
    if (++count % 1000 == 0 && progress.rows) progress.rows(def.Name(), count);
  }
  target.InsertRows(added, batch, filled);
  for (std::int16_t position = 0; position < def.IndexCount(); ++position) {
    const IndexDef& index = def.Indexes(position);
    std::string fields;
    for (const std::string& field : index.fields) fields += (fields.empty() ? "" : ", ") + Bracketed(field);
    target.Execute(std::string(index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + Bracketed(index.name) +
                   " ON " + Bracketed(def.Name()) + " (" + fields + ")" + (index.primary ? " WITH PRIMARY" : ""));
  }
}

}  // namespace

void CopyDatabase(const std::string& sourcePath, const std::string& targetPath, const std::vector<std::string>& tables,
                  const CopyProgress& progress, std::string* failedTable, std::string_view sourceConnect) {
  std::shared_ptr<Storage> source = Storage::Open(sourcePath, PasswordOf(sourceConnect));
  // One read transaction: every table as the source stood at one moment.
  if (const int rc = sqlite3_exec(source->Handle(), "BEGIN", nullptr, nullptr, nullptr); rc != SQLITE_OK) {
    source->Fail(rc);
  }
  // An Access table's rows are read straight from the file, once: a damaged
  // one fails while it is copied, and the temporary target goes.
  std::vector<TableDef> defs;
  std::vector<std::optional<JetRows>> jetRows;
  for (const std::string& name : tables.empty() ? source->TableNames() : tables) {
    jetRows.push_back(source->IsJet() ? source->OpenJetRows(name, false) : std::nullopt);
    defs.push_back(jetRows.back() ? jetRows.back()->def : source->Table(name, 3265).def);
  }

  struct stat status {};
  if (::lstat(targetPath.c_str(), &status) == 0) {
    // A link too, dangling or not: the copy never writes through one.
    throw EngineError(3204, "La base de données « " + targetPath + " » existe déjà.");
  }
  const std::string folder = FolderOf(targetPath);
  std::error_code ignored;
  if (targetPath.empty() || !std::filesystem::is_directory(folder, ignored)) {
    throw EngineError(3044, "« " + folder + " » n'est pas un chemin d'accès valide.");
  }
  RemoveTemporariesOfEndedProcesses(folder, kTemporaryMark);

  TemporaryTarget temporary(targetPath);
  {
    const RemovalOnSignal removal(temporary.Path());
    std::shared_ptr<Storage> target = Storage::CreatePrivate(temporary.Path(), targetPath);
    target->BeginTrans();
    for (std::size_t position = 0; position < defs.size(); ++position) {
      const TableDef& def = defs[position];
      if (progress.table) progress.table(def.Name(), position + 1, defs.size());
      bool sourceFailed = false;
      try {
        CopyTable(*source, jetRows[position] ? &*jetRows[position] : nullptr, *target, def, progress,
                  sourceFailed);
      } catch (const Error&) {
        // The Access file's own refusal (damage) names the file, as when it is opened.
        if (failedTable != nullptr && !sourceFailed) *failedTable = def.Name();
        throw;
      }
    }
    target->CommitTrans();
    target->FinishPrivate();
    target->Close();
    source->Close();
    temporary.Publish();
  }
}

}  // namespace dbengine
