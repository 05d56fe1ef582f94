// SPDX-License-Identifier: Apache-2.0
// A table's rows read in the pages of its file (Database::ReadRows): the
// table's b-tree walked leaf by leaf in rowid order, the order of SQLite's
// own scan of it, each record's values read from their bytes as a read
// through SQLite reads them. Taken only where the pages are the state a
// read through SQLite would see: an engine database of this connection's,
// in a reading transaction (the file then changes under it only through
// another program that ignores SQLite's locks, which an immutable open's
// watch turns into 3197), with nothing of the state in a write-ahead log
// and nothing of this connection's own unwritten. A row the pages cannot
// tell plainly (a value beyond them, or one its field refuses) is read
// through SQLite by its rowid, which names a refused value as every read
// does; past a page not as expected, the rest is read through SQLite from
// the last rowid given.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "sql_parser.h"
#include "storage.h"
#include "table_pages.h"

namespace dbengine {

namespace {

// Leaves read between two looks for another program's write.
constexpr std::uint64_t kLeavesBetweenChecks = 1024;

// A reading transaction of its own, when the connection has none open.
class ReadingScope {
 public:
  explicit ReadingScope(sqlite3* db) : db_(db) {
    if (sqlite3_get_autocommit(db_)) open_ = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~ReadingScope() {
    // A reading transaction's end changes nothing: its result is of no use.
    if (open_) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  }
  ReadingScope(const ReadingScope&) = delete;
  ReadingScope& operator=(const ReadingScope&) = delete;

 private:
  sqlite3* db_;
  bool open_ = false;
};

// The name under which `def`'s rows give their rowid, or empty when each
// of SQLite's three is a field's name.
std::string RowidName(const TableDef& def) {
  for (const char* name : {"rowid", "_rowid_", "oid"}) {
    if (def.FieldPosition(name) < 0) return name;
  }
  return {};
}

}  // namespace

bool Storage::ReadRowsInPages(std::string_view name, const RowVisit& visit) {
  if (access_ != nullptr || db_ == nullptr || sqlite3_txn_state(db_, "main") == SQLITE_TXN_WRITE) return false;
  // A reading transaction of its own is opened only when no recordset of the
  // connection is stepping: its end could not end the transaction then.
  if (sqlite3_get_autocommit(db_) && !cursors_.empty()) return false;
  TableInfo* found = FindTable(name);
  if (found == nullptr) return false;
  const TableDef def = found->def;
  const std::string rowid = RowidName(def);
  if (rowid.empty() || def.FieldCount() == 0) return false;

  ReadingScope reading(db_);
  // Read inside the transaction (which takes the file's state here): the
  // table's root page, and its columns, each a field of the definition in
  // its order, none hidden, none the rowid under another name.
  std::uint64_t root = 0;
  {
    PreparedStatement lookup(*this, db_,
                             "SELECT rootpage, sql NOT LIKE '%WITHOUT%ROWID%' FROM sqlite_schema "
                             "WHERE type='table' AND name=?1");
    sqlite3_bind_text(lookup.get(), 1, def.Name().c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(lookup.get()) != SQLITE_ROW || sqlite3_column_int(lookup.get(), 1) == 0) return false;
    root = static_cast<std::uint64_t>(sqlite3_column_int64(lookup.get(), 0));
  }
  {
    PreparedStatement columns(*this, db_, "SELECT name, type, pk, hidden FROM pragma_table_xinfo(?1) ORDER BY cid");
    sqlite3_bind_text(columns.get(), 1, def.Name().c_str(), -1, SQLITE_TRANSIENT);
    std::int16_t position = 0;
    for (; sqlite3_step(columns.get()) == SQLITE_ROW; ++position) {
      if (position >= def.FieldCount()) return false;
      const FieldDef& field = def.Fields(position);
      const auto* column = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 0));
      const auto* declared = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 1));
      std::int32_t size = 0;
      if (column == nullptr || field.name != column || sqlite3_column_int(columns.get(), 2) != 0 ||
          sqlite3_column_int(columns.get(), 3) != 0 ||
          FieldTypeOfDeclared(declared != nullptr ? declared : "", size) != field.type || size != field.size) {
        return false;
      }
    }
    if (position != def.FieldCount()) return false;
  }
  if (sqlite3_txn_state(db_, "main") != SQLITE_TXN_READ) return false;

  // The file as SQLite has it open.
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || file == nullptr ||
      file->pMethods == nullptr) {
    return false;
  }
  sqlite3_int64 fileSize = 0;
  unsigned char header[100];
  if (file->pMethods->xFileSize(file, &fileSize) != SQLITE_OK || fileSize < 512 ||
      file->pMethods->xRead(file, header, sizeof header, 0) != SQLITE_OK) {
    return false;
  }
  const pages::Layout layout = pages::Layout::Of(header, static_cast<std::uint64_t>(fileSize));
  if (layout.pageSize == 0 || !layout.utf8) return false;
  const char* const path = sqlite3_db_filename(db_, "main");
  if (path == nullptr || path[0] == '\0') return false;
  if (header[18] == 2 && !sqlite3_uri_boolean(path, "immutable", 0)) {
    // A WAL database: its state must lie whole in the file. A log without a
    // complete frame holds none of it; a log that holds frames may, and a
    // reader of it keeps it from being started again or cut while it reads,
    // so its length, seen now, tells.
    struct stat log {};
    if (::stat(sqlite3_filename_wal(path), &log) == 0
            ? static_cast<std::uint64_t>(log.st_size) >= 32 + 24 + layout.pageSize
            : errno != ENOENT) {
      return false;
    }
  }

  // The pages on the way down, one buffer for each depth.
  std::vector<std::vector<unsigned char>> buffers;
  auto pageAt = [&](std::uint64_t number, std::size_t depth) -> const unsigned char* {
    if (buffers.size() <= depth) buffers.resize(depth + 1, std::vector<unsigned char>(layout.pageSize));
    unsigned char* buffer = buffers[depth].data();
    const auto offset = static_cast<sqlite3_int64>((number - 1) * layout.pageSize);
    return file->pMethods->xRead(file, buffer, static_cast<int>(layout.pageSize), offset) == SQLITE_OK ? buffer
                                                                                                        : nullptr;
  };

  std::string columns;
  for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
    columns += (position > 0 ? ", " : "") + Quote(def.Fields(position).name);
  }
  const std::string select = "SELECT " + columns + " FROM " + Quote(def.Name()) + " WHERE " + rowid;
  std::vector<Value> row(static_cast<std::size_t>(def.FieldCount()));
  std::vector<const FieldDef*> fields;
  for (std::int16_t position = 0; position < def.FieldCount(); ++position) fields.push_back(&def.Fields(position));
  std::uint64_t ordinal = 0;
  std::uint64_t wanted = 0;
  // Row `ordinal` from the statement's current row, each value checked.
  auto readRow = [&](sqlite3_stmt* statement) {
    for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
      const FieldDef& field = def.Fields(position);
      if (!ReadColumn(statement, position, field, row[static_cast<std::size_t>(position)])) {
        RefuseStoredValue(statement, position, def.Name(), field, ordinal + 1);
      }
    }
  };
  std::optional<PreparedStatement> byRowid;
  // The rowid of the last row given or passed over.
  bool anyPassed = false;
  std::int64_t lastRowid = 0;
  std::uint64_t leaves = 0;
  const pages::Walk walked = pages::WalkTable(layout, root, pageAt, [&](const pages::Leaf& leaf) {
    if (++leaves % kLeavesBetweenChecks == 0) CheckUnchanged();
    std::uint64_t key = 0;
    std::uint64_t payload = 0;
    const unsigned char* record = nullptr;
    std::size_t local = 0;
    for (std::size_t cell = 0; cell < leaf.Cells(); ++cell) {
      // Rows passed over are not read: only the last one's rowid is, and
      // they count as passed once it is (after a cell not as expected, the
      // reading through SQLite passes them again from the last rowid).
      const auto passed = static_cast<std::size_t>(
          wanted > ordinal ? std::min<std::uint64_t>(wanted - ordinal, leaf.Cells() - cell) : 0);
      if (passed > 0) cell += passed - 1;
      if (!leaf.Cell(cell, key, record, local, payload)) return pages::Walk::kUnexpected;
      const auto cellRowid = static_cast<std::int64_t>(key);
      if (anyPassed && cellRowid <= lastRowid) return pages::Walk::kUnexpected;
      if (passed > 0) {
        ordinal += passed;
        anyPassed = true;
        lastRowid = cellRowid;
        continue;
      }
      pages::Record values(record, local, payload);
      std::uint64_t type = 0;
      std::uint64_t length = 0;
      const unsigned char* bytes = nullptr;
      std::size_t position = 0;
      bool plain = true;
      while (plain && values.Next(type, bytes, length)) {
        plain = position < row.size() && pages::ValueOf(type, bytes, length, *fields[position], &row[position]);
        ++position;
      }
      if (!plain || position != row.size() || !values.Complete()) {
        // Read through SQLite instead, by its rowid.
        if (!byRowid) byRowid.emplace(*this, db_, select + " = ?1");
        sqlite3_stmt* statement = byRowid->get();
        sqlite3_reset(statement);
        sqlite3_bind_int64(statement, 1, cellRowid);
        const int rc = sqlite3_step(statement);
        if (rc == SQLITE_DONE) return pages::Walk::kUnexpected;  // read again after the last row given
        if (rc != SQLITE_ROW) Fail(rc);
        readRow(statement);
      }
      anyPassed = true;
      lastRowid = cellRowid;
      wanted = visit(ordinal, row);
      if (wanted == kNoMoreRows) return pages::Walk::kStopped;
      ++ordinal;
      wanted = std::max(wanted, ordinal);
    }
    return pages::Walk::kDone;
  });
  if (walked == pages::Walk::kUnexpected) {
    // The rest through SQLite, from the last rowid passed; from the start,
    // the caller's own reading.
    if (!anyPassed) return false;
    PreparedStatement rest(*this, db_, select + " > ?1 ORDER BY " + rowid);
    sqlite3_bind_int64(rest.get(), 1, lastRowid);
    int rc;
    while ((rc = sqlite3_step(rest.get())) == SQLITE_ROW) {
      if (ordinal < wanted) {
        ++ordinal;
        continue;
      }
      readRow(rest.get());
      wanted = visit(ordinal, row);
      if (wanted == kNoMoreRows) break;
      ++ordinal;
      wanted = std::max(wanted, ordinal);
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(rc);
  }
  CheckUnchanged();
  return true;
}

}  // namespace dbengine
