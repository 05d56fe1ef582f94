// SPDX-License-Identifier: Apache-2.0
// The connection to a database file and its transactions.
//
// A database is one SQLite file kept in WAL mode once written, so that other
// programs reading it never stop a writer and are never stopped by one.
// Outside an explicit transaction every statement is its own SQLite
// transaction, on disk when it returns (synchronous=FULL). BeginTrans takes
// the write lock at once with BEGIN IMMEDIATE, so that two programs writing
// the same file are ordered before either changes anything; nested levels
// are savepoints. A write waits kLockWaitMilliseconds for another program's
// write, then fails with 3050. SQLite error codes become the engine's
// numbers in Fail.
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "errors.h"
#include "jet/jet.h"
#include "storage.h"

namespace dbengine {
namespace {

constexpr std::size_t kMaxCachedStatements = 256;
// A statement of a connection read without locks looks for another
// program's writes every this many of SQLite's virtual machine steps.
constexpr int kChangeCheckSteps = 10000;

// Whether this process may write `path` and create files beside it (the
// journal or the WAL's companions). A file that may not be written, or a
// folder where nothing may be created, is opened for reading only.
bool Writable(const std::string& path) {
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  return ::access(path.c_str(), W_OK) == 0 && ::access(folder.c_str(), W_OK) == 0;
}

// The URI naming the file `path` (a path starting with two slashes keeps
// them after an empty authority).
std::string FileUri(const std::string& path) {
  std::string uri = path.rfind("//", 0) == 0 ? "file://" : "file:";
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') {
      uri.push_back(static_cast<char>(c));
    } else {
      uri += {'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return uri;
}

// The URI naming `path` as a file nobody can change while it is read.
std::string ImmutableUri(const std::string& path) { return FileUri(path) + "?immutable=1"; }

// Copies `from` to the new file `to`; false when it cannot.
bool CopyFile(const std::string& from, const std::string& to) {
  std::error_code error;
  return std::filesystem::copy_file(from, to, error) && !error;
}

}  // namespace

// ---------------------------------------------------------------------------
// Writes by others.

ChangeWatch::ChangeWatch(const std::vector<std::string>& paths) {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  for (const std::string& path : paths) {
    if (fd_ >= 0 && ::inotify_add_watch(fd_, path.c_str(), IN_MODIFY) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
    seen_.push_back(Look(path));
  }
}

ChangeWatch::~ChangeWatch() {
  if (fd_ >= 0) ::close(fd_);
}

ChangeWatch::Seen ChangeWatch::Look(const std::string& path) {
  Seen seen;
  seen.path = path;
  struct stat attributes {};
  if (::stat(path.c_str(), &attributes) == 0) {
    seen.size = attributes.st_size;
    seen.modified = attributes.st_mtim.tv_sec * 1000000000LL + attributes.st_mtim.tv_nsec;
  }
  return seen;
}

bool ChangeWatch::Changed() const {
  if (changed_) return true;
  if (fd_ >= 0) {
    // Only IN_MODIFY is asked for: any event (or a lost one) is a write.
    alignas(inotify_event) char events[4096];
    const ssize_t count = ::read(fd_, events, sizeof events);
    changed_ = count > 0 || (count < 0 && errno != EAGAIN && errno != EINTR);
    return changed_;
  }
  for (const Seen& seen : seen_) {
    const Seen now = Look(seen.path);
    if (now.size != seen.size || now.modified != seen.modified) changed_ = true;
  }
  return changed_;
}

void Storage::CheckUnchanged() const {
  if (watch_ && watch_->Changed()) throw errors::ChangedWhileRead(path_);
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

bool SameName(std::string_view a, std::string_view b) { return Upper(a) == Upper(b); }

std::string Quote(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted.push_back(c);
    if (c == '"') quoted.push_back('"');
  }
  quoted.push_back('"');
  return quoted;
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

PreparedStatement::PreparedStatement(const Storage& storage, sqlite3* db, const std::string& sql) {
  const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement_, nullptr);
  if (rc != SQLITE_OK) storage.Fail(rc);
}

// ---------------------------------------------------------------------------
// Errors.

void Storage::Fail(int rc, std::string_view context) const {
  // Any failure of a read under which the file changed is that change.
  CheckUnchanged();
  const int primary = rc & 0xFF;
  std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  switch (rc) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
      throw errors::Duplicates();
    case SQLITE_CONSTRAINT_NOTNULL: {
      const std::size_t colon = message.rfind(": ");
      const std::string field = colon == std::string::npos ? std::string(context) : message.substr(colon + 2);
      throw errors::RequiredFieldNull(field);
    }
    default:
      break;
  }
  switch (primary) {
    case SQLITE_READONLY:
      throw errors::ReadOnlyDatabase(path_);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      throw errors::Locked();
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      throw errors::UnrecognizedFormat(path_);
    case SQLITE_FULL:
      if (access_ != nullptr) {
        // The Access file is only read: what is full is the working copy's folder.
        throw errors::WorkingCopyFull(access_->WorkingFolder());
      }
      throw errors::DiskFull(path_);
    case SQLITE_IOERR:
      if (access_ != nullptr) {
        // A write refused for the file's size (EFBIG) is a full folder too.
        const int error = db_ != nullptr ? sqlite3_system_errno(db_) : 0;
        if (error == ENOSPC || error == EFBIG || error == EDQUOT) Fail(SQLITE_FULL);
        throw errors::WorkingCopyDiskError(access_->WorkingFolder());
      }
      throw errors::DiskError(path_);
    case SQLITE_NOMEM:
      throw errors::OutOfMemory();
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      throw errors::CannotOpen(path_);
    default:
      throw errors::EngineFailure(message);
  }
}

// ---------------------------------------------------------------------------
// Opening, creating, closing.

std::shared_ptr<Storage> Storage::Open(const std::string& path, std::string_view password, bool readOnly) {
  struct stat attributes {};
  if (path.empty() || path.find('\0') != std::string::npos) {
    throw errors::FileNotFound(path);
  }
  if (::stat(path.c_str(), &attributes) != 0) {
    if (errno == EACCES) {
      throw errors::CannotOpen(path);
    }
    std::error_code ignored;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty() && !std::filesystem::is_directory(parent, ignored)) {
      throw errors::InvalidPath(parent.string());
    }
    throw errors::FileNotFound(path);
  }
  if (!S_ISREG(attributes.st_mode)) {
    throw errors::UnrecognizedFormat(path);
  }
  // Memory statistics cost a global mutex on every allocation; the engine
  // never reads them. Set before SQLite first runs (an Access file's working
  // copy too); this fails harmlessly when SQLite is already running.
  static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  (void)configured;
  bool headerSaysWal = false;
  {
    std::ifstream probe(path, std::ios::binary);
    if (!probe) {
      throw errors::CannotOpen(path);
    }
    char header[32] = {};
    probe.read(header, sizeof header);
    // Anything but a SQLite or Jet file is refused before SQLite may write to it.
    switch (jet::FormatOfHeader(std::string_view(header, static_cast<std::size_t>(probe.gcount())))) {
      case jet::FileFormat::kSqlite:
        // Bytes 18 and 19 of a SQLite header are 2 for a file in WAL mode.
        headerSaysWal = header[18] == 2 && header[19] == 2;
        break;
      case jet::FileFormat::kJet:
        probe.close();
        return OpenAccess(path, password);
      case jet::FileFormat::kOther:
        throw errors::UnrecognizedFormat(path);
    }
  }
  std::shared_ptr<Storage> storage(new Storage());
  storage->path_ = path;
  const bool writable = !readOnly && Writable(path);
  // A connection that may not write cannot remove the WAL's companions when
  // it closes, and must create no file beside the database. SQLite reads a
  // WAL database through its shared-memory file (-shm), and would create it
  // (and the -wal) where it may. So:
  // - with -wal and -shm there (a program has the file open, or had), SQLite
  //   reads it as usual: a read transaction sees one state;
  // - with no -wal, the file holds every change: it is read as immutable,
  //   without locks, and a watch on the file turns any write another program
  //   makes meanwhile (a checkpoint) into error 3197 (CheckUnchanged);
  // - with a -wal alone, its changes can only be read through a -shm: both
  //   files are copied into a private folder, read there, and the copy is
  //   refused (3197) if either file was written while it was made.
  std::error_code ignored;
  const bool walThere = !writable && std::filesystem::exists(path + "-wal", ignored);
  const bool shmThere = !writable && std::filesystem::exists(path + "-shm", ignored);
  std::string openedPath = path;
  bool immutable = false;
  if (!writable && walThere && !shmThere) {
    storage->watch_ = std::make_unique<ChangeWatch>(std::vector<std::string>{path, path + "-wal"});
    std::string folder = (std::filesystem::temp_directory_path(ignored) / "vidange-lecture-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
      throw errors::NoTemporaryFolder(path);
    }
    storage->snapshotFolder_ = folder;
    openedPath = folder + "/base";
    if (!CopyFile(path, openedPath) || !CopyFile(path + "-wal", openedPath + "-wal")) {
      std::filesystem::remove_all(folder, ignored);
      throw errors::ReadingCopyFailed(path, folder);
    }
    if (storage->watch_->Changed()) {
      std::filesystem::remove_all(folder, ignored);
      throw errors::ChangedWhileRead(path);
    }
    storage->watch_.reset();  // the copy is this connection's alone
  } else if (!writable && headerSaysWal && !walThere) {
    // Watched before the -wal is looked for: a program that has written the
    // file and removed its -wal before then has finished writing.
    storage->watch_ = std::make_unique<ChangeWatch>(std::vector<std::string>{path});
    immutable = !std::filesystem::exists(path + "-wal", ignored);
    if (!immutable) storage->watch_.reset();
  }
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(immutable ? ImmutableUri(path).c_str() : openedPath.c_str(), &db,
                                 (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX |
                                     (immutable ? SQLITE_OPEN_URI : 0),
                                 nullptr);
  storage->db_ = db;
  try {
    if (rc != SQLITE_OK) storage->Fail(rc);
    sqlite3_busy_handler(db, &Storage::WaitForLock, storage.get());
    sqlite3_extended_result_codes(db, 1);
    if (storage->watch_) {
      sqlite3_progress_handler(
          db, kChangeCheckSteps, [](void* opened) { return static_cast<Storage*>(opened)->watch_->Changed() ? 1 : 0; },
          storage.get());
    }
    storage->readOnly_ = !writable || sqlite3_db_readonly(db, "main") == 1;
    // Reading the schema tells a damaged or foreign file from a database.
    storage->ExecSql("SELECT count(*) FROM sqlite_schema");
    // Each statement outside a transaction is on disk when it returns.
    if (!storage->readOnly_) storage->ExecSql("PRAGMA synchronous=FULL");
    storage->wal_ = storage->AskWal("PRAGMA journal_mode");
  } catch (...) {
    storage->Close();
    throw;
  }
  return storage;
}

void Storage::Create(const std::string& path) {
  std::error_code ignored;
  struct stat entry {};
  if (::lstat(path.c_str(), &entry) == 0) {
    if (S_ISLNK(entry.st_mode)) {
      // Even a link to nothing: the database would be made where it points.
      throw errors::CreateThroughLink(path);
    }
    throw errors::DatabaseExists(path);
  }
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent, ignored)) {
    throw errors::InvalidPath(parent.string());
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                           nullptr);
  if (rc == SQLITE_OK) {
    // WAL is recorded in the file's header: the database stays in it.
    rc = sqlite3_exec(db,
                      "PRAGMA journal_mode=WAL; "
                      "CREATE TABLE MSysIndexes (TableName TEXT NOT NULL, IndexName TEXT NOT NULL, "
                      "SqliteName TEXT NOT NULL, IsPrimary INTEGER NOT NULL, IsUnique INTEGER NOT NULL)",
                      nullptr, nullptr, nullptr);
  }
  sqlite3_close_v2(db);
  if (rc != SQLITE_OK) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path + suffix, ignored);
    throw errors::CannotCreate(path);
  }
}

std::shared_ptr<Storage> Storage::CreatePrivate(const std::string& path, const std::string& shownPath) {
  std::shared_ptr<Storage> storage(new Storage());
  storage->path_ = shownPath;
  sqlite3* db = nullptr;
  // Named by its URI, so that a source attached to it may be named by one too.
  const int rc = sqlite3_open_v2(FileUri(path).c_str(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, nullptr);
  storage->db_ = db;
  if (rc != SQLITE_OK) storage->Fail(rc);
  sqlite3_extended_result_codes(db, 1);
  storage->private_ = true;
  // A new file's pages are not journaled: the journal in memory holds only
  // what a failing statement must undo.
  storage->ExecSql("PRAGMA journal_mode=MEMORY");
  storage->ExecSql("PRAGMA synchronous=OFF");
  storage->EnsureIndexCatalog();
  return storage;
}

void Storage::FinishPrivate() {
  wal_ = AskWal("PRAGMA journal_mode=WAL");
  if (!wal_) Fail(SQLITE_IOERR);
}

Storage::~Storage() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report. Close only rolls back, which cannot lose
    // anything that was committed.
  }
}

void Storage::Close() {
  if (db_ == nullptr) {
    access_.reset();
    RemoveSnapshot();
    return;
  }
  for (Cursor* cursor : cursors_) cursor->Detach();
  cursors_.clear();
  ClearCaches();
  schemaVersion_ = -1;
  // A transaction never committed is undone, as a connection's end undoes it.
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  depth_ = 0;
  lost_.reset();
  aside_.reset();
  // The last connection to close checkpoints the WAL and removes -wal and -shm.
  sqlite3_close_v2(db_);
  db_ = nullptr;
  access_.reset();
  RemoveSnapshot();
}

void Storage::RemoveSnapshot() {
  watch_.reset();
  if (snapshotFolder_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(snapshotFolder_, ignored);
  snapshotFolder_.clear();
}

// ---------------------------------------------------------------------------
// Transactions.

void Storage::StepCached(const std::string& sql) {
  sqlite3_stmt* statement = Cached(sql);
  const int rc = sqlite3_step(statement);
  sqlite3_reset(statement);
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) Fail(rc);
}

void Storage::ExecSql(const std::string& sql) {
  char* error = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  sqlite3_free(error);
  if (rc != SQLITE_OK) Fail(rc);
}

std::string Storage::ReadUri() const {
  const char* file = sqlite3_db_filename(db_, "main");
  if (file == nullptr || file[0] == '\0') Fail(SQLITE_CANTOPEN);
  // Read as this connection reads it: never written, without locks when
  // this one reads it as an immutable file.
  return FileUri(file) + "?mode=ro" + (sqlite3_uri_boolean(file, "immutable", 0) ? "&immutable=1" : "");
}

void Storage::AttachSource(const Storage& source, const std::string& schema) {
  const std::string uri = source.ReadUri();
  PreparedStatement attach(*this, db_, "ATTACH ?1 AS " + Quote(schema));
  sqlite3_bind_text(attach.get(), 1, uri.c_str(), -1, SQLITE_TRANSIENT);
  if (const int rc = sqlite3_step(attach.get()); rc != SQLITE_DONE) Fail(rc);
  // Its pages are read twice (the check of its values, then the copy of its
  // records): mapped, they are read from the system's cache without a copy.
  ExecSql("PRAGMA " + Quote(schema) + ".mmap_size=2147418112");
}

void Storage::DetachSource(const std::string& schema) { ExecSql("DETACH " + Quote(schema)); }

void Storage::ExecWrite(const std::string& sql) {
  BeginWrite();
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) FailWrite(rc);
}

void Storage::RefuseIfReadOnly() const {
  if (readOnly_) Fail(SQLITE_READONLY);
}

// Whether the connection's file is in WAL mode, from the journal mode `sql` gives.
bool Storage::AskWal(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  bool wal = false;
  if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
    const unsigned char* mode = sqlite3_column_text(statement, 0);
    wal = mode != nullptr && std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
  }
  sqlite3_finalize(statement);
  return wal;
}

void Storage::TryWal() {
  // The switch needs the file to itself for a moment: it is tried without
  // waiting, outside any transaction, before each write until it is had. A
  // database another program is reading meanwhile keeps its rollback journal.
  if (wal_ || private_ || readOnly_ || !sqlite3_get_autocommit(db_) || !cursors_.empty()) return;
  mayWait_ = false;
  wal_ = AskWal("PRAGMA journal_mode=WAL");
  mayWait_ = true;
}

void Storage::SetLockWait(std::function<void()> waiting, bool failAtOnceAfterTimeout) {
  lockWaiting_ = std::move(waiting);
  failAtOnceAfterTimeout_ = failAtOnceAfterTimeout;
}

int Storage::WaitForLock(void* opaque, int attempts) {
  auto& storage = *static_cast<Storage*>(opaque);
  if (!storage.mayWait_ || (storage.failAtOnceAfterTimeout_ && storage.lockTimedOut_)) return 0;
  const auto now = std::chrono::steady_clock::now();
  if (attempts == 0) storage.waitStart_ = now;
  const auto left = std::chrono::milliseconds(kLockWaitMilliseconds) - (now - storage.waitStart_);
  if (left <= std::chrono::milliseconds(0)) {
    storage.lockTimedOut_ = true;
    return 0;
  }
  if (storage.lockWaiting_) {
    try {
      storage.lockWaiting_();
    } catch (...) {
      // SQLite cannot carry an exception through its step; the wait goes on.
    }
  }
  const auto nap = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(kLockWaitStepMilliseconds)));
  sqlite3_sleep(static_cast<int>(nap.count()) + 1);
  return 1;
}

void Storage::BeginWrite() {
  RefuseIfReadOnly();
  if (lost_) throw *lost_;
  if (depth_ == 0) TryWal();
}

void Storage::NoteFailure(const EngineError& error) {
  if (depth_ > 0 && !lost_ && sqlite3_get_autocommit(db_)) {
    lost_ = errors::TransactionUndone(error);
  }
}

void Storage::FailWrite(int rc) {
  try {
    Fail(rc);
  } catch (const EngineError& error) {
    NoteFailure(error);
    throw;
  }
}

void Storage::BeginTrans() {
  if (depth_ >= kMaxTransactionDepth) {
    throw errors::TooManyTransactions();
  }
  if (depth_ > 0) {
    if (lost_) throw *lost_;
    // Prepared once: an import opens and releases one per line in keep mode.
    StepCached("SAVEPOINT trans" + std::to_string(depth_));
    ++depth_;
    return;
  }
  if (readOnly_) {
    // Reads inside the transaction see one state of the file; writes fail
    // with 3027. The cache keeps its size: it serves writes.
    ExecSql("BEGIN");
    depth_ = 1;
    return;
  }
  TryWal();
  ExecSql("BEGIN IMMEDIATE");
  depth_ = 1;
  SetCacheKiB(kTransactionCacheKiB);
}

void Storage::SetCacheKiB(int kib) {
  // Only the cache's size: a failure here changes no data and is not reported.
  sqlite3_exec(db_, ("PRAGMA cache_size=-" + std::to_string(kib)).c_str(), nullptr, nullptr, nullptr);
}

void Storage::CommitTrans() {
  if (depth_ == 0) throw errors::NoTransaction();
  if (lost_) {
    const EngineError error = *lost_;
    Rollback();
    throw error;
  }
  if (aside_ && aside_->depth == depth_) {
    // Nothing is committed without its indexes.
    try {
      MakeIndexesAgain();
    } catch (...) {
      Rollback();
      throw;
    }
  }
  if (depth_ > 1) {
    --depth_;
    StepCached("RELEASE trans" + std::to_string(depth_));
    return;
  }
  const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    depth_ = 0;
    SetCacheKiB(kDefaultCacheKiB);
    return;
  }
  // Nothing of a transaction that cannot be committed is kept.
  try {
    Fail(rc);
  } catch (const EngineError&) {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    depth_ = 0;
    SetCacheKiB(kDefaultCacheKiB);
    ClearCaches();
    throw;
  }
}

void Storage::Rollback() {
  if (depth_ == 0) throw errors::NoTransaction();
  // SQLite brings back the indexes set aside within the level undone.
  if (aside_ && (lost_ || depth_ == 1 || aside_->depth >= depth_)) aside_.reset();
  // Definitions undone with the transaction must not stay in the caches.
  ClearCaches();
  if (lost_ || depth_ == 1) {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    depth_ = 0;
    lost_.reset();
    SetCacheKiB(kDefaultCacheKiB);
    return;
  }
  --depth_;
  const std::string name = "trans" + std::to_string(depth_);
  ExecSql("ROLLBACK TO " + name);
  ExecSql("RELEASE " + name);
}

WriteScope::WriteScope(Storage& storage) : storage_(storage) {
  storage_.BeginWrite();
  storage_.ExecSql(storage_.depth_ > 0 ? "SAVEPOINT statement" : "BEGIN IMMEDIATE");
  open_ = true;
}

void WriteScope::Done() {
  if (!open_) return;
  open_ = false;
  if (storage_.depth_ > 0) {
    storage_.ExecSql("RELEASE statement");
    return;
  }
  const int rc = sqlite3_exec(storage_.db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    if (!sqlite3_get_autocommit(storage_.db_)) sqlite3_exec(storage_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
    storage_.Fail(rc);
  }
}

WriteScope::~WriteScope() {
  if (!open_ || sqlite3_get_autocommit(storage_.db_)) return;
  if (storage_.depth_ > 0) {
    sqlite3_exec(storage_.db_, "ROLLBACK TO statement", nullptr, nullptr, nullptr);
    sqlite3_exec(storage_.db_, "RELEASE statement", nullptr, nullptr, nullptr);
  } else {
    sqlite3_exec(storage_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

// ---------------------------------------------------------------------------
// Caches.

sqlite3_stmt* Storage::Cached(const std::string& sql) {
  if (auto found = statements_.find(sql); found != statements_.end()) {
    sqlite3_reset(found->second);
    sqlite3_clear_bindings(found->second);
    return found->second;
  }
  if (statements_.size() >= kMaxCachedStatements) {
    for (auto& entry : statements_) sqlite3_finalize(entry.second);
    statements_.clear();
  }
  sqlite3_stmt* statement = nullptr;
  const int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                    &statement, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
  statements_.emplace(sql, statement);
  return statement;
}

void Storage::ClearCaches() {
  for (auto& entry : statements_) sqlite3_finalize(entry.second);
  statements_.clear();
  for (auto& entry : tables_) {
    sqlite3_finalize(entry.second->insertAll);
    sqlite3_finalize(entry.second->insertBatch);
  }
  tables_.clear();
  sqlite3_finalize(schemaProbe_);
  schemaProbe_ = nullptr;
  lastTable_ = nullptr;
}

}  // namespace dbengine
