// SPDX-License-Identifier: Apache-2.0
// The storage behind a database handle (internal): one SQLite connection,
// its transactions, the cache of table definitions and prepared statements,
// and the cursors of open recordsets. The code is split by concern:
// connection.cpp (opening, closing, transactions, errors), catalog.cpp (tables,
// indexes, definition statements), row_statements.cpp (values, INSERT, DELETE,
// SELECT), cursor.cpp (recordsets' rows) and access_source.cpp (an Access
// file's working copy, filled by its AccessSource).
#ifndef DBENGINE_STORAGE_H_
#define DBENGINE_STORAGE_H_

#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "access_source.h"
#include "dbengine/dbengine.h"
#include "sql_parser.h"
#include "stored_value.h"


namespace dbengine {

// How long a write waits for another program's write before failing with
// 3050. Readers never wait, and a writer never waits for readers (WAL).
constexpr int kLockWaitMilliseconds = 5000;
// The wait goes by steps of this length, between which the handle's waiting
// callback is called.
constexpr int kLockWaitStepMilliseconds = 50;

// The page cache of a connection inside an explicit transaction, in KiB
// (SQLite's default of 2,000 KiB outside one). A bulk load into an indexed
// table otherwise evicts and reads back the same index pages over and over.
constexpr int kTransactionCacheKiB = 32768;
constexpr int kDefaultCacheKiB = 2000;

// Rows stored by one statement of a bulk insert (InsertRows): SQLite's
// work per statement is shared by as many rows.
constexpr std::size_t kInsertBatchRows = 64;

// Explicit transactions nest at most this deep (3003 beyond).
constexpr int kMaxTransactionDepth = 5;

std::string Upper(std::string_view text);
bool SameName(std::string_view a, std::string_view b);
std::string Quote(std::string_view name);  // "name" for SQLite statements

class Storage;

// Whether another program has written any of a few files since the watch
// began: the kernel reports each write (inotify); where no watch can be had,
// each file's size and modification time are compared instead.
class ChangeWatch {
 public:
  explicit ChangeWatch(const std::vector<std::string>& paths);
  ~ChangeWatch();
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;
  // True once a write has been seen (and from then on).
  bool Changed() const;

 private:
  struct Seen {
    std::string path;
    long long size = -1;
    long long modified = -1;  // nanoseconds
  };
  static Seen Look(const std::string& path);
  int fd_ = -1;
  std::vector<Seen> seen_;
  mutable bool changed_ = false;
};

// A prepared statement finalized on scope exit.
class PreparedStatement {
 public:
  PreparedStatement(const Storage& storage, sqlite3* db, const std::string& sql);
  ~PreparedStatement() { sqlite3_finalize(statement_); }
  PreparedStatement(const PreparedStatement&) = delete;
  PreparedStatement& operator=(const PreparedStatement&) = delete;
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

struct TableInfo {
  TableDef def;
  std::string quotedName;                 // "name" for SQLite statements
  std::vector<std::string> sqliteIndexNames;  // parallel to def's indexes
  std::vector<int> primaryPositions;      // fields of the primary index
  sqlite3_stmt* insertAll = nullptr;      // INSERT of a whole row, prepared once
  sqlite3_stmt* insertBatch = nullptr;    // INSERT of kInsertBatchRows whole rows, prepared once
};

class Cursor;

class Storage : public std::enable_shared_from_this<Storage> {
 public:
  // Opens a SQLite database file (for reading only with `readOnly`), or an
  // Access file read through a private working copy that stays read-only
  // (docs/jet-sources.md); `password` is an Access file's database password.
  static std::shared_ptr<Storage> Open(const std::string& path, std::string_view password = {},
                                       bool readOnly = false);
  static void Create(const std::string& path);
  // Makes the empty file `path` a new engine database that this connection
  // alone uses until it is renamed into place (a copy being built): its
  // journal is kept in memory and nothing is flushed, since the file is
  // thrown away unless complete and flushed by its maker. Errors name
  // `shownPath`, the name the file will have.
  static std::shared_ptr<Storage> CreatePrivate(const std::string& path, const std::string& shownPath);
  // Ends the building of such a file: it is put in WAL mode, as every
  // written database is.
  void FinishPrivate();
  ~Storage();

  bool IsClosed() const { return db_ == nullptr; }
  // Throws EngineError 3027 when the database is read-only.
  void RefuseIfReadOnly() const;
  // Ends the connection. An explicit transaction still open is rolled back.
  void Close();

  // Explicit transactions (docs/database-format.md). BeginTrans takes the
  // write lock at once (waiting up to kLockWaitMilliseconds, then 3050) on a
  // writable database; a nested call opens a savepoint (3003 past
  // kMaxTransactionDepth levels). CommitTrans and Rollback end the innermost
  // level; without a transaction they fail with 3034. A failed outer commit
  // rolls the whole transaction back and throws its error.
  void BeginTrans();
  void CommitTrans();
  void Rollback();
  int TransactionDepth() const { return depth_; }

  void Execute(std::string_view text);
  // Database::SetIndexesAside and MakeIndexesAgain.
  bool SetIndexesAside(std::string_view name);
  void MakeIndexesAgain();
  std::unique_ptr<Cursor> OpenCursor(std::string_view source, RecordsetType type);
  // The table's information, as the SQLite database holds it; throws
  // `missingError` when there is no such table (an Access table not yet
  // copied into the working copy among them).
  TableInfo& Table(std::string_view name, std::int32_t missingError);
  // Table, but an Access table not yet in the working copy is first copied
  // into it whole, rows and indexes, from the file.
  TableInfo& TableCopyingFromAccess(std::string_view name, std::int32_t missingError) {
    if (access_ != nullptr) CopyAccessTable(name);
    return Table(name, missingError);
  }
  // The definition of table `name` (3265 when missing); for an Access table
  // not yet copied, read from the Access file without copying its rows.
  TableDef Definition(std::string_view name);
  std::vector<std::string> TableNames();
  // The rules of Access table `name` its rows break (the table copied into
  // the working copy first); none for a table of the engine.
  std::vector<BrokenRule> BrokenRules(std::string_view name);

  // Attaches the file `source`'s connection reads, for reading only (as an
  // immutable file when that connection reads it so), under `schema`: a copy
  // then moves its records without decoding them. Outside a transaction.
  void AttachSource(const Storage& source, const std::string& schema);
  // The URI reading this connection's file as it does, for reading only.
  std::string ReadUri() const;
  void DetachSource(const std::string& schema);
  // Runs `sql`, a write of the engine's own making, as one write.
  void ExecWrite(const std::string& sql);

  // Stores one whole row (values already of the fields' types) with every check.
  void InsertRow(TableInfo& table, const std::vector<Value>& row);
  // The engine's own checks of a whole row before it is stored: no Null in
  // the primary key (3058) nor in a required field (3314).
  static void CheckRow(const TableInfo& table, const std::vector<Value>& row);
  // Stores the first `count` rows of `rows`, each already through CheckRow:
  // kInsertBatchRows of them in one SQLite statement, all or none (fewer,
  // one by one, as InsertRow).
  void InsertRows(TableInfo& table, const std::vector<std::vector<Value>>& rows, std::size_t count);

  // What a write does while another program's write holds the file:
  // `waiting` is called between short sleeps of the wait; with
  // `failAtOnceAfterTimeout`, once a wait has run out, later writes that find
  // the file held fail at once (Database::SetLockWaitCallback and
  // SetFailAtOnceAfterLockTimeout).
  void SetLockWait(std::function<void()> waiting, bool failAtOnceAfterTimeout);

  // Database::ReadRows in the pages of the file (stored_rows.cpp); false,
  // having given no row, where that cannot be done.
  bool ReadRowsInPages(std::string_view name, const RowVisit& visit);

  // Access table `name` read straight from the file rather than through
  // the working copy, for a SELECT * of it: its definition and its rows as
  // the working copy would give them, in the same order. With `readFirst`,
  // every row is read once here, so that a damaged table fails here with
  // the error its copy would give, before any row is given; without, such
  // a table fails in NextJetRow. Empty when this is no Access file, `name`
  // is no Access table, or it is already in the working copy.
  std::optional<JetRows> OpenJetRows(std::string_view name, bool readFirst = true);
  bool IsJet() const { return access_ != nullptr; }
  // The next row of `rows` (from OpenJetRows) into `row`; false after the last.
  bool NextJetRow(JetRows& rows, std::vector<Value>& row) { return access_->NextRow(rows, row); }

  void Register(Cursor* cursor) { cursors_.insert(cursor); }
  void Unregister(Cursor* cursor) { cursors_.erase(cursor); }
  sqlite3* Handle() const { return db_; }
  [[noreturn]] void Fail(int rc, std::string_view context = {}) const;
  // Throws EngineError 3197 once another program is seen to have written the
  // file of a connection that reads it without SQLite's locks (a quiet WAL
  // database opened for reading only): what was read may mix two states.
  // Every failure, each table looked up and each recordset's end check it,
  // and a statement running long checks it as it goes.
  void CheckUnchanged() const;

 private:
  friend class WriteScope;
  Storage() = default;
  // access_source.cpp: the working copy of an Access file, each table
  // copied whole into it from the file the first time it is looked up.
  friend class AccessSource;
  static std::shared_ptr<Storage> OpenAccess(const std::string& path, std::string_view password);
  // Copies Access table `name` into the working copy unless it is there or
  // the file has no such table (then Table tells).
  void CopyAccessTable(std::string_view name);
  // Table's lookup: null when the SQLite database has no table `name`.
  TableInfo* FindTable(std::string_view name);
  // Every write starts here: refuses a read-only database and a lost
  // transaction, and tries the switch to WAL once.
  void BeginWrite();
  void TryWal();
  bool AskWal(const char* sql);
  void SetCacheKiB(int kib);
  // SQLite's busy handler: true (1) to try again after a short sleep.
  static int WaitForLock(void* storage, int attempts);
  // Called with the error of a failed write: when SQLite has rolled the
  // whole explicit transaction back (disk full, I/O error), the transaction
  // is marked lost with that error.
  void NoteFailure(const EngineError& error);
  // Fail for a write: notes the failure, then throws it.
  [[noreturn]] void FailWrite(int rc);
  sqlite3_stmt* Cached(const std::string& sql);
  void ClearCaches();
  void RemoveSnapshot();  // the watch and the private copy, if any
  // Empties the caches when another connection has changed the schema since
  // they were filled (PRAGMA schema_version). Inside a transaction the
  // schema is the transaction's, and is read again only when the file's data
  // version has moved; outside one it is read each time.
  void ForgetStaleDefinitions();
  void LoadTable(const std::string& realName, TableInfo& info);
  void RunDefinition(const Statement& statement);
  void ExecSql(const std::string& sql);
  void StepCached(const std::string& sql);  // one statement, prepared once
  void EnsureIndexCatalog();
  void AddIndex(TableInfo& table, const std::string& name, const std::vector<std::string>& columns,
                bool primary, bool unique);
  void DropIndex(TableInfo& table, const std::string& name);
  std::string BuildWhere(TableInfo& table, const std::vector<Condition>& where,
                         std::vector<Value>& bound);

  sqlite3* db_ = nullptr;
  std::string path_;
  std::unique_ptr<AccessSource> access_;  // the Access file behind a working copy
  std::unique_ptr<ChangeWatch> watch_;  // writes by others to a file read without locks
  std::string snapshotFolder_;          // a private copy read instead of the file, removed at Close
  bool readOnly_ = false;
  bool wal_ = false;  // the file is in WAL mode
  bool private_ = false;  // a file being built, no journal on disk (CreatePrivate)
  bool mayWait_ = true;   // false while a step must not wait for the lock at all
  std::function<void()> lockWaiting_;
  bool failAtOnceAfterTimeout_ = false;
  bool lockTimedOut_ = false;  // a wait for the lock ran out on this connection
  std::chrono::steady_clock::time_point waitStart_;
  int depth_ = 0;                       // explicit transaction levels open
  std::optional<EngineError> lost_;     // why the explicit transaction ended early
  // The indexes of one table set aside within the explicit transaction
  // (SetIndexesAside): the table's information as it stood, which LoadTable
  // gives meanwhile, and the statements that make its SQLite indexes again.
  struct IndexesAside {
    std::string table;  // its SQLite name
    TableDef def;
    std::vector<std::string> sqliteIndexNames;
    std::vector<int> primaryPositions;
    std::vector<std::string> statements;
    int depth = 0;  // the transaction level they were set aside in
  };
  std::optional<IndexesAside> aside_;
  // After a failure while the indexes are set aside or made again: back to
  // the state before they were set aside, the failure noted.
  void UndoIndexesAside(const EngineError& error);
  std::unordered_map<std::string, std::unique_ptr<TableInfo>> tables_;  // by upper-cased name
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
  sqlite3_stmt* schemaProbe_ = nullptr;  // PRAGMA schema_version, finalized with the caches
  long long schemaVersion_ = -1;         // the schema the caches were filled from
  unsigned int dataVersion_ = 0;         // the file's data version when it was read
  std::string lastName_;  // the name last given to Table(), and its table
  TableInfo* lastTable_ = nullptr;
  std::set<Cursor*> cursors_;
  Statement parsed_;  // reused from one Execute to the next
  std::vector<Value> row_;
};

// The rows behind a Recordset.
class Cursor {
 public:
  Cursor(std::shared_ptr<Storage> storage, TableInfo& table, sqlite3_stmt* statement,
         RecordsetType type);
  // The rows of an Access table read straight from the file.
  Cursor(std::shared_ptr<Storage> storage, JetRows rows, RecordsetType type);
  ~Cursor();
  void Detach();  // the storage is closing: forget the statement

  bool IsEOF() const;
  bool IsBOF() const;
  void MoveNext();
  std::int16_t FieldCount() const;
  const FieldDef& Field(std::int16_t position) const;
  const Value& FieldValue(std::int16_t position) const;
  const std::vector<Value>& Row() const;
  void AddNew();
  void SetFieldValue(std::int16_t position, std::string_view text);
  void Update();

 private:
  // Checked at each call (a row's every value): the throw kept out of line.
  void CheckLive() const {
    if (detached_ || storage_->IsClosed()) NoLongerValid();
  }
  [[noreturn]] static void NoLongerValid();
  void CheckWritable() const;  // 3251 unless a table-type recordset
  void Start();
  void Step();
  std::shared_ptr<Storage> storage_;
  std::string tableName_;
  TableDef def_;
  sqlite3_stmt* statement_ = nullptr;
  std::optional<JetRows> jetRows_;  // instead of the statement
  bool detached_ = false;
  RecordsetType type_;
  bool eof_ = true;
  bool bof_ = true;
  std::vector<Value> current_;
  bool adding_ = false;
  std::vector<Value> newRow_;
  std::uint64_t rowsRead_ = 0;  // the number of the current row, from 1
};

// A write made of several SQLite steps: its own SQLite transaction outside an
// explicit one (taking the write lock first), a savepoint inside one. Undone
// unless Done() is called.
class WriteScope {
 public:
  explicit WriteScope(Storage& storage);
  ~WriteScope();
  WriteScope(const WriteScope&) = delete;
  WriteScope& operator=(const WriteScope&) = delete;
  void Done();

 private:
  Storage& storage_;
  bool open_ = false;
};

// Binds `value` to `slot`; SQLITE_STATIC when `value` outlives the step.
void BindValue(sqlite3_stmt* statement, int slot, const Value& value,
               sqlite3_destructor_type lifetime = SQLITE_TRANSIENT);

// Converts a statement literal to the type of `field` (3464, 3349, 3163).
void ConvertLiteral(const Literal& literal, const FieldDef& field, Value& out);
// Converts a string written to a recordset field (3421, 3349, 3163).
void ConvertString(std::string_view text, const FieldDef& field, Value& out);

// Reads column `column` of the current row of `statement` as a value of
// `field`'s type. Returns false, `out` then unspecified, when what SQLite
// holds there is not a value of the field as the engine stores it
// (docs/database-format.md): another storage class, a number out of the
// field's range or not exact in its type, a text longer than the field.
bool ReadColumn(sqlite3_stmt* statement, int column, const FieldDef& field, Value& out);
// Whether the stored `value` fits `field`, by ReadColumn's rules, without
// taking it out (a check of every stored value).
bool StoredValueFits(sqlite3_value* value, const FieldDef& field);
// Throws kErrStoredValue (error.h) naming the table, the field, the row (its number in
// reading order, from 1) and what is stored in `column`.
[[noreturn]] void RefuseStoredValue(sqlite3_stmt* statement, int column, const std::string& table,
                                    const FieldDef& field, std::uint64_t row);

}  // namespace dbengine

#endif  // DBENGINE_STORAGE_H_
