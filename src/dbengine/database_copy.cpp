// SPDX-License-Identifier: Apache-2.0
// The copy of a database into a new engine database. The target is built
// under a temporary name in its own folder, so that the final rename stays
// on one file system; the build is one transaction on a file nobody else
// knows, with its journal in memory and no flush until the end. Only then is the file
// flushed, renamed without replacing anything, and the folder flushed. A
// temporary left by a killed copy carries the host and process that made it,
// so that the next copy into the folder can tell it is nobody's any more.
#include "dbengine/database_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <exception>
#include <memory>
#include <thread>
#include <optional>

#include "errors.h"
#include "storage.h"
#include "table_pages.h"
#include "support/durable.h"
#include "support/ending_signals.h"
#include "support/leftovers.h"

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
      path_ = support::TemporaryNameFor(targetPath, kTemporaryMark, attempt);
      const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        ::close(fd);
        return;
      }
      const int error = errno;
      if (error != EEXIST || attempt >= 100) {
        path_.clear();
        if (error == ENOSPC || error == EDQUOT) throw errors::DiskWrite(error, targetPath);
        throw errors::CannotCreate(targetPath);
      }
    }
  }
  TemporaryTarget(const TemporaryTarget&) = delete;
  TemporaryTarget& operator=(const TemporaryTarget&) = delete;
  ~TemporaryTarget() { Remove(); }

  // Removes the file and its companions, unless published.
  void Remove() {
    if (path_.empty()) return;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((path_ + suffix).c_str());
    path_.clear();
  }

  const std::string& Path() const { return path_; }

  // Flushes the complete file, gives it the target's name (never replacing
  // a file that appeared there) and flushes the folder that records it.
  void Publish() {
    if (const int error = support::SyncPath(path_)) throw errors::DiskWrite(error, target_);
    if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) != 0) {
      int error = errno;
      if (error == EINVAL || error == ENOSYS) {
        // A file system without the no-replace rename: a link fails just as
        // surely on an existing name.
        error = ::link(path_.c_str(), target_.c_str()) == 0 ? 0 : errno;
        if (error == 0) ::unlink(path_.c_str());
      }
      if (error == EEXIST) throw errors::DatabaseExists(target_);
      if (error != 0) throw errors::DiskWrite(error, target_);
    }
    path_.clear();
    if (const int error = support::SyncFolderOf(target_)) {
      // Its name may not survive a power cut: the copy is not done.
      ::unlink(target_.c_str());
      throw errors::DiskWrite(error, target_);
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
using support::kEndingSignals;
char removedOnSignal[4][PATH_MAX + 16];

extern "C" void RemoveTemporaryAndEnd(int signal) {
  for (const char* path : removedOnSignal) {
    if (path[0] != '\0') ::unlink(path);
  }
  support::EndBySignal(signal);
}

class RemovalOnSignal {
 public:
  explicit RemovalOnSignal(const std::string& path) {
    if (path.size() + 16 > PATH_MAX) return;
    const char* suffixes[] = {"", "-journal", "-wal", "-shm"};
    for (std::size_t index = 0; index < 4; ++index) {
      std::snprintf(removedOnSignal[index], sizeof removedOnSignal[index], "%s%s", path.c_str(), suffixes[index]);
    }
    support::HandleEndingSignals(RemoveTemporaryAndEnd, previous_, installed_);
  }
  RemovalOnSignal(const RemovalOnSignal&) = delete;
  RemovalOnSignal& operator=(const RemovalOnSignal&) = delete;
  ~RemovalOnSignal() { Restore(); }

  // Publishes `temporary` with the signals' own actions back in place, the
  // signals held meanwhile: once the target is published, one that came is
  // discarded, the copy being done (never a process ended by a signal with
  // its target complete); when publishing fails, it takes its course once the
  // temporary file is removed.
  void Publish(TemporaryTarget& temporary) {
    sigset_t ending;
    sigemptyset(&ending);
    for (std::size_t index = 0; index < std::size(kEndingSignals); ++index) {
      if (installed_[index]) sigaddset(&ending, kEndingSignals[index]);
    }
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &ending, &before);
    bool installed[std::size(kEndingSignals)];
    std::copy(std::begin(installed_), std::end(installed_), std::begin(installed));
    Restore();
    try {
      temporary.Publish();
    } catch (...) {
      temporary.Remove();
      ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
      throw;
    }
    sigset_t pending;
    sigpending(&pending);
    for (std::size_t index = 0; index < std::size(kEndingSignals); ++index) {
      if (!installed[index] || sigismember(&pending, kEndingSignals[index]) != 1) continue;
      // Ignoring a pending signal discards it; its action is then put back.
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigemptyset(&ignore.sa_mask);
      struct sigaction own {};
      if (::sigaction(kEndingSignals[index], &ignore, &own) == 0) ::sigaction(kEndingSignals[index], &own, nullptr);
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }

 private:
  // Puts the signals' previous actions back and forgets the names.
  void Restore() {
    support::RestoreEndingSignals(previous_, installed_);
    for (auto& path : removedOnSignal) path[0] = '\0';
  }

  struct sigaction previous_[std::size(kEndingSignals)] {};
  bool installed_[std::size(kEndingSignals)] = {};
};

std::string Bracketed(const std::string& name) { return "[" + name + "]"; }

// Long binary values longer than this are not read whole: the row is read
// without them and copied with a blob of zeros of their size, which their
// bytes then overwrite part by part through SQLite's incremental blob I/O.
constexpr std::int64_t kStreamedAbove = std::int64_t{1} << 20;
constexpr int kBlobPart = 1 << 16;

// The statement reading `def`'s rows from the source: every field, each long
// binary field longer than kStreamedAbove as Null, then those fields' lengths
// (Null when not streamed) and the row's rowid. Empty when no field is long
// binary, or when a field's name hides the rowid.
std::string StreamingSelect(const TableDef& def, const std::string& from) {
  std::string fields, lengths;
  for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
    const FieldDef& field = def.Fields(position);
    for (const char* hidden : {"rowid", "oid", "_rowid_"}) {
      if (SameName(field.name, hidden)) return {};
    }
    const std::string quoted = Quote(field.name);
    const std::string streamed =
        "typeof(" + quoted + ")='blob' AND length(" + quoted + ")>" + std::to_string(kStreamedAbove);
    fields += (position > 0 ? ", " : "");
    if (field.type == kLongBinary) {
      fields += "CASE WHEN " + streamed + " THEN NULL ELSE " + quoted + " END";
      lengths += ", CASE WHEN " + streamed + " THEN length(" + quoted + ") END";
    } else {
      fields += quoted;
    }
  }
  if (lengths.empty()) return {};
  return "SELECT " + fields + lengths + ", rowid FROM " + from;
}

// Where a copy reads the source's rows: its own connection (an Access
// file's working copy), or the target's, the source's file attached to it
// for reading (an engine database), so that SQLite may move its records
// without decoding them.
struct RowSource {
  Storage& storage;        // the source, for its errors and checks
  sqlite3* handle;         // the connection that reads the rows
  std::string schema;      // that connection's name of the source's file
  bool attached = false;   // read through the target's connection

  std::string TableRef(const std::string& name) const { return Quote(schema) + "." + Quote(name); }
};

constexpr char kAttachedSource[] = "vidange_source";

// Copies `size` bytes of field `field` of the source's table `stored` from
// row `from` to row `to` of the target's table `def` (the same field, in
// position `position`), which holds an empty value there.
void CopyStreamed(const RowSource& rows, Storage& target, const TableDef& stored, const TableDef& def,
                  std::int16_t position, sqlite3_int64 from, sqlite3_int64 to, sqlite3_int64 size) {
  Storage& source = rows.storage;
  const std::string& field = def.Fields(position).name;
  {
    PreparedStatement zeros(target, target.Handle(),
                     "UPDATE " + Quote(def.Name()) + " SET " + Quote(field) + " = zeroblob(?1) WHERE rowid = ?2");
    sqlite3_bind_int64(zeros.get(), 1, size);
    sqlite3_bind_int64(zeros.get(), 2, to);
    if (const int rc = sqlite3_step(zeros.get()); rc != SQLITE_DONE) target.Fail(rc);
  }
  sqlite3_blob* in = nullptr;
  sqlite3_blob* out = nullptr;
  int rc = sqlite3_blob_open(rows.handle, rows.schema.c_str(), stored.Name().c_str(), stored.Fields(position).name.c_str(),
                             from, 0, &in);
  if (rc != SQLITE_OK) {
    sqlite3_blob_close(in);
    source.Fail(rc);
  }
  rc = sqlite3_blob_open(target.Handle(), "main", def.Name().c_str(), field.c_str(), to, 1, &out);
  if (rc != SQLITE_OK) {
    sqlite3_blob_close(in);
    sqlite3_blob_close(out);
    target.Fail(rc);
  }
  bool readFailed = sqlite3_blob_bytes(in) != size;
  std::vector<char> part(kBlobPart);
  for (sqlite3_int64 done = 0; rc == SQLITE_OK && !readFailed && done < size; done += kBlobPart) {
    const int count = static_cast<int>(std::min<sqlite3_int64>(kBlobPart, size - done));
    rc = sqlite3_blob_read(in, part.data(), count, static_cast<int>(done));
    readFailed = rc != SQLITE_OK;
    if (rc == SQLITE_OK) rc = sqlite3_blob_write(out, part.data(), count, static_cast<int>(done));
  }
  sqlite3_blob_close(in);
  sqlite3_blob_close(out);
  if (readFailed) source.Fail(rc == SQLITE_OK ? SQLITE_CORRUPT : rc);
  if (rc != SQLITE_OK) target.Fail(rc);
}

// A name as the engine can hold it: a bracket, which no engine name holds
// (nor does Access let one in its names), becomes a parenthesis.
std::string EngineName(const std::string& name) {
  std::string written = name;
  std::replace(written.begin(), written.end(), '[', '(');
  std::replace(written.begin(), written.end(), ']', ')');
  return written;
}

// Whether a long binary field of the source's table `stored` holds a value
// longer than kStreamedAbove, which a copy of whole records would hold in
// memory at once.
bool HoldsLongValues(const RowSource& rows, const TableDef& stored) {
  std::string condition;
  for (std::int16_t position = 0; position < stored.FieldCount(); ++position) {
    if (stored.Fields(position).type != kLongBinary) continue;
    const std::string quoted = Quote(stored.Fields(position).name);
    condition += std::string(condition.empty() ? "" : " OR ") + "(typeof(" + quoted + ")='blob' AND length(" +
                 quoted + ")>" + std::to_string(kStreamedAbove) + ")";
  }
  if (condition.empty()) return false;
  PreparedStatement probe(rows.storage, rows.handle,
                   "SELECT 1 FROM " + rows.TableRef(stored.Name()) + " WHERE " + condition + " LIMIT 1");
  const int rc = sqlite3_step(probe.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) rows.storage.Fail(rc);
  return rc == SQLITE_ROW;
}

// What the check of a table's rows found: the first value that does not
// fit, or Null where its field refuses it.
struct RowCheck {
  const TableDef* def = nullptr;
  std::vector<const FieldDef*> fields;
  std::vector<bool> primary;  // by field: part of the primary index
  std::uint64_t rows = 0;     // rows seen
  std::uint64_t row = 0;      // the refused row's rank, from 1 (0: none)
  int field = -1;             // its refused field
  int number = 0;             // 3421, 3058 or 3314
  Progress* progress = nullptr;
};

// SQL function vidange_refuses(FIRST, fields from FIRST on...), called in
// reading order once per row for each part of its fields (a function takes
// at most 127 values): 1 for the first row it refuses, which it records.
constexpr int kFieldsPerCall = 100;

extern "C" void RowRefused(sqlite3_context* context, int count, sqlite3_value** values) {
  auto& check = *static_cast<RowCheck*>(sqlite3_user_data(context));
  const int first = sqlite3_value_int(values[0]);
  if (first == 0) ++check.rows;
  for (int position = first; position < first + count - 1; ++position) {
    const FieldDef& field = *check.fields[static_cast<std::size_t>(position)];
    sqlite3_value* value = values[position - first + 1];
    int number = 0;
    if (!StoredValueFits(value, field)) {
      number = kErrStoredValue;
    } else if (sqlite3_value_type(value) == SQLITE_NULL) {
      number = check.primary[static_cast<std::size_t>(position)] ? 3058 : field.required ? 3314 : 0;
    }
    if (number != 0) {
      check.row = check.rows;
      check.field = position;
      check.number = number;
      sqlite3_result_int(context, 1);
      return;
    }
  }
  if (first == 0 && check.rows % 1000 == 0) {
    check.progress->Rows(check.def->Name(), check.rows);
  }
  sqlite3_result_int(context, 0);
}

// Reads every row of the source's table `stored` as a read of the engine
// does, and refuses the first value that does not fit its field (3421,
// naming the row by its rank in reading order), a Null in a field of the
// primary index (3058) or in a required field (3314): what the row by row
// copy refuses as it reads and inserts. Long binary values are not read:
// any blob fits such a field. The values are looked at inside SQLite's scan
// (a function given every field), and only a refused row is read again.
void CheckRows(const RowSource& rows, const TableDef& stored, Progress& progress) {
  if (stored.FieldCount() == 0) return;
  std::string refuses;
  for (std::int16_t position = 0; position < stored.FieldCount(); ++position) {
    if (position % kFieldsPerCall == 0) {
      refuses += (position > 0 ? ") OR " : "") + std::string("vidange_refuses(") + std::to_string(position);
    }
    const std::string quoted = Quote(stored.Fields(position).name);
    refuses += ", " + (stored.Fields(position).type == kLongBinary
                           ? "CASE WHEN typeof(" + quoted + ")='blob' THEN X'' ELSE " + quoted + " END"
                           : quoted);
  }
  refuses += ")";
  RowCheck check;
  check.def = &stored;
  for (std::int16_t position = 0; position < stored.FieldCount(); ++position) check.fields.push_back(&stored.Fields(position));
  check.progress = &progress;
  check.primary.assign(static_cast<std::size_t>(stored.FieldCount()), false);
  for (std::int16_t position = 0; position < stored.IndexCount(); ++position) {
    const IndexDef& index = stored.Indexes(position);
    if (!index.primary) continue;
    for (const std::string& name : index.fields) {
      const int field = stored.FieldPosition(name);
      if (field >= 0) check.primary[static_cast<std::size_t>(field)] = true;
    }
  }
  if (const int rc = sqlite3_create_function(rows.handle, "vidange_refuses", -1, SQLITE_UTF8, &check, RowRefused,
                                             nullptr, nullptr);
      rc != SQLITE_OK) {
    rows.storage.Fail(rc);
  }
  {
    PreparedStatement scan(rows.storage, rows.handle,
                    "SELECT 1 FROM " + rows.TableRef(stored.Name()) + " WHERE " + refuses + " LIMIT 1");
    const int rc = sqlite3_step(scan.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) rows.storage.Fail(rc);
  }
  sqlite3_create_function(rows.handle, "vidange_refuses", -1, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr);
  if (check.row == 0) return;
  const FieldDef& field = stored.Fields(static_cast<std::int16_t>(check.field));
  if (check.number == 3058) {
    throw errors::NullInIndexField(field.name);
  }
  if (check.number == 3314) {
    throw errors::RequiredFieldNull(stored.Name() + "." + field.name);
  }
  PreparedStatement refused(rows.storage, rows.handle,
                     "SELECT " + Quote(field.name) + " FROM " + rows.TableRef(stored.Name()) + " LIMIT 1 OFFSET " +
                         std::to_string(check.row - 1));
  if (const int rc = sqlite3_step(refused.get()); rc != SQLITE_ROW) rows.storage.Fail(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc);
  RefuseStoredValue(refused.get(), 0, stored.Name(), field, check.row);
}

// A second reader of an engine database, holding the same state of it as
// the target's connection, so that a table's values are checked on one core
// while SQLite copies its records on the other. Opened only when that state
// is known to be the same: no other connection committed to the file between
// the moment before its read began and the moment after the target's did
// (PRAGMA data_version of a third connection, unchanged); otherwise the
// copy checks through the target's connection first.
class ParallelChecker {
 public:
  // Opens the reader and begins its read; `beginTarget` then begins the
  // target's transaction.
  template <typename Begin>
  ParallelChecker(const Storage& source, Begin beginTarget) {
    const std::string uri = source.ReadUri();
    const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI;
    sqlite3* probe = nullptr;
    bool same = sqlite3_open_v2(uri.c_str(), &probe, flags, nullptr) == SQLITE_OK &&
                sqlite3_open_v2(uri.c_str(), &reader_, flags, nullptr) == SQLITE_OK;
    const long long before = same ? DataVersion(probe) : -1;
    same = same && before >= 0 &&
           sqlite3_exec(reader_, "PRAGMA mmap_size=2147418112; BEGIN; SELECT count(*) FROM sqlite_schema", nullptr,
                        nullptr, nullptr) == SQLITE_OK;
    beginTarget();
    same = same && DataVersion(probe) == before;
    sqlite3_close_v2(probe);
    if (!same) {
      sqlite3_close_v2(reader_);
      reader_ = nullptr;
    }
  }
  ParallelChecker(const ParallelChecker&) = delete;
  ParallelChecker& operator=(const ParallelChecker&) = delete;
  ~ParallelChecker() { sqlite3_close_v2(reader_); }

  sqlite3* Reader() const { return reader_; }

 private:
  static long long DataVersion(sqlite3* db) {
    sqlite3_stmt* statement = nullptr;
    long long version = -1;
    if (sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      version = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    return version;
  }

  sqlite3* reader_ = nullptr;
};

// Makes the definition `name`, `fields`, `indexes` as the engine can hold
// it: a bracket in a name becomes a parenthesis, each such name told in
// `renamed`.
TableDef EngineDef(const std::string& name, std::vector<FieldDef> fields, std::vector<IndexDef> indexes,
                   std::vector<std::string>& renamed) {
  auto rename = [&](std::string& written, const char* what) {
    const std::string engine = EngineName(written);
    if (engine == written) return;
    renamed.push_back(std::string(what) + " « " + written + " » renommé « " + engine +
                      " » : un nom du moteur ne contient pas de crochet");
    written = engine;
  };
  std::string tableName = name;
  rename(tableName, "table");
  for (FieldDef& field : fields) rename(field.name, "champ");
  for (IndexDef& index : indexes) {
    rename(index.name, "index");
    for (std::string& field : index.fields) field = EngineName(field);
  }
  return TableDef(tableName, std::move(fields), std::move(indexes));
}

// Makes `def`'s table (without its indexes) in `target` through the
// statement dialect, so that a name it cannot write is refused as a
// statement would be.
void CreateTable(Storage& target, const TableDef& def) {
  std::string create = "CREATE TABLE " + Bracketed(def.Name()) + " (";
  for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
    const FieldDef& field = def.Fields(position);
    create += (position > 0 ? ", " : "") + Bracketed(field.name) + " " + DeclaredTypeOf(field.type, field.size) +
              (field.required ? " NOT NULL" : "");
  }
  target.Execute(create + ")");
}

// Makes `index` of `def`'s table in `target`, unique or primary as told.
void CreateIndex(Storage& target, const TableDef& def, const IndexDef& index, bool unique, bool primary) {
  std::string fields;
  for (const std::string& field : index.fields) fields += (fields.empty() ? "" : ", ") + Bracketed(field);
  target.Execute(std::string(unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + Bracketed(index.name) + " ON " +
                 Bracketed(def.Name()) + " (" + fields + ")" + (primary ? " WITH PRIMARY" : ""));
}

// A connection reading the source's file as the source's own connection
// reads it (never writing it); nullptr when it cannot be had. Its pages are
// read once each: not mapped, whose faults cost more than the reads at a
// million rows.
sqlite3* OpenReader(const Storage& source) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(source.ReadUri().c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI,
                      nullptr) != SQLITE_OK) {
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  return db;
}

struct CloseConnection {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;

// What a copy's target holds besides its rows, as read from the database
// open on `db`: every entry of its schema but where it is stored (tables
// first, then indexes, each in the file's order), the engine's index
// catalog row by row, and the settings a file keeps (page size, reserved
// bytes, text encoding, auto-vacuum, user version, application id). Empty
// when it cannot be read (no index catalog, for one).
std::vector<std::string> ShapeOf(sqlite3* db) {
  std::vector<std::string> shape;
  const char* queries[] = {
      "SELECT quote(type)||','||quote(name)||','||quote(tbl_name)||','||quote(sql) FROM sqlite_schema "
      "ORDER BY type<>'table', rowid",
      "SELECT quote(TableName)||','||quote(IndexName)||','||quote(SqliteName)||','||quote(IsPrimary)||','||"
      "quote(IsUnique) FROM MSysIndexes ORDER BY rowid",
      "SELECT 'page_size='||page_size FROM pragma_page_size", "SELECT 'encoding='||encoding FROM pragma_encoding",
      "SELECT 'auto_vacuum='||auto_vacuum FROM pragma_auto_vacuum",
      "SELECT 'user_version='||user_version FROM pragma_user_version",
      "SELECT 'application_id='||application_id FROM pragma_application_id"};
  for (const char* query : queries) {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db, query, -1, &statement, nullptr);
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
      if ((rc = sqlite3_step(statement)) != SQLITE_ROW) break;
      const unsigned char* text = sqlite3_column_text(statement, 0);
      shape.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE) return {};
  }
  int reserved = -1;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserved) != SQLITE_OK) return {};
  shape.push_back("reserved=" + std::to_string(reserved));
  return shape;
}

// The settings of a database file's header a copy must keep as a new file
// has them: page size, file format versions, reserved bytes and payload
// fractions (bytes 16 to 23), schema format, default cache size, auto-vacuum,
// text encoding, user version, incremental vacuum, application id (44 to 71).
std::string HeaderSettingsOf(const std::string& path) {
  std::string header(100, '\0');
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const ssize_t read = fd >= 0 ? ::pread(fd, header.data(), header.size(), 0) : -1;
  if (fd >= 0) ::close(fd);
  if (read != static_cast<ssize_t>(header.size())) return {};
  return header.substr(16, 8) + header.substr(44, 28);
}

// Empties the file at `path` (a copy's temporary target), to be built again.
void Empty(const std::string& path, const std::string& targetPath) {
  if (::truncate(path.c_str(), 0) != 0) throw errors::DiskWrite(errno, targetPath);
}

// A database file the copy has just made and nobody else knows, mapped for
// reading, so that its values are looked at in the bytes of its pages
// (SQLite's file format: b-tree pages, records of serial types) rather than
// through SQLite's API, in a quarter of the instructions per value. Only
// what is plainly sound is taken as proven; anything else (a value that
// needs more than its bytes at hand to be judged, a page or record not as
// expected) leaves the table to the check through SQLite, which names the
// refused value.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && status.st_size >= 100) {
      void* mapped = ::mmap(nullptr, static_cast<std::size_t>(status.st_size), PROT_READ, MAP_SHARED, fd, 0);
      if (mapped != MAP_FAILED) {
        base_ = static_cast<const unsigned char*>(mapped);
        size_ = static_cast<std::size_t>(status.st_size);
      }
    }
    ::close(fd);
    if (base_ != nullptr) layout_ = pages::Layout::Of(base_, size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() {
    if (base_ != nullptr) ::munmap(const_cast<unsigned char*>(base_), size_);
  }

  // What a value of a field must be: the field, whether it refuses a Null
  // (a field of the primary index, or a required one), and the serial types
  // below 12 that fit it whatever their bytes (bit N for serial type N).
  struct FieldRule {
    const FieldDef* field;
    FieldType type;
    std::uint64_t size;
    bool refusesNull;
    std::uint16_t plain = 0;
  };

  static FieldRule RuleFor(const FieldDef& field, bool refusesNull) {
    FieldRule rule{&field, field.type, static_cast<std::uint64_t>(std::max(field.size, 0)), refusesNull};
    const std::uint16_t constants = (1 << 8) | (1 << 9);  // 0 and 1
    switch (field.type) {
      case kBoolean:
      case kByte:
        rule.plain = constants;  // a Byte's other integers are looked at
        break;
      case kInteger:
        rule.plain = constants | 0x06;  // one or two bytes
        break;
      case kLong:
        rule.plain = constants | 0x1E;  // one to four bytes
        break;
      case kCurrency:
      case kBigInt:
        rule.plain = constants | 0x7E;
        break;
      case kSingle:
      case kDouble:
      case kDate:
        rule.plain = constants | 0x3E;  // integers of at most 48 bits, exact as doubles
        break;
      default:
        break;
    }
    if (!refusesNull) rule.plain |= 1;
    return rule;
  }

  // Whether every row of the table stored from page `root` is proven to fit
  // the fields `rules` of table `name` (each value as a read of the engine
  // judges it, no Null where refused). Tells `progress` of every 1,000 rows
  // beyond `told`, which it sets to the rows told.
  bool ProvenFit(std::uint32_t root, const std::string& name, const std::vector<FieldRule>& rules,
                 Progress& progress, std::uint64_t& told) const {
    if (base_ == nullptr) return false;
    std::uint64_t rows = 0;
    const auto walked = pages::WalkTable(
        layout_, root,
        [&](std::uint64_t number, std::size_t) { return base_ + (number - 1) * layout_.pageSize; },
        [&](const pages::Leaf& leaf) {
          const bool fit = leaf.Records([&](const unsigned char* record, std::size_t local, std::uint64_t payload) {
            if (!RecordFits(record, local, payload, rules)) return false;
            if (++rows % 1000 == 0 && rows > told) {
              told = rows;
              progress.Rows(name, rows);
            }
            return true;
          });
          return fit ? pages::Walk::kDone : pages::Walk::kUnexpected;
        });
    return walked == pages::Walk::kDone;
  }

 private:
  // The record of `payload` bytes whose first `local` are at `record`: one
  // value per field, each plainly fitting it.
  static bool RecordFits(const unsigned char* record, std::size_t local, std::uint64_t payload,
                         const std::vector<FieldRule>& rules) {
    pages::Record values(record, local, payload);
    std::uint64_t type = 0;
    std::uint64_t length = 0;
    const unsigned char* bytes = nullptr;
    std::size_t position = 0;
    for (; values.Next(type, bytes, length); ++position) {
      if (position >= rules.size()) return false;
      const FieldRule& rule = rules[position];
      bool fits;
      if (type < 12) {
        fits = (rule.plain >> type) & 1;
      } else if (type & 1) {
        fits = rule.type == kMemo || (rule.type == kText && length <= rule.size);
      } else {
        fits = rule.type == kLongBinary || (rule.type == kBinary && length <= rule.size);
      }
      // Otherwise judged on the value's bytes when on this page.
      if (!fits && (type == 0 ? rule.refusesNull : !pages::ValueOf(type, bytes, length, *rule.field, nullptr))) {
        return false;
      }
    }
    return position == rules.size() && values.Complete();
  }

  const unsigned char* base_ = nullptr;
  std::size_t size_ = 0;
  pages::Layout layout_;
};

// Builds in the empty file `temporaryPath` the copy of the engine database
// `source` holding the tables `defs`, by SQLite's own copy of the whole file
// (VACUUM INTO: each page's records appended as they are, no index sorted,
// one state of the source read), when that file is exactly what the copy
// table by table makes: the same schema, in the same order, the same index
// catalog and the same settings. Then every value of the file made is
// checked as the copy table by table checks it. Returns false, the file
// empty again and nothing told, when the source is not such a file or the
// copy could not be made (the copy table by table then makes it, or fails
// as it does).
bool CopyWholeFile(Storage& source, const std::vector<TableDef>& defs, const std::string& temporaryPath,
                   const std::string& targetPath, Progress& progress, std::string* failedTable) {
  // What the copy table by table makes, made empty in the temporary file.
  std::vector<std::string> expected;
  std::string header;
  try {
    std::shared_ptr<Storage> scratch = Storage::CreatePrivate(temporaryPath, targetPath);
    header = HeaderSettingsOf(temporaryPath);
    scratch->BeginTrans();
    for (const TableDef& def : defs) {
      CreateTable(*scratch, def);
      for (std::int16_t position = 0; position < def.IndexCount(); ++position) {
        const IndexDef& index = def.Indexes(position);
        CreateIndex(*scratch, def, index, index.unique, index.primary);
      }
    }
    expected = ShapeOf(scratch->Handle());
    scratch->Close();
  } catch (const Error&) {
    expected.clear();
  }
  Empty(temporaryPath, targetPath);
  if (expected.empty() || header.empty()) return false;

  // An absolute path: never read as a URI.
  const std::string made = std::filesystem::absolute(temporaryPath).string();
  {
    Connection copier(OpenReader(source));
    // A source of another shape is told at once (the file made is what counts:
    // it is compared again). The file is flushed once, when published.
    if (!copier || ShapeOf(copier.get()) != expected ||
        sqlite3_exec(copier.get(), "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr) != SQLITE_OK) {
      return false;
    }
    sqlite3_stmt* vacuum = nullptr;
    int rc = sqlite3_prepare_v2(copier.get(), "VACUUM INTO ?1", -1, &vacuum, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_bind_text(vacuum, 1, made.c_str(), -1, SQLITE_TRANSIENT);
      rc = sqlite3_step(vacuum);
    }
    sqlite3_finalize(vacuum);
    source.CheckUnchanged();
    if (rc != SQLITE_DONE) {
      // Nothing was told yet: the copy table by table fails as it does (3026
      // for a full disk), or succeeds.
      Empty(temporaryPath, targetPath);
      return false;
    }
  }
  sqlite3* opened = nullptr;
  const int rc = sqlite3_open_v2(made.c_str(), &opened, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  Connection target(opened);
  std::vector<std::uint32_t> roots;
  if (rc == SQLITE_OK && ShapeOf(target.get()) == expected && HeaderSettingsOf(temporaryPath) == header) {
    for (const TableDef& def : defs) {
      sqlite3_stmt* root = nullptr;
      if (sqlite3_prepare_v2(target.get(), "SELECT rootpage FROM sqlite_schema WHERE type='table' AND name=?1", -1,
                             &root, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(root, 1, def.Name().c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(root) == SQLITE_ROW) roots.push_back(static_cast<std::uint32_t>(sqlite3_column_int64(root, 0)));
      }
      sqlite3_finalize(root);
    }
  }
  if (roots.size() != defs.size()) {
    target.reset();
    Empty(temporaryPath, targetPath);
    return false;
  }
  const MappedFile pages(made);
  for (std::size_t position = 0; position < defs.size(); ++position) {
    const TableDef& def = defs[position];
    progress.Table(def.Name(), position + 1, defs.size());
    std::vector<bool> refusesNull(static_cast<std::size_t>(def.FieldCount()), false);
    for (std::int16_t index = 0; index < def.IndexCount(); ++index) {
      if (!def.Indexes(index).primary) continue;
      for (const std::string& name : def.Indexes(index).fields) {
        const int field = def.FieldPosition(name);
        if (field >= 0) refusesNull[static_cast<std::size_t>(field)] = true;
      }
    }
    std::vector<MappedFile::FieldRule> rules;
    for (std::int16_t field = 0; field < def.FieldCount(); ++field) {
      const FieldDef& stored = def.Fields(field);
      rules.push_back(MappedFile::RuleFor(stored, stored.required || refusesNull[static_cast<std::size_t>(field)]));
    }
    std::uint64_t told = 0;
    if (pages.ProvenFit(roots[position], def.Name(), rules, progress, told)) continue;
    // Checked through SQLite, which names the first refused value; the rows
    // already told are not told again.
    Progress quieter;
    quieter.rows = [&](const std::string& table, std::size_t rows) {
      if (rows > told) progress.Rows(table, rows);
    };
    try {
      CheckRows(RowSource{source, target.get(), "main", false}, def, quieter);
    } catch (const Error&) {
      if (failedTable != nullptr) *failedTable = def.Name();
      throw;
    }
  }
  return true;
}

// Makes `stored`'s table in `target` through the statement dialect (so that
// a name it cannot write is refused as a statement would be), copies every
// row of the source's table as typed values, then makes its indexes.
void CopyTable(const RowSource& from, const ParallelChecker* checker, Storage& target, const TableDef& stored,
               Progress& progress) {
  Storage& source = from.storage;
  std::vector<FieldDef> fields;
  for (std::int16_t position = 0; position < stored.FieldCount(); ++position) fields.push_back(stored.Fields(position));
  std::vector<IndexDef> indexes;
  for (std::int16_t position = 0; position < stored.IndexCount(); ++position) indexes.push_back(stored.Indexes(position));
  // The rules an Access table's rows break are left out of the working copy
  // already; a text field is widened to its longest text here.
  for (const BrokenRule& rule : source.BrokenRules(stored.Name())) {
    if (rule.longest > 0) {
      FieldDef& field = fields[static_cast<std::size_t>(stored.FieldPosition(rule.field))];
      field.type = rule.longest <= 255 ? kText : kMemo;
      field.size = rule.longest <= 255 ? static_cast<std::int32_t>(rule.longest) : 0;
    }
    progress.Relaxed(stored.Name(), rule.description);
  }
  std::vector<std::string> renamed;
  const TableDef def = EngineDef(stored.Name(), std::move(fields), std::move(indexes), renamed);
  for (const std::string& rule : renamed) {
    progress.Relaxed(stored.Name(), rule);
  }
  CreateTable(target, def);
  auto makeIndexes = [&] {
    for (std::int16_t position = 0; position < def.IndexCount(); ++position) {
      const IndexDef& index = def.Indexes(position);
      CreateIndex(target, def, index, index.unique, index.primary);
    }
  };
  if (from.attached && !HoldsLongValues(from, stored)) {
    // An engine database's table: its rows are checked as every read checks
    // them, then SQLite moves its records, and those of each index (made
    // first, as the source's), without decoding them. Both read the source
    // in the target's one transaction: the same state.
    const std::string copy =
        "INSERT INTO main." + Quote(def.Name()) + " SELECT * FROM " + from.TableRef(stored.Name());
    if (checker == nullptr || checker->Reader() == nullptr) {
      CheckRows(from, stored, progress);
      makeIndexes();
      target.ExecWrite(copy);
    } else {
      // Both read the same state; a refused value is the copy's failure,
      // whatever the other side did meanwhile.
      std::exception_ptr refused;
      std::thread check([&] {
        try {
          CheckRows(RowSource{source, checker->Reader(), "main", false}, stored, progress);
        } catch (...) {
          refused = std::current_exception();
        }
      });
      std::exception_ptr failed;
      try {
        makeIndexes();
        target.ExecWrite(copy);
      } catch (...) {
        failed = std::current_exception();
      }
      check.join();
      if (refused) std::rethrow_exception(refused);
      if (failed) std::rethrow_exception(failed);
    }
    source.CheckUnchanged();
    return;
  }
  TableInfo& added = target.Table(def.Name(), 3078);
  // Long binary values are streamed when the source's table has rowids (a table made by another
  // program may have none: it is then read whole).
  std::string select = StreamingSelect(stored, from.TableRef(stored.Name()));
  if (!select.empty()) {
    sqlite3_stmt* probe = nullptr;
    if (sqlite3_prepare_v2(from.handle, select.c_str(), -1, &probe, nullptr) != SQLITE_OK) select.clear();
    sqlite3_finalize(probe);
  }
  const bool streaming = !select.empty();
  PreparedStatement rows(source, from.handle, streaming ? select : "SELECT * FROM " + from.TableRef(stored.Name()));
  std::vector<Value> row(static_cast<std::size_t>(def.FieldCount()));
  std::vector<std::pair<std::int16_t, sqlite3_int64>> streamed;  // field, size
  std::size_t count = 0;
  int rc;
  while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
    streamed.clear();
    int lengthColumn = def.FieldCount();
    for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
      const FieldDef& field = def.Fields(position);
      Value& value = row[static_cast<std::size_t>(position)];
      if (streaming && field.type == kLongBinary && sqlite3_column_type(rows.get(), lengthColumn++) != SQLITE_NULL) {
        streamed.emplace_back(position, sqlite3_column_int64(rows.get(), lengthColumn - 1));
        value = Value::Text(kLongBinary, {});
        continue;
      }
      if (!ReadColumn(rows.get(), position, field, value)) {
        RefuseStoredValue(rows.get(), position, stored.Name(), field, count + 1);
      }
    }
    target.InsertRow(added, row);
    if (!streamed.empty()) {
      const sqlite3_int64 rowid = sqlite3_column_int64(rows.get(), lengthColumn);
      const sqlite3_int64 to = sqlite3_last_insert_rowid(target.Handle());
      for (const auto& [position, size] : streamed) {
        CopyStreamed(from, target, stored, def, position, rowid, to, size);
      }
    }
    if (++count % 1000 == 0) progress.Rows(stored.Name(), count);
  }
  if (rc != SQLITE_DONE) source.Fail(rc);
  source.CheckUnchanged();
  makeIndexes();
}

// Copies the Access table read by `rows` into `target` straight from the
// reader, its rows by batches of one statement each, then its indexes; the
// rules its rows break are found on the way and relaxed (a text field is
// widened once its longest text is known, a unique index or primary key the
// rows break is made plain), then told in the order the working copy finds
// them (required fields, indexes, texts), before the names renamed.
// `sourceFailed` is set when reading the file fails.
void CopyJetRows(Storage& source, JetRows& rows, Storage& target, Progress& progress, bool& sourceFailed) {
  const TableDef& stored = rows.def;
  std::vector<FieldDef> fields;
  for (std::int16_t position = 0; position < stored.FieldCount(); ++position) fields.push_back(stored.Fields(position));
  std::vector<IndexDef> indexes;
  for (std::int16_t position = 0; position < stored.IndexCount(); ++position) indexes.push_back(stored.Indexes(position));
  std::vector<std::string> renamed;
  const TableDef def = EngineDef(stored.Name(), std::move(fields), std::move(indexes), renamed);
  CreateTable(target, def);
  std::vector<std::int16_t> texts;
  for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
    if (def.Fields(position).type == kText) texts.push_back(position);
  }
  std::vector<std::size_t> longest(static_cast<std::size_t>(def.FieldCount()), 0);
  {
    TableInfo& added = target.Table(def.Name(), 3078);
    std::vector<std::vector<Value>> batch(kInsertBatchRows,
                                          std::vector<Value>(static_cast<std::size_t>(def.FieldCount())));
    std::size_t filled = 0;
    std::size_t count = 0;
    for (;;) {
      std::vector<Value>& row = batch[filled];
      try {
        if (!source.NextJetRow(rows, row)) break;
      } catch (const EngineError&) {
        sourceFailed = true;
        throw;
      }
      for (const std::int16_t position : texts) {
        const Value& value = row[static_cast<std::size_t>(position)];
        std::size_t& most = longest[static_cast<std::size_t>(position)];
        if (!value.isNull && value.text.size() > std::max(static_cast<std::size_t>(def.Fields(position).size), most)) {
          most = std::max(most, Utf8Length(value.text));
        }
      }
      Storage::CheckRow(added, row);
      if (++filled == kInsertBatchRows) {
        target.InsertRows(added, batch, filled);
        filled = 0;
      }
      if (++count % 1000 == 0) progress.Rows(stored.Name(), count);
    }
    target.InsertRows(added, batch, filled);
  }
  source.CheckUnchanged();
  std::vector<std::string> told;
  for (const std::string& field : rows.requiredWithNull) told.push_back(RequiredWithNullRule(field));
  // A text field holding longer texts: the table is made again with the
  // field widened, its rows moved there (it has no index yet).
  std::vector<FieldDef> widened;
  std::vector<std::string> widenings;
  for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
    FieldDef field = def.Fields(position);
    const std::size_t most = longest[static_cast<std::size_t>(position)];
    if (most > static_cast<std::size_t>(field.size)) {
      widenings.push_back(WidenedTextRule(stored.Fields(position).name, field.size, most));
      field.type = most <= 255 ? kText : kMemo;
      field.size = most <= 255 ? static_cast<std::int32_t>(most) : 0;
    }
    widened.push_back(std::move(field));
  }
  if (!widenings.empty()) {
    const std::string moved = def.Name() + ".~vc.widened";
    auto run = [&](const std::string& sql) {
      if (const int rc = sqlite3_exec(target.Handle(), sql.c_str(), nullptr, nullptr, nullptr); rc != SQLITE_OK) {
        target.Fail(rc);
      }
    };
    run("ALTER TABLE " + Quote(def.Name()) + " RENAME TO " + Quote(moved));
    CreateTable(target, TableDef(def.Name(), std::move(widened), {}));
    run("INSERT INTO " + Quote(def.Name()) + " SELECT * FROM " + Quote(moved));
    run("DROP TABLE " + Quote(moved));
  }
  for (std::int16_t position = 0; position < def.IndexCount(); ++position) {
    const IndexDef& index = def.Indexes(position);
    try {
      CreateIndex(target, def, index, index.unique, index.primary);
    } catch (const EngineError& error) {
      if (error.Number() != 3022 && error.Number() != 3058) throw;
      CreateIndex(target, def, index, false, false);
      told.push_back(PlainIndexRule(stored.Indexes(position).name, index.primary, error.Number()));
    }
  }
  told.insert(told.end(), widenings.begin(), widenings.end());
  told.insert(told.end(), renamed.begin(), renamed.end());
  for (const std::string& rule : told) {
    progress.Relaxed(stored.Name(), rule);
  }
}

}  // namespace

void CopyDatabase(const std::string& sourcePath, const std::string& targetPath, const std::vector<std::string>& tables,
                  Progress* given, std::string* failedTable, std::string_view sourceConnect) {
  Progress silent;
  Progress& progress = given != nullptr ? *given : silent;
  std::shared_ptr<Storage> source = Storage::Open(sourcePath, PasswordOf(sourceConnect));
  // One read transaction: every table as the source stood at one moment.
  if (const int rc = sqlite3_exec(source->Handle(), "BEGIN", nullptr, nullptr, nullptr); rc != SQLITE_OK) {
    source->Fail(rc);
  }
  // An Access table's rows are read straight from the file, while they are
  // copied (a damaged table then fails during the copy, and the temporary
  // target goes); a table holding long binary values (OLE objects,
  // attachments' files) goes through the working copy, which streams them.
  std::vector<TableDef> defs;
  std::vector<std::optional<JetRows>> jetRows;
  for (const std::string& name : tables.empty() ? source->TableNames() : tables) {
    std::optional<JetRows> rows = source->IsJet() ? source->OpenJetRows(name, false) : std::nullopt;
    for (std::int16_t position = 0; rows && position < rows->def.FieldCount(); ++position) {
      if (rows->def.Fields(position).type == kLongBinary) rows.reset();
    }
    defs.push_back(rows ? rows->def : source->TableCopyingFromAccess(name, 3265).def);
    jetRows.push_back(std::move(rows));
  }
  // The target's tables are made through statements, where a name holding a
  // bracket would end early. An Access file's names are written with
  // parentheses instead (CopyTable); an engine database's such name, which
  // only another program can have made, is refused before anything is made.
  for (const TableDef& def : source->IsJet() ? std::vector<TableDef>{} : defs) {
    try {
      CheckName(def.Name());
      for (std::int16_t position = 0; position < def.FieldCount(); ++position) CheckName(def.Fields(position).name);
      for (std::int16_t position = 0; position < def.IndexCount(); ++position) CheckName(def.Indexes(position).name);
    } catch (const Error&) {
      if (failedTable != nullptr) *failedTable = def.Name();
      throw;
    }
  }

  struct stat status {};
  if (::lstat(targetPath.c_str(), &status) == 0) {
    // A link too, dangling or not: the copy never writes through one.
    throw errors::DatabaseExists(targetPath);
  }
  const std::string folder = FolderOf(targetPath);
  std::error_code ignored;
  if (targetPath.empty() || !std::filesystem::is_directory(folder, ignored)) {
    throw errors::InvalidPath(folder);
  }
  support::RemoveTemporariesOfEndedProcesses(folder, kTemporaryMark);

  TemporaryTarget temporary(targetPath);
  {
    RemovalOnSignal removal(temporary.Path());
    if (!source->IsJet() && CopyWholeFile(*source, defs, temporary.Path(), targetPath, progress, failedTable)) {
      std::shared_ptr<Storage> target = Storage::CreatePrivate(temporary.Path(), targetPath);
      target->FinishPrivate();
      target->Close();
      source->Close();
      removal.Publish(temporary);
      return;
    }
    std::shared_ptr<Storage> target = Storage::CreatePrivate(temporary.Path(), targetPath);
    // An engine database is read through the target's connection, in its
    // transaction (an Access file's rows through its working copy's).
    const bool attached = !source->IsJet();
    if (attached) target->AttachSource(*source, kAttachedSource);
    const RowSource from{*source, attached ? target->Handle() : source->Handle(), attached ? kAttachedSource : "main",
                         attached};
    // The transaction begins with a read of the attached source: its state
    // is held from then on.
    auto begin = [&] {
      target->BeginTrans();
      if (!attached) return;
      const std::string read = "SELECT count(*) FROM " + Quote(kAttachedSource) + ".sqlite_schema";
      if (const int rc = sqlite3_exec(target->Handle(), read.c_str(), nullptr, nullptr, nullptr); rc != SQLITE_OK) {
        source->Fail(rc);
      }
    };
    std::unique_ptr<ParallelChecker> checker;
    if (attached && std::thread::hardware_concurrency() > 1) {
      checker = std::make_unique<ParallelChecker>(*source, begin);
    } else {
      begin();
    }
    for (std::size_t position = 0; position < defs.size(); ++position) {
      const TableDef& def = defs[position];
      progress.Table(def.Name(), position + 1, defs.size());
      bool sourceFailed = false;
      try {
        if (jetRows[position]) {
          CopyJetRows(*source, *jetRows[position], *target, progress, sourceFailed);
        } else {
          CopyTable(from, checker.get(), *target, def, progress);
        }
      } catch (const Error&) {
        // The Access file's own refusal (damage) names the file, as when it is opened.
        if (failedTable != nullptr && !sourceFailed) *failedTable = def.Name();
        throw;
      }
    }
    target->CommitTrans();
    if (attached) target->DetachSource(kAttachedSource);
    target->FinishPrivate();
    target->Close();
    source->Close();
    removal.Publish(temporary);
  }
}

}  // namespace dbengine
