// The storage behind a database handle (internal): one SQLite connection,
// the cache of table definitions and prepared statements, the grouped
// transaction, and the cursors of open recordsets.
#ifndef DBENGINE_STORAGE_H_
#define DBENGINE_STORAGE_H_

#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dbengine/dbengine.h"
#include "dbengine/statement.h"

namespace dbengine {

struct TableInfo {
  TableDef def;
  std::string quotedName;                 // "name" for SQLite statements
  std::vector<std::string> sqliteIndexNames;  // parallel to def's indexes
  std::vector<int> primaryPositions;      // fields of the primary index
  sqlite3_stmt* insertAll = nullptr;      // INSERT of a whole row, prepared once
};

class Cursor;
class JetReader;

class Storage : public std::enable_shared_from_this<Storage> {
 public:
  // Opens a SQLite database file, or reads a Jet 3 / Jet 4 file into a private
  // temporary SQLite file that stays read-only (docs/jet-sources.md).
  static std::shared_ptr<Storage> Open(const std::string& path);
  static void Create(const std::string& path);
  ~Storage();

  bool IsClosed() const { return db_ == nullptr; }
  // Throws EngineError 3027 when the database is read-only.
  void RefuseIfReadOnly() const;
  void Close();

  void Execute(std::string_view text);
  std::unique_ptr<Cursor> OpenCursor(std::string_view source, RecordsetType type);
  // The table's information; throws `missingError` when there is no such table.
  TableInfo& Table(std::string_view name, std::int32_t missingError);
  std::vector<std::string> TableNames();

  // Stores one whole row (values already of the fields' types) with every check.
  void InsertRow(TableInfo& table, const std::vector<Value>& row);

  void Register(Cursor* cursor) { cursors_.insert(cursor); }
  void Unregister(Cursor* cursor) { cursors_.erase(cursor); }
  sqlite3* Handle() const { return db_; }
  [[noreturn]] void Fail(int rc, std::string_view context = {}) const;

 private:
  Storage() = default;
  static std::shared_ptr<Storage> OpenJet(const std::string& path);
  void ImportJet(JetReader& reader);
  void BeginWrite();
  void EndWrite();
  void Commit();
  sqlite3_stmt* Cached(const std::string& sql);
  void ClearCaches();
  void LoadTable(const std::string& realName, TableInfo& info);
  void RunDefinition(const Statement& statement);
  void ExecSql(const std::string& sql);
  void EnsureIndexCatalog();
  void AddIndex(TableInfo& table, const std::string& name, const std::vector<std::string>& columns,
                bool primary, bool unique);
  void DropIndex(TableInfo& table, const std::string& name);
  std::string BuildWhere(TableInfo& table, const std::vector<Condition>& where,
                         std::vector<Value>& bound);

  sqlite3* db_ = nullptr;
  std::string path_;
  std::string tempPath_;  // the private copy of a Jet file, removed at Close
  bool readOnly_ = false;
  bool inTransaction_ = false;
  bool walEnabled_ = false;
  std::chrono::steady_clock::time_point groupStart_;
  std::unordered_map<std::string, std::unique_ptr<TableInfo>> tables_;  // by upper-cased name
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
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
  ~Cursor();
  void Detach();  // the storage is closing: forget the statement

  bool IsEOF() const;
  bool IsBOF() const;
  void MoveNext();
  std::int16_t FieldCount() const;
  const FieldDef& Field(std::int16_t position) const;
  const Value& FieldValue(std::int16_t position) const;
  void AddNew();
  void SetFieldValue(std::int16_t position, std::string_view text);
  void Update();

 private:
  void CheckLive() const;
  void CheckWritable() const;  // 3251 unless a table-type recordset
  void Step();
  std::shared_ptr<Storage> storage_;
  std::string tableName_;
  TableDef def_;
  sqlite3_stmt* statement_;
  RecordsetType type_;
  bool eof_ = true;
  bool bof_ = true;
  std::vector<Value> current_;
  bool adding_ = false;
  std::vector<Value> newRow_;
};

// Converts a statement literal to the type of `field` (3464, 3349, 3163).
void ConvertLiteral(const Literal& literal, const FieldDef& field, Value& out);
// Converts a string written to a recordset field (3421, 3349, 3163).
void ConvertString(std::string_view text, const FieldDef& field, Value& out);
// Reads column `column` of the current row of `statement` as a value of `field`'s type.
void ReadColumn(sqlite3_stmt* statement, int column, FieldType type, Value& out);

}  // namespace dbengine

#endif  // DBENGINE_STORAGE_H_
