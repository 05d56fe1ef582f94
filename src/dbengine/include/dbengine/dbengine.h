// SPDX-License-Identifier: Apache-2.0
// The database engine: open a database file, run statements of the engine's
// dialect, read table definitions, read rows through recordsets and add rows
// through table-type recordsets.
//
// A database file is a SQLite 3 file (docs/database-format.md). Every failure
// is an EngineError (or a RuntimeError for a handle that was never opened)
// with the engine's number and a French description; nothing else escapes.
#ifndef DBENGINE_DBENGINE_H_
#define DBENGINE_DBENGINE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/definitions.h"
#include "error.h"
#include "value.h"

namespace dbengine {

// A field's and an index's definition (core/definitions.h).
using core::FieldDef;
using core::IndexDef;

// A table's definition as it stood when it was read; a copy that stays valid
// after the database is closed.
class TableDef {
 public:
  TableDef() = default;
  TableDef(std::string name, std::vector<FieldDef> fields, std::vector<IndexDef> indexes);

  const std::string& Name() const { return name_; }
  std::int16_t FieldCount() const { return static_cast<std::int16_t>(fields_.size()); }
  // The field at `position` (0 first). Throws EngineError 3265 when out of range.
  const FieldDef& Fields(std::int16_t position) const;
  std::int16_t IndexCount() const { return static_cast<std::int16_t>(indexes_.size()); }
  // The index at `position` (0 first). Throws EngineError 3265 when out of range.
  const IndexDef& Indexes(std::int16_t position) const;
  // Position of the field named `name` (any letter case), or -1.
  int FieldPosition(std::string_view name) const;
  // The primary index, or nullptr.
  const IndexDef* PrimaryIndex() const;

 private:
  std::string name_;
  std::vector<FieldDef> fields_;
  std::vector<IndexDef> indexes_;
};

enum class RecordsetType {
  kTable = 1,    // a table by name; accepts AddNew / Update
  kDynaset = 2,  // the result of a SELECT statement, read only here
};

class Storage;
class Cursor;

// Rows of a table or query, one at a time. Stays usable only while its
// database is open: afterwards every call fails with 3420.
class Recordset {
 public:
  Recordset(Recordset&&) noexcept;
  Recordset& operator=(Recordset&&) noexcept;
  ~Recordset();

  // End of file / beginning of file: true when there is no current row.
  bool IsEOF() const;
  bool IsBOF() const;
  void MoveNext();  // 3021 when there is no current row

  std::int16_t FieldCount() const;
  const FieldDef& Field(std::int16_t position) const;  // 3265 out of range
  // Value of field `position` of the current row (3021 without one).
  const Value& FieldValue(std::int16_t position) const;
  // Values of every field of the current row, in field order (3021 without
  // one): what FieldValue gives, for a reader of whole rows.
  const std::vector<Value>& Row() const;

  // Table-type recordsets only (3251 otherwise). AddNew starts a new row of
  // Nulls; SetFieldValue converts a string to the field's type (3421 when it
  // cannot or when the string is not valid UTF-8, 3349 out of range, 3163 too
  // long); Update stores the row with every check of an INSERT statement
  // (3020 without AddNew).
  void AddNew();
  void SetFieldValue(std::int16_t position, std::string_view text);
  void Update();

 private:
  friend class Database;
  explicit Recordset(std::unique_ptr<Cursor> cursor);
  std::unique_ptr<Cursor> cursor_;
};

// What reads a table's rows one by one (Database::ReadRows): given the row
// numbered `ordinal` (from 0, in the table's order) and its values, returns
// the number of the next row it wants (rows before it are passed over
// without being read), or kNoMoreRows to end the reading.
using RowVisit = std::function<std::uint64_t(std::uint64_t ordinal, const std::vector<Value>& row)>;
inline constexpr std::uint64_t kNoMoreRows = ~std::uint64_t{0};

// How a database is opened: shared and writable (read-only when the file
// cannot be written), or for reading only.
enum class OpenMode { kShared, kReadOnly };

// A database handle. Default-constructed it is "never opened": every
// operation fails with RuntimeError 91. After Close every operation fails
// with EngineError 3420, and Close itself may be called only once.
class Database {
 public:
  Database();
  Database(Database&&) noexcept;
  Database& operator=(Database&&) noexcept;
  ~Database();  // closes if still open (rolling back a transaction left open); never throws

  // Opens an existing database file, shared and writable (read-only when the
  // file cannot be written). Never creates a file. 3024 missing file, 3044
  // missing folder, 3343 not a database of this engine, 3051 cannot open,
  // 3050 locked. On failure the handle stays unset. `connect` is the
  // original engine's connect string: ";PWD=secret" gives the database
  // password of an Access file (other parts are ignored, and so is a password
  // given for a database that has none); a password missing or wrong, or an
  // encryption the engine does not read, is 3031. With OpenMode::kReadOnly
  // the file is opened for reading only, whatever its permissions: every
  // write fails with 3027, and BeginTrans starts a reading transaction whose
  // reads all see one state of the file, while other programs go on writing it
  // (or, for a file read without locks that another program then writes,
  // every later operation fails with 3197: docs/database-format.md). Such an
  // open creates no file beside the database.
  void Open(const std::string& path, std::string_view connect = {}, OpenMode mode = OpenMode::kShared);
  // Creates a new empty database file; 3010-style refusal (3204) when a file
  // exists at `path`.
  static void Create(const std::string& path);

  bool IsOpen() const;
  const std::string& Path() const;

  // Runs one statement of the dialect (docs/dialect.md). The statement takes
  // effect whole or not at all; outside a transaction it is on disk when
  // Execute returns. A write waits up to about 5 s for another program's
  // write, then fails with 3050 having changed nothing. A statement that is
  // not valid UTF-8 is refused with 3464 before anything is done.
  void Execute(std::string_view statement);

  // Explicit transactions, as the original engine's workspace offers them.
  // BeginTrans takes the database's write lock at once (3050 after the wait),
  // so that nothing of it is done before another program's write is over.
  // Inside a transaction each statement is still atomic on its own; the
  // whole is committed by CommitTrans or undone by Rollback. Levels nest up
  // to 5 deep (3003 beyond): an inner CommitTrans makes its work part of the
  // outer level, an inner Rollback undoes only its own. CommitTrans or
  // Rollback without a transaction fails with 3034. When a failure ended the
  // transaction inside SQLite (a full disk: 3026; a disk error: 3043), every
  // later write and CommitTrans fail with that error and nothing of the
  // transaction is kept. A CommitTrans that fails undoes the whole
  // transaction and throws why. Close (or the handle's end) inside a
  // transaction undoes it.
  void BeginTrans();
  void CommitTrans();
  void Rollback();
  // For a load of many rows into table `name` within the current explicit
  // transaction (3034 without one): its SQLite indexes are dropped, to be
  // made again at once from their saved statements by MakeIndexesAgain.
  // Meanwhile nothing else changes: TableDefs gives the same definition, the
  // engine's index catalog is kept, every check of a row but the
  // uniqueness of its keys is made, and other programs see the file as it
  // was before the transaction. Returns false, having done nothing, when the
  // table has no index to set aside, indexes are already set aside, or the
  // file has triggers or enforced foreign keys (which could act on a
  // refusal). Rolling back the transaction level they were set aside in
  // brings them back; committing it, or running a definition statement,
  // makes them again first.
  bool SetIndexesAside(std::string_view name);
  // Makes the indexes set aside again, in their order, from their exact
  // statements; nothing when none are. When one cannot be made (3022: the
  // rows added meanwhile hold a duplicate key), everything done since they
  // were set aside is undone, rows included, the indexes are back, and the
  // error is thrown.
  void MakeIndexesAgain();
  // kDynaset: `source` is a SELECT statement. kTable: `source` is a table name.
  Recordset OpenRecordset(std::string_view source, RecordsetType type = RecordsetType::kDynaset);
  // Gives `visit` the rows of table `name` that `SELECT * FROM [name]` gives,
  // in its order, each value checked against its field as every read checks
  // it (3421 naming the row). A table of an engine database is read in the
  // pages of its file when they hold the very state a read through SQLite
  // would see, several times faster; otherwise, and for an Access file,
  // through SQLite as any read. `visit` must not use the database.
  void ReadRows(std::string_view name, const RowVisit& visit);
  // The definition of table `name` (any letter case); 3265 when missing.
  TableDef TableDefs(std::string_view name);
  // Names of the user tables, in creation order.
  std::vector<std::string> TableNames();

  // Releases the file, undoing a transaction still open. Fails with 91 on a
  // handle never opened and 3420 on one already closed.
  void Close();

  // While a write of this handle waits for another program's write,
  // `waiting` is called every few tens of milliseconds, on the waiting
  // thread (so that a window can repaint); it must not use the database.
  // Empty for none. Kept for every later Open of the handle.
  void SetLockWaitCallback(std::function<void()> waiting);
  // With `atOnce`, once a write's wait has run out (3050) on the database
  // opened by this handle, every later write that finds it held by another
  // program fails at once with the same 3050, without a new wait, until the
  // handle opens a database again. Off by default; kept across Open.
  void SetFailAtOnceAfterLockTimeout(bool atOnce);

 private:
  std::function<void()> lockWaiting_;
  bool failAtOnceAfterLockTimeout_ = false;
  std::shared_ptr<Storage> storage_;
  bool everOpened_ = false;
  std::string path_;
  void CheckOpen() const;
};

// Throws EngineError 3125 when `name` (a table, field or index name) holds a
// square bracket: put between brackets in a statement, such a name would end
// early and the rest of it would be read as more of the statement.
void CheckName(std::string_view name);

// The password a connect string gives (";PWD=secret": the value after the
// key PWD, any letter case, up to the next ";"), or an empty string.
std::string PasswordOf(std::string_view connect);

// The declared column type kept in the file for a field of `type` and `size`
// (the dialect reads it back: "LONGTEXT" for a memo, "TEXT(50)" for a text),
// as a CREATE TABLE statement writes it.
std::string DeclaredTypeOf(FieldType type, std::int32_t size);

// True when `text` is well-formed UTF-8 (no overlong form, surrogate or
// code point beyond U+10FFFF).
bool IsValidUtf8(std::string_view text);

}  // namespace dbengine

#endif  // DBENGINE_DBENGINE_H_
