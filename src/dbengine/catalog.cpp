// SPDX-License-Identifier: Apache-2.0
// The catalog of tables and indexes: table definitions read from the SQLite
// schema and the engine's index catalog (the table MSysIndexes, which gives
// each index its name within its table and says which one is primary), and
// the definition statements that change them (CREATE and DROP TABLE, CREATE
// and DROP INDEX, ALTER TABLE ... CONSTRAINT). A definition is one write: all
// its SQLite steps happen or none do.
#include <cstring>
#include <set>

#include "errors.h"
#include "storage.h"

namespace dbengine {

void Storage::ForgetStaleDefinitions() {
  unsigned int dataVersion = 0;
  sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &dataVersion);
  const bool inTransaction = !sqlite3_get_autocommit(db_);
  if (inTransaction && schemaVersion_ >= 0 && dataVersion == dataVersion_) return;
  if (schemaProbe_ == nullptr) {
    const int rc = sqlite3_prepare_v3(db_, "PRAGMA schema_version", -1, SQLITE_PREPARE_PERSISTENT,
                                      &schemaProbe_, nullptr);
    if (rc != SQLITE_OK) Fail(rc);
  }
  const int rc = sqlite3_step(schemaProbe_);
  const long long schemaVersion = rc == SQLITE_ROW ? sqlite3_column_int64(schemaProbe_, 0) : -1;
  sqlite3_reset(schemaProbe_);
  if (rc != SQLITE_ROW) Fail(rc);
  // Reading the schema version outside a transaction has read the file anew.
  sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &dataVersion_);
  if (schemaVersion != schemaVersion_) {
    // A definition another program changed would put values in the wrong
    // fields: every cached definition and insert is read again.
    ClearCaches();
    schemaVersion_ = schemaVersion;
  }
}

TableInfo* Storage::FindTable(std::string_view name) {
  CheckUnchanged();
  ForgetStaleDefinitions();
  // Statements of a row-by-row import name the same table each time.
  if (lastTable_ != nullptr && name == lastName_) return lastTable_;
  std::string key = Upper(name);
  if (auto found = tables_.find(key); found != tables_.end()) {
    lastName_.assign(name);
    lastTable_ = found->second.get();
    return lastTable_;
  }
  std::string realName;
  {
    PreparedStatement lookup(*this, db_,
                      "SELECT name FROM sqlite_schema WHERE type='table' AND name=?1 COLLATE NOCASE "
                      "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name=?1 DESC LIMIT 1");
    sqlite3_bind_text64(lookup.get(), 1, name.data(), name.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    const int rc = sqlite3_step(lookup.get());
    if (rc == SQLITE_ROW) {
      realName = reinterpret_cast<const char*>(sqlite3_column_text(lookup.get(), 0));
    } else if (rc != SQLITE_DONE) {
      Fail(rc);
    }
  }
  if (realName.empty()) return nullptr;
  auto info = std::make_unique<TableInfo>();
  LoadTable(realName, *info);
  return tables_.emplace(std::move(key), std::move(info)).first->second.get();
}

TableInfo& Storage::Table(std::string_view name, std::int32_t missingError) {
  if (TableInfo* found = FindTable(name)) return *found;
  if (missingError == 3265) throw errors::NoSuchTable(name);
  throw errors::SourceNotFound(missingError, name);
}

void Storage::LoadTable(const std::string& realName, TableInfo& info) {
  std::vector<FieldDef> fields;
  {
    PreparedStatement columns(*this, db_, "SELECT name, type, \"notnull\" FROM pragma_table_info(?1) ORDER BY cid");
    sqlite3_bind_text(columns.get(), 1, realName.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
      FieldDef field;
      field.name = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 0));
      const unsigned char* declared = sqlite3_column_text(columns.get(), 1);
      field.type = FieldTypeOfDeclared(declared ? reinterpret_cast<const char*>(declared) : "", field.size);
      field.required = sqlite3_column_int(columns.get(), 2) != 0;
      fields.push_back(std::move(field));
    }
  }
  std::vector<IndexDef> indexes;
  // The key fields of a SQLite index, in order ("" for an expression).
  auto indexFields = [&](const std::string& sqliteName) {
    std::vector<std::string> names;
    PreparedStatement columns(*this, db_, "SELECT name FROM pragma_index_xinfo(?1) WHERE key ORDER BY seqno");
    sqlite3_bind_text(columns.get(), 1, sqliteName.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
      const unsigned char* name = sqlite3_column_text(columns.get(), 0);
      names.emplace_back(name ? reinterpret_cast<const char*>(name) : "");
    }
    return names;
  };
  // The SQLite indexes that refuse a duplicate among all the table's rows:
  // unique, and not partial (a WHERE clause leaves the other rows free).
  std::set<std::string> enforcedUnique;
  {
    PreparedStatement list(*this, db_, "SELECT name FROM pragma_index_list(?1) WHERE \"unique\" AND NOT partial");
    sqlite3_bind_text(list.get(), 1, realName.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(list.get()) == SQLITE_ROW) {
      enforcedUnique.emplace(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
    }
  }
  std::set<std::string> cataloged;
  {
    PreparedStatement exists(*this, db_, "SELECT 1 FROM sqlite_schema WHERE type='table' AND name='MSysIndexes'");
    if (sqlite3_step(exists.get()) == SQLITE_ROW) {
      PreparedStatement catalog(*this, db_,
                         "SELECT IndexName, SqliteName, IsPrimary, IsUnique FROM MSysIndexes "
                         "WHERE TableName=?1 ORDER BY rowid");
      sqlite3_bind_text(catalog.get(), 1, realName.c_str(), -1, SQLITE_TRANSIENT);
      while (sqlite3_step(catalog.get()) == SQLITE_ROW) {
        IndexDef index;
        index.name = reinterpret_cast<const char*>(sqlite3_column_text(catalog.get(), 0));
        const std::string sqliteName = reinterpret_cast<const char*>(sqlite3_column_text(catalog.get(), 1));
        index.primary = sqlite3_column_int(catalog.get(), 2) != 0;
        // What the file enforces, whatever the catalog says: another
        // program may have made the index again without its uniqueness.
        index.unique = sqlite3_column_int(catalog.get(), 3) != 0 && enforcedUnique.count(sqliteName) > 0;
        index.fields = indexFields(sqliteName);
        cataloged.insert(sqliteName);
        info.sqliteIndexNames.push_back(sqliteName);
        indexes.push_back(std::move(index));
      }
    }
  }
  {
    // Indexes made by another SQLite tool are shown under their SQLite names.
    PreparedStatement list(*this, db_, "SELECT name, \"unique\", origin FROM pragma_index_list(?1) ORDER BY seq DESC");
    sqlite3_bind_text(list.get(), 1, realName.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(list.get()) == SQLITE_ROW) {
      const std::string sqliteName = reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0));
      if (cataloged.count(sqliteName)) continue;
      IndexDef index;
      index.name = sqliteName;
      index.unique = enforcedUnique.count(sqliteName) > 0;
      index.primary = std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 2)), "pk") == 0;
      index.fields = indexFields(sqliteName);
      info.sqliteIndexNames.push_back(sqliteName);
      indexes.push_back(std::move(index));
    }
  }
  info.def = TableDef(realName, std::move(fields), std::move(indexes));
  info.quotedName = Quote(realName);
  if (const IndexDef* primary = info.def.PrimaryIndex()) {
    for (const std::string& name : primary->fields) info.primaryPositions.push_back(info.def.FieldPosition(name));
  }
  if (aside_ && aside_->table == realName) {
    // Its indexes are set aside, not gone.
    info.def = aside_->def;
    info.sqliteIndexNames = aside_->sqliteIndexNames;
    info.primaryPositions = aside_->primaryPositions;
  }
}

bool Storage::SetIndexesAside(std::string_view name) {
  if (depth_ == 0) throw errors::NoTransaction();
  BeginWrite();
  if (aside_ || access_ != nullptr) return false;
  {
    // A trigger, or a foreign key the connection enforces, could act on a
    // line's refusal: such a file's tables keep their indexes.
    PreparedStatement foreignKeys(*this, db_, "PRAGMA foreign_keys");
    if (sqlite3_step(foreignKeys.get()) == SQLITE_ROW && sqlite3_column_int(foreignKeys.get(), 0) != 0) return false;
    PreparedStatement triggers(*this, db_, "SELECT 1 FROM sqlite_schema WHERE type='trigger' LIMIT 1");
    if (sqlite3_step(triggers.get()) != SQLITE_DONE) return false;
  }
  TableInfo& table = Table(name, 3265);
  IndexesAside aside{table.def.Name(), table.def, table.sqliteIndexNames, table.primaryPositions, {}, depth_};
  std::vector<std::string> dropped;
  {
    // The indexes SQLite keeps a statement of, in the order they were made
    // (those of the table's own definition cannot be dropped).
    PreparedStatement list(*this, db_,
                           "SELECT name, sql FROM sqlite_schema WHERE type='index' AND tbl_name=?1 COLLATE NOCASE "
                           "AND sql IS NOT NULL ORDER BY rowid");
    sqlite3_bind_text(list.get(), 1, aside.table.c_str(), -1, SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(list.get())) == SQLITE_ROW) {
      dropped.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
      aside.statements.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 1)));
    }
    if (rc != SQLITE_DONE) Fail(rc);
  }
  if (dropped.empty()) return false;
  ClearCaches();
  ExecSql("SAVEPOINT indexes_aside");
  try {
    for (const std::string& index : dropped) ExecSql("DROP INDEX " + Quote(index));
  } catch (const EngineError& error) {
    UndoIndexesAside(error);
    throw;
  }
  aside_ = std::move(aside);
  ClearCaches();
  return true;
}

void Storage::UndoIndexesAside(const EngineError& error) {
  // Back to the savepoint taken as the indexes were set aside: the indexes
  // are there again, and whatever was done since is undone.
  if (!sqlite3_get_autocommit(db_)) {
    sqlite3_exec(db_, "ROLLBACK TO indexes_aside", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "RELEASE indexes_aside", nullptr, nullptr, nullptr);
  }
  ClearCaches();
  NoteFailure(error);
}

void Storage::MakeIndexesAgain() {
  if (!aside_) return;
  const std::vector<std::string> statements = std::move(aside_->statements);
  aside_.reset();
  ClearCaches();
  try {
    BeginWrite();
    for (const std::string& statement : statements) ExecSql(statement);
    ExecSql("RELEASE indexes_aside");
  } catch (const EngineError& error) {
    UndoIndexesAside(error);
    throw;
  }
  ClearCaches();
}

std::vector<std::string> Storage::TableNames() {
  if (access_ != nullptr) return access_->TableNames();  // the Access catalog's order
  std::vector<std::string> names;
  PreparedStatement list(*this, db_,
                  "SELECT name FROM sqlite_schema WHERE type='table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                  "AND name NOT LIKE 'MSys%' ORDER BY rowid");
  while (sqlite3_step(list.get()) == SQLITE_ROW) {
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
  }
  return names;
}

void Storage::EnsureIndexCatalog() {
  ExecSql("CREATE TABLE IF NOT EXISTS MSysIndexes (TableName TEXT NOT NULL, IndexName TEXT NOT NULL, "
          "SqliteName TEXT NOT NULL, IsPrimary INTEGER NOT NULL, IsUnique INTEGER NOT NULL)");
}

void Storage::AddIndex(TableInfo& table, const std::string& name, const std::vector<std::string>& columns,
                       bool primary, bool unique) {
  const TableDef& def = table.def;
  for (std::int16_t position = 0; position < def.IndexCount(); ++position) {
    if (SameName(def.Indexes(position).name, name)) {
      throw errors::IndexExists(def.Name(), name);
    }
  }
  if (primary && def.PrimaryIndex() != nullptr) {
    throw errors::PrimaryKeyExists(def.Name());
  }
  std::string columnList;
  std::string anyNull;
  for (const std::string& column : columns) {
    const int position = def.FieldPosition(column);
    if (position < 0) {
      throw errors::NoSuchFieldInTable(column, def.Name());
    }
    const std::string quoted = Quote(def.Fields(static_cast<std::int16_t>(position)).name);
    columnList += columnList.empty() ? quoted : "," + quoted;
    anyNull += anyNull.empty() ? quoted + " IS NULL" : " OR " + quoted + " IS NULL";
  }
  if (primary) {
    PreparedStatement check(*this, db_, "SELECT 1 FROM " + table.quotedName + " WHERE " + anyNull + " LIMIT 1");
    const int rc = sqlite3_step(check.get());
    if (rc == SQLITE_ROW) {
      throw errors::NullInIndex();
    }
    if (rc != SQLITE_DONE) Fail(rc);
  }
  EnsureIndexCatalog();
  // SQLite index names are global: derive a free one from the table and index names.
  std::string sqliteName = def.Name() + "_" + name;
  for (int suffix = 2;; ++suffix) {
    PreparedStatement taken(*this, db_, "SELECT 1 FROM sqlite_schema WHERE name=?1 COLLATE NOCASE");
    sqlite3_bind_text(taken.get(), 1, sqliteName.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(taken.get()) != SQLITE_ROW) break;
    sqliteName = def.Name() + "_" + name + "_" + std::to_string(suffix);
  }
  ExecSql(std::string(unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + Quote(sqliteName) + " ON " +
          table.quotedName + " (" + columnList + ")");
  PreparedStatement record(*this, db_, "INSERT INTO MSysIndexes VALUES(?1, ?2, ?3, ?4, ?5)");
  sqlite3_bind_text(record.get(), 1, def.Name().c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(record.get(), 2, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(record.get(), 3, sqliteName.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(record.get(), 4, primary);
  sqlite3_bind_int(record.get(), 5, unique);
  const int rc = sqlite3_step(record.get());
  if (rc != SQLITE_DONE) Fail(rc);
}

void Storage::DropIndex(TableInfo& table, const std::string& name) {
  for (std::int16_t position = 0; position < table.def.IndexCount(); ++position) {
    if (!SameName(table.def.Indexes(position).name, name)) continue;
    const std::string& sqliteName = table.sqliteIndexNames[static_cast<std::size_t>(position)];
    ExecSql("DROP INDEX " + Quote(sqliteName));
    PreparedStatement forget(*this, db_, "DELETE FROM MSysIndexes WHERE SqliteName=?1");
    sqlite3_bind_text(forget.get(), 1, sqliteName.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(forget.get());
    if (rc != SQLITE_DONE && (rc & 0xFF) != SQLITE_ERROR) Fail(rc);
    return;
  }
  throw errors::NoSuchConstraint(name);
}

void Storage::RunDefinition(const Statement& statement) {
  // A definition sees the table's indexes as they are.
  MakeIndexesAgain();
  // Definitions change the schema: cached statements and definitions go.
  ClearCaches();
  WriteScope scope(*this);
  try {
    switch (statement.kind) {
      case Statement::kCreateTable: {
        PreparedStatement exists(*this, db_, "SELECT 1 FROM sqlite_schema WHERE name=?1 COLLATE NOCASE");
        sqlite3_bind_text(exists.get(), 1, statement.table.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(exists.get()) == SQLITE_ROW || Upper(statement.table).rfind("SQLITE_", 0) == 0) {
          throw errors::TableExists(statement.table);
        }
        if (statement.columnSpecs.size() > 255) {
          throw errors::TooManyFields();
        }
        std::string sql = "CREATE TABLE " + Quote(statement.table) + " (";
        std::set<std::string> seen;
        for (const ColumnSpec& spec : statement.columnSpecs) {
          if (!seen.insert(Upper(spec.name)).second) {
            throw errors::FieldDefinedTwice(spec.name);
          }
          if (&spec != &statement.columnSpecs.front()) sql += ", ";
          sql += Quote(spec.name) + " " + spec.declaredType + (spec.required ? " NOT NULL" : "");
        }
        sql += ")";
        ExecSql(sql);
        if (statement.hasConstraint) {
          AddIndex(TableCopyingFromAccess(statement.table, 3078), statement.indexName, statement.indexColumns, statement.primary,
                   statement.unique);
        }
        break;
      }
      case Statement::kDropTable: {
        TableInfo& table = TableCopyingFromAccess(statement.table, 3078);
        const std::string name = table.def.Name();
        ExecSql("DROP TABLE " + table.quotedName);
        PreparedStatement exists(*this, db_, "SELECT 1 FROM sqlite_schema WHERE name='MSysIndexes'");
        if (sqlite3_step(exists.get()) == SQLITE_ROW) {
          PreparedStatement forget(*this, db_, "DELETE FROM MSysIndexes WHERE TableName=?1");
          sqlite3_bind_text(forget.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
          sqlite3_step(forget.get());
        }
        break;
      }
      case Statement::kAddConstraint:
      case Statement::kCreateIndex:
        AddIndex(TableCopyingFromAccess(statement.table, 3078), statement.indexName, statement.indexColumns, statement.primary,
                 statement.unique);
        break;
      case Statement::kDropConstraint:
      case Statement::kDropIndex:
        DropIndex(TableCopyingFromAccess(statement.table, 3078), statement.indexName);
        break;
      default:
        break;
    }
    scope.Done();
  } catch (const EngineError& error) {
    ClearCaches();
    NoteFailure(error);
    throw;
  } catch (...) {
    ClearCaches();
    throw;
  }
  ClearCaches();
}

}  // namespace dbengine
