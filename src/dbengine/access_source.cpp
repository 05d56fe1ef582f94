// SPDX-License-Identifier: Apache-2.0
// An Access (Jet) file as a source of the engine (access_source.h). Opening
// reads the file's catalog and table definitions only; a table's rows are
// copied whole from the reader into the working copy, a private SQLite
// database, the first time the table is looked up (TableCopyingFromAccess),
// and the handle then reads them there as in any database; a SELECT * of a
// table not yet copied reads its rows straight from the file instead. The
// working copy is SQLite's anonymous temporary database: its file in the
// temporary folder is unlinked as soon as SQLite creates it, so the system
// removes it however the process ends, and it is kept unwritable with PRAGMA
// query_only between loads.
#include "access_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "errors.h"
#include "sql_parser.h"
#include "storage.h"
#include "jet/jet.h"

namespace dbengine {
namespace {

// The reader's refusal as the engine's error: same number, same description.
[[noreturn]] void Rethrow(const jet::Error& error) { throw EngineError(error); }

// A value read from the file made as the working copy gives it back: of the
// field's type, a Single as a float, and as SQLite keeps numbers (no number
// is stored for a NaN, which reads as Null, and a negative zero reads as
// zero).
void AsCopied(FieldType type, Value& value) {
  value.type = type;
  const bool integer = type == kBoolean || type == kByte || type == kInteger || type == kLong ||
                       type == kCurrency || type == kBigInt;
  const bool real = type == kSingle || type == kDouble || type == kDate;
  if (real && !value.isNull && std::isnan(value.real)) value.isNull = true;
  // Only the member of the value's kind is kept; a Null keeps none.
  if (value.isNull || !integer) value.integer = 0;
  if (value.isNull || !real) value.real = 0.0;
  if (value.isNull || integer || real) value.text.clear();
  if (value.isNull) return;
  if (type == kBoolean) value.integer = value.integer != 0;
  if (type == kSingle) value.real = static_cast<float>(value.real);
  if (real && value.real == 0.0) value.real = 0.0;
}

bool WritableFolder(const char* folder) {
  struct stat status {};
  return folder != nullptr && ::stat(folder, &status) == 0 && S_ISDIR(status.st_mode) &&
         ::access(folder, W_OK | X_OK) == 0;
}

// The folder SQLite puts its temporary databases in, chosen as SQLite
// chooses it on Unix: SQLITE_TMPDIR, TMPDIR, /var/tmp, /usr/tmp, /tmp, then
// the current folder.
std::string TemporaryFolder() {
  const char* const candidates[] = {std::getenv("SQLITE_TMPDIR"), std::getenv("TMPDIR"), "/var/tmp", "/usr/tmp", "/tmp"};
  for (const char* folder : candidates) {
    if (WritableFolder(folder)) return folder;
  }
  return ".";
}

constexpr int kWorkingCopyCacheKiB = 512;

// Long binary values (OLE objects, attachments' files) longer than this are
// not held whole: their row is inserted with a blob of zeros of their size,
// which their bytes then overwrite part by part from the reader.
constexpr std::size_t kStreamedAbove = std::size_t{1} << 20;

// Writes streamed value `slot` of the reader's current row into its place,
// column `column` of row `rowid` of `table`, exactly `size` bytes.
void WriteStreamed(const Storage& storage, const std::string& path, sqlite3* db, jet::Reader& reader, const std::string& table,
                   const std::string& column, sqlite3_int64 rowid, std::size_t slot, std::uint64_t size) {
  sqlite3_blob* blob = nullptr;
  if (const int rc = sqlite3_blob_open(db, "main", table.c_str(), column.c_str(), rowid, 1, &blob); rc != SQLITE_OK) {
    sqlite3_blob_close(blob);
    storage.Fail(rc);
  }
  std::uint64_t written = 0;
  int rc = SQLITE_OK;
  try {
    reader.ReadStreamed(slot, [&](const char* bytes, std::size_t count) {
      if (rc != SQLITE_OK || count > size - written) {
        if (rc == SQLITE_OK) written = size + 1;
        return;
      }
      rc = sqlite3_blob_write(blob, bytes, static_cast<int>(count), static_cast<int>(written));
      written += count;
    });
  } catch (...) {
    sqlite3_blob_close(blob);
    throw;
  }
  sqlite3_blob_close(blob);
  if (rc != SQLITE_OK) storage.Fail(rc);
  if (written != size) {
    throw errors::StreamedValueLength(path, table, column);
  }
}

// Whether table `name` (as the Access catalog spells it) is in the working
// copy already.
bool InWorkingCopy(const Storage& storage, const AccessSource& access, const std::string& name) {
  // Nothing to read before a first copy (SQLite would read its schema).
  if (!access.AnyCopyBegun()) return false;
  PreparedStatement exists(storage, storage.Handle(), "SELECT 1 FROM sqlite_schema WHERE type='table' AND name=?1");
  sqlite3_bind_text(exists.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(exists.get()) == SQLITE_ROW;
}

}  // namespace

std::string RequiredWithNullRule(const std::string& field) {
  return "champ requis « " + field + " » : des lignes y sont Null ; copié comme champ facultatif";
}

std::string PlainIndexRule(const std::string& index, bool primary, int number) {
  return std::string(primary ? "clé primaire « " : "index unique « ") + index +
         (number == 3058 ? " » : des lignes y sont Null" : " » : des lignes y sont en double") +
         (primary ? " ; copiée" : " ; copié") + " comme index simple";
}

std::string WidenedTextRule(const std::string& field, std::int32_t size, std::size_t longest) {
  return "champ « " + field + " » de " + std::to_string(size) + " caractères : des lignes y ont un texte de " +
         std::to_string(longest) + " ; copié " +
         (longest <= 255 ? "en " + std::to_string(longest) + " caractères" : "comme Mémo");
}


AccessSource::AccessSource(const std::string& path, std::string_view password) : path_(path) {
  try {
    reader_ = std::make_unique<jet::Reader>(path, password);
  } catch (const jet::Error& error) {
    Rethrow(error);
  }
  workingFolder_ = TemporaryFolder();
}

AccessSource::~AccessSource() = default;

std::vector<std::string> AccessSource::TableNames() const {
  std::vector<std::string> names;
  for (std::size_t position = 0; position < reader_->TableCount(); ++position) {
    names.push_back(reader_->TableName(position));
  }
  return names;
}

std::optional<std::size_t> AccessSource::Find(std::string_view name) const {
  std::optional<std::size_t> found;
  for (std::size_t position = 0; position < reader_->TableCount(); ++position) {
    const std::string& candidate = reader_->TableName(position);
    if (candidate == name) return position;
    if (!found && SameName(candidate, name)) found = position;
  }
  return found;
}

const std::string& AccessSource::TableName(std::size_t position) const { return reader_->TableName(position); }

const jet::TableDef& AccessSource::OpenTable(std::size_t position) {
  ++generation_;
  return reader_->OpenTable(position);
}

TableDef AccessSource::Definition(std::size_t position) {
  try {
    const jet::TableDef& jet = OpenTable(position);
    return TableDef(jet.name, std::vector<FieldDef>(jet.fields.begin(), jet.fields.end()), jet.indexes);
  } catch (const jet::Error& error) {
    Rethrow(error);
  }
}

JetRows AccessSource::OpenRows(std::size_t position, bool readFirst) {
  JetRows rows;
  rows.position = position;
  try {
    const jet::TableDef& jet = OpenTable(position);
    // The fields as the working copy's declared types give them back.
    std::vector<FieldDef> fields;
    for (const jet::Field& stored : jet.fields) {
      if (stored.requiredWithNull) rows.requiredWithNull.push_back(stored.name);
      FieldDef field = stored;
      std::int32_t size = 0;
      field.type = FieldTypeOfDeclared(DeclaredTypeOf(field.type, field.size), size);
      field.size = size;
      rows.types.push_back(field.type);
      fields.push_back(std::move(field));
    }
    rows.def = TableDef(jet.name, std::move(fields), jet.indexes);
    // Every row once, as a copy would read them: a damaged table fails here,
    // before any row is given.
    while (readFirst && reader_->SkipRow()) {
    }
  } catch (const jet::Error& error) {
    Rethrow(error);
  }
  return rows;
}

bool AccessSource::NextRow(JetRows& rows, std::vector<Value>& row) {
  try {
    if (rows.generation == 0 || rows.generation != generation_) {
      // From the start, or another use opened a table in the reader since:
      // the rows given are passed again.
      OpenTable(rows.position);
      rows.generation = generation_;
      for (std::uint64_t passed = 0; passed < rows.given; ++passed) reader_->SkipRow();
    }
    if (!reader_->NextRow(row)) return false;
  } catch (const jet::Error& error) {
    Rethrow(error);
  }
  ++rows.given;
  for (std::size_t slot = 0; slot < row.size(); ++slot) AsCopied(rows.types[slot], row[slot]);
  return true;
}

void AccessSource::CopyTableInto(std::size_t position, Storage& copy) {
  copyBegun_ = true;
  std::vector<Value> row;
  // Long values are streamed for this copy only: other readers of the file get them whole.
  struct Streaming {
    jet::Reader& reader;
    ~Streaming() { reader.StreamLongValues(0); }
  } streaming{*reader_};
  try {
    const jet::TableDef& jet = OpenTable(position);
    reader_->StreamLongValues(kStreamedAbove);
    // Rows that break their table's own rules (Access keeps them: a field
    // made required over a Null, duplicates under a unique index) are read
    // all the same; each rule broken is noted.
    std::vector<BrokenRule> broken;
    std::vector<std::size_t> longest(jet.fields.size(), 0);
    for (const jet::Field& field : jet.fields) {
      if (!field.requiredWithNull) continue;
      broken.push_back({field.name, {}, 0, RequiredWithNullRule(field.name)});
    }
    std::string create = "CREATE TABLE " + Quote(jet.name) + " (";
    std::string insert = "INSERT INTO " + Quote(jet.name) + " VALUES(";
    for (const jet::Field& field : jet.fields) {
      const bool first = &field == &jet.fields.front();
      create += (first ? "" : ", ") + Quote(field.name) + " " + DeclaredTypeOf(field.type, field.size) +
                (field.required ? " NOT NULL" : "");
      insert += first ? "?" : ",?";
    }
    copy.ExecSql(create + ")");
    {
      PreparedStatement statement(copy, copy.db_, insert + ")");
      while (reader_->NextRow(row)) {
        bool streamed = false;
        for (std::size_t slot = 0; slot < row.size(); ++slot) {
          if (row[slot].streamed) {
            streamed = true;
            sqlite3_bind_zeroblob64(statement.get(), static_cast<int>(slot) + 1,
                                    static_cast<sqlite3_uint64>(row[slot].integer));
            continue;
          }
          const Value& value = row[slot];
          const std::size_t size = static_cast<std::size_t>(jet.fields[slot].size);
          if (value.type == kText && !value.isNull && value.text.size() > std::max(size, longest[slot])) {
            longest[slot] = std::max(longest[slot], Utf8Length(value.text));
          }
          BindValue(statement.get(), static_cast<int>(slot) + 1, value);
        }
        const int rc = sqlite3_step(statement.get());
        sqlite3_reset(statement.get());
        if (rc != SQLITE_DONE) copy.Fail(rc);
        if (!streamed) continue;
        const sqlite3_int64 rowid = sqlite3_last_insert_rowid(copy.db_);
        for (std::size_t slot = 0; slot < row.size(); ++slot) {
          if (row[slot].streamed) {
            WriteStreamed(copy, path_, copy.db_, *reader_, jet.name, jet.fields[slot].name, rowid, slot,
                          static_cast<std::uint64_t>(row[slot].integer));
          }
        }
      }
    }
    // Indexes go through the catalog, after the rows (faster than keeping them up).
    for (const IndexDef& index : jet.indexes) {
      copy.ClearCaches();
      try {
        copy.AddIndex(copy.Table(jet.name, 3078), index.name, index.fields, index.primary, index.unique);
      } catch (const EngineError& error) {
        if (error.Number() != 3022 && error.Number() != 3058) throw;
        copy.ClearCaches();
        copy.AddIndex(copy.Table(jet.name, 3078), index.name, index.fields, false, false);
        broken.push_back({{}, index.name, 0, PlainIndexRule(index.name, index.primary, error.Number())});
      }
    }
    for (std::size_t slot = 0; slot < longest.size(); ++slot) {
      const jet::Field& field = jet.fields[slot];
      if (longest[slot] <= static_cast<std::size_t>(field.size)) continue;
      broken.push_back({field.name, {}, longest[slot], WidenedTextRule(field.name, field.size, longest[slot])});
    }
    brokenRules_[jet.name] = std::move(broken);
  } catch (const jet::Error& error) {
    Rethrow(error);
  }
}

std::vector<BrokenRule> AccessSource::BrokenRules(const std::string& name) const {
  const auto found = brokenRules_.find(name);
  return found == brokenRules_.end() ? std::vector<BrokenRule>{} : found->second;
}

// ---------------------------------------------------------------------------
// The Storage of an Access file: its working copy.

std::shared_ptr<Storage> Storage::OpenAccess(const std::string& path, std::string_view password) {
  std::shared_ptr<Storage> storage(new Storage());
  storage->path_ = path;
  storage->access_ = std::make_unique<AccessSource>(path, password);
  // An empty name: SQLite's anonymous temporary database, removed by the
  // system whatever ends the process.
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2("", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  storage->db_ = db;
  if (rc != SQLITE_OK) storage->Fail(rc);
  sqlite3_extended_result_codes(db, 1);
  // A load that fails is undone through a journal kept in memory; the copy
  // needs no durability.
  storage->ExecSql("PRAGMA journal_mode=MEMORY");
  storage->ExecSql("PRAGMA synchronous=OFF");
  // A small page cache: the copy's pages beyond it go to its file, so that
  // memory stays bounded whatever the size of the Access file. Its index
  // catalog is made with the first index (AddIndex).
  storage->ExecSql("PRAGMA cache_size=-" + std::to_string(kWorkingCopyCacheKiB));
  storage->ExecSql("PRAGMA query_only=1");
  storage->readOnly_ = true;
  return storage;
}

void Storage::CopyAccessTable(std::string_view name) {
  if (FindTable(name) != nullptr) return;
  const std::optional<std::size_t> position = access_->Find(name);
  // Already in the copy (the lookup that called here may have been told otherwise by a cache).
  if (!position || InWorkingCopy(*this, *access_, access_->TableName(*position))) return;
  ExecSql("PRAGMA query_only=0");
  // A savepoint, inside an explicit transaction as outside one: a load that
  // fails leaves no part of the table behind.
  ExecSql("SAVEPOINT jet_load");
  try {
    access_->CopyTableInto(*position, *this);
    ExecSql("RELEASE jet_load");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK TO jet_load", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "RELEASE jet_load", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "PRAGMA query_only=1", nullptr, nullptr, nullptr);
    ClearCaches();
    throw;
  }
  ExecSql("PRAGMA query_only=1");
  ClearCaches();
}

std::optional<JetRows> Storage::OpenJetRows(std::string_view name, bool readFirst) {
  if (access_ == nullptr) return std::nullopt;
  const std::optional<std::size_t> position = access_->Find(name);
  if (!position || InWorkingCopy(*this, *access_, access_->TableName(*position))) return std::nullopt;
  return access_->OpenRows(*position, readFirst);
}

std::vector<BrokenRule> Storage::BrokenRules(std::string_view name) {
  if (access_ == nullptr) return {};
  const std::optional<std::size_t> position = access_->Find(name);
  if (!position) return {};
  TableCopyingFromAccess(name, 3265);
  return access_->BrokenRules(access_->TableName(*position));
}

TableDef Storage::Definition(std::string_view name) {
  if (access_ != nullptr) {
    // Read from the Access file's definition, without copying the rows.
    if (const std::optional<std::size_t> position = access_->Find(name)) return access_->Definition(*position);
  }
  return Table(name, 3265).def;
}

}  // namespace dbengine
