// Storage of a database in one SQLite file.
//
// Each table is a SQLite table of the same name whose declared column types
// are the engine's type names. Index names belong to their table: the catalog
// table MSysIndexes maps (table, index name) to the SQLite index and keeps
// which index is primary. Writes are grouped: one SQLite transaction spans
// the statements of about a second and is committed at Close; each statement
// stays atomic on its own (SQLite's statement journal, or a savepoint for
// statements made of several SQLite steps). A Jet file is read once into a
// private temporary SQLite file, which then stays read-only.
#include "dbengine/storage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "dbengine/jet.h"

namespace dbengine {
namespace {

constexpr auto kGroupDuration = std::chrono::seconds(1);
constexpr std::size_t kMaxCachedStatements = 256;

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

class Statement3 {  // a prepared statement finalized on scope exit
 public:
  Statement3(const Storage& storage, sqlite3* db, const std::string& sql) {
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement_, nullptr);
    if (rc != SQLITE_OK) storage.Fail(rc);
  }
  ~Statement3() { sqlite3_finalize(statement_); }
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

void BindValue(sqlite3_stmt* statement, int slot, const Value& value) {
  if (value.isNull) {
    sqlite3_bind_null(statement, slot);
    return;
  }
  switch (value.type) {
    case kBoolean:
    case kByte:
    case kInteger:
    case kLong:
    case kCurrency:
      sqlite3_bind_int64(statement, slot, value.integer);
      break;
    case kSingle:
    case kDouble:
    case kDate:
      sqlite3_bind_double(statement, slot, value.real);
      break;
    case kBinary:
    case kLongBinary:
      sqlite3_bind_blob64(statement, slot, value.text.data(), value.text.size(), SQLITE_TRANSIENT);
      break;
    default:
      sqlite3_bind_text64(statement, slot, value.text.data(), value.text.size(), SQLITE_TRANSIENT,
                          SQLITE_UTF8);
      break;
  }
}

void CheckTextLength(const Value& value, const FieldDef& field) {
  if (value.isNull) return;
  const bool tooLong = (field.type == kText && Utf8Length(value.text) > static_cast<std::size_t>(field.size)) ||
                       (field.type == kBinary && value.text.size() > static_cast<std::size_t>(field.size));
  if (tooLong) {
    throw EngineError(3163, "Le champ « " + field.name + " » est trop petit pour accepter la quantité "
                            "de données que vous avez tenté d'ajouter.");
  }
}

// The private copies of Jet files still on disk. Each is removed when its
// database closes; those left when the process ends normally go at exit.
struct TemporaryFiles {
  std::mutex mutex;
  std::set<std::string> paths;
};

void RemoveTemporaryFile(const std::string& path) {
  std::error_code ignored;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ignored);
}

void RemoveTemporaryFilesAtExit();

TemporaryFiles& Temporaries() {
  // Never destroyed: the exit handler may run after static destructors.
  static TemporaryFiles* files = [] {
    auto* created = new TemporaryFiles;
    std::atexit(RemoveTemporaryFilesAtExit);
    return created;
  }();
  return *files;
}

void RemoveTemporaryFilesAtExit() {
  TemporaryFiles& files = Temporaries();
  std::lock_guard<std::mutex> lock(files.mutex);
  for (const std::string& path : files.paths) RemoveTemporaryFile(path);
  files.paths.clear();
}

// Creates an empty file of a unique name in the temporary folder.
std::string CreateTemporaryFile(const std::string& source) {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) folder = "/tmp";
  std::string pattern = (folder / "dbengine-jet-XXXXXX.sqlite").string();
  TemporaryFiles& files = Temporaries();
  std::lock_guard<std::mutex> lock(files.mutex);
  const int descriptor = ::mkstemps(pattern.data(), 7);
  if (descriptor < 0) {
    throw EngineError(3051, "Le moteur de base de données ne peut pas ouvrir le fichier « " + source +
                                " » : impossible de créer sa copie de travail dans « " + folder.string() + " ».");
  }
  ::close(descriptor);
  files.paths.insert(pattern);
  return pattern;
}

void ReleaseTemporaryFile(std::string& path) {
  if (path.empty()) return;
  TemporaryFiles& files = Temporaries();
  std::lock_guard<std::mutex> lock(files.mutex);
  RemoveTemporaryFile(path);
  files.paths.erase(path);
  path.clear();
}


}  // namespace

// ---------------------------------------------------------------------------
// Conversions between statement literals, strings and stored columns.

void ConvertLiteral(const Literal& literal, const FieldDef& field, Value& out) {
  out.type = field.type;
  out.isNull = true;
  out.text.clear();
  Conversion result = Conversion::kOk;
  switch (literal.kind) {
    case Literal::kNull:
      return;
    case Literal::kText:
      result = TextToValue(literal.text, field.type, out);
      break;
    case Literal::kBoolean:
      if (field.type == kBoolean) {
        out = Value::Integer(kBoolean, literal.truth ? 1 : 0);
      } else if (field.type == kText || field.type == kMemo) {
        out = Value::Text(field.type, literal.truth ? "Vrai" : "Faux");
      } else {
        result = TextToValue(literal.truth ? "-1" : "0", field.type, out);
      }
      break;
    case Literal::kNumber: {
      if (field.type == kText || field.type == kMemo) {
        out = Value::Text(field.type, literal.text);
        break;
      }
      // A bare number is written with a dot; the converter reads the comma form.
      std::string french = literal.text;
      std::replace(french.begin(), french.end(), '.', ',');
      if (field.type == kDate) {
        Value serial;
        result = TextToValue(french, kDouble, serial);
        if (result == Conversion::kOk) out = Value::Real(kDate, serial.real);
      } else {
        result = TextToValue(french, field.type, out);
      }
      break;
    }
  }
  if (result == Conversion::kOverflow) {
    throw EngineError(3349, "Dépassement de capacité du champ numérique « " + field.name + " ».");
  }
  if (result != Conversion::kOk) {
    throw EngineError(3464, "Type de données incompatible dans l'expression du critère : la valeur « " +
                                literal.text + " » ne convient pas au champ « " + field.name + " ».");
  }
  CheckTextLength(out, field);
}

void ConvertString(std::string_view text, const FieldDef& field, Value& out) {
  const Conversion result = TextToValue(text, field.type, out);
  if (result == Conversion::kOverflow) {
    throw EngineError(3349, "Dépassement de capacité du champ numérique « " + field.name + " ».");
  }
  if (result != Conversion::kOk) {
    throw EngineError(3421, "Erreur de conversion de type de données : « " + std::string(text) +
                                " » ne peut pas être converti pour le champ « " + field.name + " ».");
  }
  CheckTextLength(out, field);
}

void ReadColumn(sqlite3_stmt* statement, int column, FieldType type, Value& out) {
  out.type = type;
  out.text.clear();
  out.integer = 0;
  out.real = 0.0;
  out.isNull = sqlite3_column_type(statement, column) == SQLITE_NULL;
  if (out.isNull) return;
  switch (type) {
    case kBoolean:
      out.integer = sqlite3_column_int64(statement, column) != 0;
      break;
    case kByte:
    case kInteger:
    case kLong:
    case kCurrency:
      out.integer = sqlite3_column_int64(statement, column);
      break;
    case kSingle:
      out.real = static_cast<float>(sqlite3_column_double(statement, column));
      break;
    case kDouble:
    case kDate:
      out.real = sqlite3_column_double(statement, column);
      break;
    case kBinary:
    case kLongBinary: {
      const void* bytes = sqlite3_column_blob(statement, column);
      out.text.assign(static_cast<const char*>(bytes), sqlite3_column_bytes(statement, column));
      break;
    }
    default: {
      const unsigned char* text = sqlite3_column_text(statement, column);
      out.text.assign(reinterpret_cast<const char*>(text), sqlite3_column_bytes(statement, column));
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// Opening, creating, closing.

void Storage::Fail(int rc, std::string_view context) const {
  const int primary = rc & 0xFF;
  std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  switch (rc) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
      throw EngineError(3022, "Les modifications demandées n'ont pas été effectuées car elles créeraient "
                              "des doublons dans l'index, la clé primaire ou la relation.");
    case SQLITE_CONSTRAINT_NOTNULL: {
      const std::size_t colon = message.rfind(": ");
      const std::string field = colon == std::string::npos ? std::string(context) : message.substr(colon + 2);
      throw EngineError(3314, "Le champ « " + field + " » ne peut pas contenir une valeur Null.");
    }
    default:
      break;
  }
  switch (primary) {
    case SQLITE_READONLY:
      throw EngineError(3027, "Mise à jour impossible ; la base de données « " + path_ +
                                  " » est ouverte en lecture seule.");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      throw EngineError(3050, "La base de données est verrouillée par un autre programme ou une autre "
                              "opération en cours.");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      throw EngineError(3343, "Format de base de données « " + path_ + " » non reconnu.");
    case SQLITE_FULL:
      throw EngineError(3035, "Ressources système dépassées : le disque est plein.");
    case SQLITE_IOERR:
      throw EngineError(3043, "Erreur de disque ou de réseau sur « " + path_ + " ».");
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      throw EngineError(3051, "Le moteur de base de données ne peut pas ouvrir le fichier « " + path_ + " ».");
    default:
      throw EngineError(3000, "Erreur du moteur de base de données : " + message);
  }
}

std::shared_ptr<Storage> Storage::Open(const std::string& path) {
  struct stat attributes {};
  if (path.empty() || path.find('\0') != std::string::npos) {
    throw EngineError(3024, "Le fichier « " + path + " » est introuvable.");
  }
  if (::stat(path.c_str(), &attributes) != 0) {
    if (errno == EACCES) {
      throw EngineError(3051, "Le moteur de base de données ne peut pas ouvrir le fichier « " + path + " ».");
    }
    std::error_code ignored;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty() && !std::filesystem::is_directory(parent, ignored)) {
      throw EngineError(3044, "« " + parent.string() + " » n'est pas un chemin d'accès valide.");
    }
    throw EngineError(3024, "Le fichier « " + path + " » est introuvable.");
  }
  if (!S_ISREG(attributes.st_mode)) {
    throw EngineError(3343, "Format de base de données « " + path + " » non reconnu.");
  }
  {
    std::ifstream probe(path, std::ios::binary);
    if (!probe) {
      throw EngineError(3051, "Le moteur de base de données ne peut pas ouvrir le fichier « " + path + " ».");
    }
    char header[32] = {};
    probe.read(header, sizeof header);
    // Anything but a SQLite or Jet file is refused before SQLite may write to it.
    switch (FormatOfHeader(std::string_view(header, static_cast<std::size_t>(probe.gcount())))) {
      case FileFormat::kSqlite:
        break;
      case FileFormat::kJet:
        probe.close();
        return OpenJet(path);
      case FileFormat::kOther:
        throw EngineError(3343, "Format de base de données « " + path + " » non reconnu.");
    }
  }
  // Memory statistics cost a global mutex on every allocation; the engine
  // never reads them. This fails harmlessly when SQLite is already running.
  static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  (void)configured;
  std::shared_ptr<Storage> storage(new Storage());
  storage->path_ = path;
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  storage->db_ = db;
  if (rc != SQLITE_OK) {
    std::shared_ptr<Storage> failed = storage;
    try {
      failed->Fail(rc);
    } catch (...) {
      sqlite3_close_v2(db);
      failed->db_ = nullptr;
      throw;
    }
  }
  sqlite3_busy_timeout(db, 2000);
  sqlite3_extended_result_codes(db, 1);
  storage->readOnly_ = sqlite3_db_readonly(db, "main") == 1;
  try {
    // Reading the schema tells a damaged or foreign file from a database.
    storage->ExecSql("SELECT count(*) FROM sqlite_schema");
  } catch (...) {
    sqlite3_close_v2(db);
    storage->db_ = nullptr;
    throw;
  }
  return storage;
}

void Storage::Create(const std::string& path) {
  std::error_code ignored;
  if (std::filesystem::exists(path, ignored)) {
    throw EngineError(3204, "La base de données « " + path + " » existe déjà.");
  }
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent, ignored)) {
    throw EngineError(3044, "« " + parent.string() + " » n'est pas un chemin d'accès valide.");
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db,
                      "CREATE TABLE MSysIndexes (TableName TEXT NOT NULL, IndexName TEXT NOT NULL, "
                      "SqliteName TEXT NOT NULL, IsPrimary INTEGER NOT NULL, IsUnique INTEGER NOT NULL)",
                      nullptr, nullptr, nullptr);
  }
  sqlite3_close_v2(db);
  if (rc != SQLITE_OK) {
    std::filesystem::remove(path, ignored);
    throw EngineError(3051, "Impossible de créer la base de données « " + path + " ».");
  }
}

Storage::~Storage() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; Database::Close is the place where a failed
    // final commit is reported.
  }
}

void Storage::Close() {
  if (db_ == nullptr) {
    ReleaseTemporaryFile(tempPath_);
    return;
  }
  for (Cursor* cursor : cursors_) cursor->Detach();
  cursors_.clear();
  ClearCaches();
  int commitRc = SQLITE_OK;
  if (inTransaction_) {
    commitRc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    inTransaction_ = false;
  }
  if (!readOnly_) {
    // Back to a single self-contained file. This fails only when another
    // connection still has the file open; that connection's close ends WAL,
    // even when it only read (a no-op on a file already out of WAL).
    sqlite3_exec(db_, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  }
  if (commitRc != SQLITE_OK) {
    try {
      Fail(commitRc);
    } catch (...) {
      sqlite3_close_v2(db_);
      db_ = nullptr;
      ReleaseTemporaryFile(tempPath_);
      throw;
    }
  }
  sqlite3_close_v2(db_);
  db_ = nullptr;
  ReleaseTemporaryFile(tempPath_);
}

std::shared_ptr<Storage> Storage::OpenJet(const std::string& path) {
  JetReader reader(path);
  std::shared_ptr<Storage> storage(new Storage());
  storage->path_ = path;
  // From here a failure destroys the storage, whose Close removes the copy.
  storage->tempPath_ = CreateTemporaryFile(path);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(storage->tempPath_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  storage->db_ = db;
  if (rc != SQLITE_OK) storage->Fail(rc);
  sqlite3_extended_result_codes(db, 1);
  storage->ImportJet(reader);
  // Opened again read-only: SQLite itself then refuses any write.
  sqlite3_close_v2(db);
  storage->db_ = nullptr;
  rc = sqlite3_open_v2(storage->tempPath_.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  storage->db_ = db;
  if (rc != SQLITE_OK) storage->Fail(rc);
  sqlite3_extended_result_codes(db, 1);
  storage->readOnly_ = true;
  return storage;
}

void Storage::ImportJet(JetReader& reader) {
  // The copy is private and made again at each opening: no journal is needed.
  ExecSql("PRAGMA journal_mode=OFF");
  ExecSql("PRAGMA synchronous=OFF");
  ExecSql("BEGIN");
  EnsureIndexCatalog();
  std::vector<Value> row;
  for (std::size_t position = 0; position < reader.TableCount(); ++position) {
    const JetTableDef& jet = reader.OpenTable(position);
    if (jet.fields.empty()) continue;
    std::string create = "CREATE TABLE " + Quote(jet.name) + " (";
    std::string insert = "INSERT INTO " + Quote(jet.name) + " VALUES(";
    for (const FieldDef& field : jet.fields) {
      const bool first = &field == &jet.fields.front();
      create += (first ? "" : ", ") + Quote(field.name) + " " + DeclaredTypeOf(field.type, field.size) +
                (field.required ? " NOT NULL" : "");
      insert += first ? "?" : ",?";
    }
    ExecSql(create + ")");
    {
      Statement3 statement(*this, db_, insert + ")");
      while (reader.NextRow(row)) {
        for (std::size_t slot = 0; slot < row.size(); ++slot) {
          BindValue(statement.get(), static_cast<int>(slot) + 1, row[slot]);
        }
        const int rc = sqlite3_step(statement.get());
        sqlite3_reset(statement.get());
        if (rc != SQLITE_DONE) Fail(rc);
      }
    }
    // Indexes go through the catalog, after the rows (faster than keeping them up).
    for (const IndexDef& index : jet.indexes) {
      ClearCaches();
      AddIndex(Table(jet.name, 3078), index.name, index.fields, index.primary, index.unique);
    }
  }
  ClearCaches();
  ExecSql("COMMIT");
}

// ---------------------------------------------------------------------------
// Transactions and caches.

void Storage::ExecSql(const std::string& sql) {
  char* error = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  sqlite3_free(error);
  if (rc != SQLITE_OK) Fail(rc);
}

void Storage::RefuseIfReadOnly() const {
  if (readOnly_) Fail(SQLITE_READONLY);
}

void Storage::BeginWrite() {
  RefuseIfReadOnly();
  if (inTransaction_) return;
  if (!walEnabled_) {
    // WAL lets readers go on while a group is written. Switching fails while a
    // recordset is reading; the group then uses the rollback journal instead.
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      const unsigned char* mode = sqlite3_column_text(statement, 0);
      walEnabled_ = mode != nullptr && std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
    }
    sqlite3_finalize(statement);
  }
  ExecSql("BEGIN IMMEDIATE");
  inTransaction_ = true;
  groupStart_ = std::chrono::steady_clock::now();
}

void Storage::EndWrite() {
  // A failure that makes SQLite roll the whole transaction back (disk full,
  // I/O error) ends the group: the next write starts a new one.
  if (inTransaction_ && sqlite3_get_autocommit(db_)) inTransaction_ = false;
  if (inTransaction_ && std::chrono::steady_clock::now() - groupStart_ >= kGroupDuration) Commit();
}

void Storage::Commit() {
  if (!inTransaction_) return;
  inTransaction_ = false;
  const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    if (!sqlite3_get_autocommit(db_)) inTransaction_ = true;
    Fail(rc);
  }
}

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
  for (auto& entry : tables_) sqlite3_finalize(entry.second->insertAll);
  tables_.clear();
  lastTable_ = nullptr;
}

// ---------------------------------------------------------------------------
// Table definitions.

TableInfo& Storage::Table(std::string_view name, std::int32_t missingError) {
  // Statements of a row-by-row import name the same table each time.
  if (lastTable_ != nullptr && name == lastName_) return *lastTable_;
  std::string key = Upper(name);
  if (auto found = tables_.find(key); found != tables_.end()) {
    lastName_.assign(name);
    lastTable_ = found->second.get();
    return *lastTable_;
  }
  std::string realName;
  {
    Statement3 lookup(*this, db_,
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
  if (realName.empty()) {
    if (missingError == 3265) {
      throw EngineError(3265, "Élément non trouvé dans cette collection : la table « " + std::string(name) +
                                  " » n'existe pas.");
    }
    throw EngineError(missingError, "Le moteur de base de données ne peut pas trouver la table ou la "
                                    "requête source « " + std::string(name) + " ».");
  }
  auto info = std::make_unique<TableInfo>();
  LoadTable(realName, *info);
  return *tables_.emplace(std::move(key), std::move(info)).first->second;
}

void Storage::LoadTable(const std::string& realName, TableInfo& info) {
  std::vector<FieldDef> fields;
  {
    Statement3 columns(*this, db_, "SELECT name, type, \"notnull\" FROM pragma_table_info(?1) ORDER BY cid");
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
  auto indexFields = [&](const std::string& sqliteName) {
    std::vector<std::string> names;
    Statement3 columns(*this, db_, "SELECT name FROM pragma_index_info(?1) ORDER BY seqno");
    sqlite3_bind_text(columns.get(), 1, sqliteName.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
      const unsigned char* name = sqlite3_column_text(columns.get(), 0);
      names.emplace_back(name ? reinterpret_cast<const char*>(name) : "");
    }
    return names;
  };
  std::set<std::string> cataloged;
  {
    Statement3 exists(*this, db_, "SELECT 1 FROM sqlite_schema WHERE type='table' AND name='MSysIndexes'");
    if (sqlite3_step(exists.get()) == SQLITE_ROW) {
      Statement3 catalog(*this, db_,
                         "SELECT IndexName, SqliteName, IsPrimary, IsUnique FROM MSysIndexes "
                         "WHERE TableName=?1 ORDER BY rowid");
      sqlite3_bind_text(catalog.get(), 1, realName.c_str(), -1, SQLITE_TRANSIENT);
      while (sqlite3_step(catalog.get()) == SQLITE_ROW) {
        IndexDef index;
        index.name = reinterpret_cast<const char*>(sqlite3_column_text(catalog.get(), 0));
        const std::string sqliteName = reinterpret_cast<const char*>(sqlite3_column_text(catalog.get(), 1));
        index.primary = sqlite3_column_int(catalog.get(), 2) != 0;
        index.unique = sqlite3_column_int(catalog.get(), 3) != 0;
        index.fields = indexFields(sqliteName);
        cataloged.insert(sqliteName);
        info.sqliteIndexNames.push_back(sqliteName);
        indexes.push_back(std::move(index));
      }
    }
  }
  {
    // Indexes made by another SQLite tool are shown under their SQLite names.
    Statement3 list(*this, db_, "SELECT name, \"unique\", origin FROM pragma_index_list(?1) ORDER BY seq DESC");
    sqlite3_bind_text(list.get(), 1, realName.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(list.get()) == SQLITE_ROW) {
      const std::string sqliteName = reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0));
      if (cataloged.count(sqliteName)) continue;
      IndexDef index;
      index.name = sqliteName;
      index.unique = sqlite3_column_int(list.get(), 1) != 0;
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
}

std::vector<std::string> Storage::TableNames() {
  std::vector<std::string> names;
  Statement3 list(*this, db_,
                  "SELECT name FROM sqlite_schema WHERE type='table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                  "AND name NOT LIKE 'MSys%' ORDER BY rowid");
  while (sqlite3_step(list.get()) == SQLITE_ROW) {
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
  }
  return names;
}

// ---------------------------------------------------------------------------
// Statements.

void Storage::InsertRow(TableInfo& table, const std::vector<Value>& row) {
  const TableDef& def = table.def;
  for (int position : table.primaryPositions) {
    if (position >= 0 && row[position].isNull) {
      throw EngineError(3058, "L'index ou la clé primaire ne peut pas contenir une valeur Null (champ « " +
                                  def.Fields(static_cast<std::int16_t>(position)).name + " »).");
    }
  }
  for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
    if (def.Fields(position).required && row[position].isNull) {
      throw EngineError(3314, "Le champ « " + def.Name() + "." + def.Fields(position).name +
                                  " » ne peut pas contenir une valeur Null.");
    }
  }
  if (table.insertAll == nullptr) {
    std::string sql = "INSERT INTO " + table.quotedName + " VALUES(";
    for (std::int16_t position = 0; position < def.FieldCount(); ++position) sql += position ? ",?" : "?";
    sql += ")";
    const int rc = sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &table.insertAll, nullptr);
    if (rc != SQLITE_OK) Fail(rc);
  }
  BeginWrite();
  sqlite3_stmt* insert = table.insertAll;
  for (std::size_t position = 0; position < row.size(); ++position) {
    BindValue(insert, static_cast<int>(position) + 1, row[position]);
  }
  const int rc = sqlite3_step(insert);
  sqlite3_reset(insert);
  if (rc != SQLITE_DONE) {
    EndWrite();
    Fail(rc);
  }
  EndWrite();
}

std::string Storage::BuildWhere(TableInfo& table, const std::vector<Condition>& where,
                                std::vector<Value>& bound) {
  std::string sql;
  for (const Condition& condition : where) {
    const int position = table.def.FieldPosition(condition.column);
    if (position < 0) {
      throw EngineError(3061, "Trop peu de paramètres : le champ « " + condition.column +
                                  " » n'existe pas dans la table « " + table.def.Name() + " ».");
    }
    const FieldDef& field = table.def.Fields(static_cast<std::int16_t>(position));
    Value value;
    ConvertLiteral(condition.value, field, value);
    sql += sql.empty() ? " WHERE " : " AND ";
    sql += Quote(field.name);
    // A comparison with Null is never true, as in the original engine.
    sql += value.isNull ? "=NULL" : "=?";
    if (!value.isNull) bound.push_back(std::move(value));
  }
  return sql;
}

void Storage::Execute(std::string_view text) {
  Statement& statement = parsed_;
  ParseStatement(text, statement);
  // Every other statement would change the database: refused before anything is read.
  if (statement.kind != Statement::kSelect) RefuseIfReadOnly();
  switch (statement.kind) {
    case Statement::kSelect:
      throw EngineError(3065, "Impossible d'exécuter une requête Sélection.");
    case Statement::kInsert: {
      TableInfo& table = Table(statement.table, 3078);
      const TableDef& def = table.def;
      const std::size_t fieldCount = static_cast<std::size_t>(def.FieldCount());
      row_.resize(fieldCount);
      for (std::size_t position = 0; position < fieldCount; ++position) {
        row_[position] = Value::Null(def.Fields(static_cast<std::int16_t>(position)).type);
      }
      if (statement.columns.empty()) {
        if (statement.values.size() != fieldCount) {
          throw EngineError(3346, "Le nombre de valeurs de la requête et le nombre de champs de destination "
                                  "sont différents.");
        }
        for (std::size_t position = 0; position < fieldCount; ++position) {
          ConvertLiteral(statement.values[position], def.Fields(static_cast<std::int16_t>(position)),
                         row_[position]);
        }
      } else {
        if (statement.values.size() != statement.columns.size()) {
          throw EngineError(3346, "Le nombre de valeurs de la requête et le nombre de champs de destination "
                                  "sont différents.");
        }
        for (std::size_t index = 0; index < statement.columns.size(); ++index) {
          const int position = def.FieldPosition(statement.columns[index]);
          if (position < 0) {
            throw EngineError(3127, "L'instruction INSERT INTO contient le nom de champ inconnu « " +
                                        statement.columns[index] + " ».");
          }
          ConvertLiteral(statement.values[index], def.Fields(static_cast<std::int16_t>(position)), row_[position]);
        }
      }
      InsertRow(table, row_);
      return;
    }
    case Statement::kDelete: {
      TableInfo& table = Table(statement.table, 3078);
      std::vector<Value> bound;
      const std::string sql = "DELETE FROM " + table.quotedName + BuildWhere(table, statement.where, bound);
      BeginWrite();
      sqlite3_stmt* remove = Cached(sql);
      for (std::size_t slot = 0; slot < bound.size(); ++slot) BindValue(remove, static_cast<int>(slot) + 1, bound[slot]);
      const int rc = sqlite3_step(remove);
      sqlite3_reset(remove);
      EndWrite();
      if (rc != SQLITE_DONE) Fail(rc);
      return;
    }
    default:
      RunDefinition(statement);
      return;
  }
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
      throw EngineError(3375, "La table « " + def.Name() + " » a déjà un index nommé « " + name + " ».");
    }
  }
  if (primary && def.PrimaryIndex() != nullptr) {
    throw EngineError(3283, "La table « " + def.Name() + " » a déjà une clé primaire.");
  }
  std::string columnList;
  std::string anyNull;
  for (const std::string& column : columns) {
    const int position = def.FieldPosition(column);
    if (position < 0) {
      throw EngineError(3264, "Le champ « " + column + " » n'existe pas dans la table « " + def.Name() + " ».");
    }
    const std::string quoted = Quote(def.Fields(static_cast<std::int16_t>(position)).name);
    columnList += columnList.empty() ? quoted : "," + quoted;
    anyNull += anyNull.empty() ? quoted + " IS NULL" : " OR " + quoted + " IS NULL";
  }
  if (primary) {
    Statement3 check(*this, db_, "SELECT 1 FROM " + table.quotedName + " WHERE " + anyNull + " LIMIT 1");
    const int rc = sqlite3_step(check.get());
    if (rc == SQLITE_ROW) {
      throw EngineError(3058, "L'index ou la clé primaire ne peut pas contenir une valeur Null.");
    }
    if (rc != SQLITE_DONE) Fail(rc);
  }
  EnsureIndexCatalog();
  // SQLite index names are global: derive a free one from the table and index names.
  std::string sqliteName = def.Name() + "_" + name;
  for (int suffix = 2;; ++suffix) {
    Statement3 taken(*this, db_, "SELECT 1 FROM sqlite_schema WHERE name=?1 COLLATE NOCASE");
    sqlite3_bind_text(taken.get(), 1, sqliteName.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(taken.get()) != SQLITE_ROW) break;
    sqliteName = def.Name() + "_" + name + "_" + std::to_string(suffix);
  }
  ExecSql(std::string(unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + Quote(sqliteName) + " ON " +
          table.quotedName + " (" + columnList + ")");
  Statement3 record(*this, db_, "INSERT INTO MSysIndexes VALUES(?1, ?2, ?3, ?4, ?5)");
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
    Statement3 forget(*this, db_, "DELETE FROM MSysIndexes WHERE SqliteName=?1");
    sqlite3_bind_text(forget.get(), 1, sqliteName.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(forget.get());
    if (rc != SQLITE_DONE && (rc & 0xFF) != SQLITE_ERROR) Fail(rc);
    return;
  }
  throw EngineError(3371, "Impossible de trouver la table ou la contrainte « " + name + " ».");
}

void Storage::RunDefinition(const Statement& statement) {
  // Definitions change the schema: cached statements and definitions go.
  ClearCaches();
  BeginWrite();
  ExecSql("SAVEPOINT definition");
  try {
    switch (statement.kind) {
      case Statement::kCreateTable: {
        Statement3 exists(*this, db_, "SELECT 1 FROM sqlite_schema WHERE name=?1 COLLATE NOCASE");
        sqlite3_bind_text(exists.get(), 1, statement.table.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(exists.get()) == SQLITE_ROW || Upper(statement.table).rfind("SQLITE_", 0) == 0) {
          throw EngineError(3010, "La table « " + statement.table + " » existe déjà.");
        }
        if (statement.columnSpecs.size() > 255) {
          throw EngineError(3190, "Trop de champs définis : une table a au plus 255 champs.");
        }
        std::string sql = "CREATE TABLE " + Quote(statement.table) + " (";
        std::set<std::string> seen;
        for (const ColumnSpec& spec : statement.columnSpecs) {
          if (!seen.insert(Upper(spec.name)).second) {
            throw EngineError(3191, "Impossible de définir le champ « " + spec.name + " » plus d'une fois.");
          }
          if (&spec != &statement.columnSpecs.front()) sql += ", ";
          sql += Quote(spec.name) + " " + spec.declaredType + (spec.required ? " NOT NULL" : "");
        }
        sql += ")";
        ExecSql(sql);
        if (statement.hasConstraint) {
          AddIndex(Table(statement.table, 3078), statement.indexName, statement.indexColumns, statement.primary,
                   statement.unique);
        }
        break;
      }
      case Statement::kDropTable: {
        TableInfo& table = Table(statement.table, 3078);
        const std::string name = table.def.Name();
        ExecSql("DROP TABLE " + table.quotedName);
        Statement3 exists(*this, db_, "SELECT 1 FROM sqlite_schema WHERE name='MSysIndexes'");
        if (sqlite3_step(exists.get()) == SQLITE_ROW) {
          Statement3 forget(*this, db_, "DELETE FROM MSysIndexes WHERE TableName=?1");
          sqlite3_bind_text(forget.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
          sqlite3_step(forget.get());
        }
        break;
      }
      case Statement::kAddConstraint:
      case Statement::kCreateIndex:
        AddIndex(Table(statement.table, 3078), statement.indexName, statement.indexColumns, statement.primary,
                 statement.unique);
        break;
      case Statement::kDropConstraint:
      case Statement::kDropIndex:
        DropIndex(Table(statement.table, 3078), statement.indexName);
        break;
      default:
        break;
    }
    ExecSql("RELEASE definition");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK TO definition", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "RELEASE definition", nullptr, nullptr, nullptr);
    ClearCaches();
    EndWrite();
    throw;
  }
  ClearCaches();
  EndWrite();
}

std::unique_ptr<Cursor> Storage::OpenCursor(std::string_view source, RecordsetType type) {
  std::string sql;
  std::vector<Value> bound;
  TableInfo* table = nullptr;
  if (type == RecordsetType::kTable) {
    table = &Table(source, 3078);
    sql = "SELECT * FROM " + table->quotedName;
  } else {
    Statement statement;
    ParseStatement(source, statement);
    if (statement.kind != Statement::kSelect) {
      throw EngineError(3219, "Opération non valide : seule une requête SELECT ouvre un recordset.");
    }
    table = &Table(statement.table, 3078);
    sql = "SELECT * FROM " + table->quotedName + BuildWhere(*table, statement.where, bound);
    for (const std::string& column : statement.columns) {
      const int position = table->def.FieldPosition(column);
      if (position < 0) {
        throw EngineError(3061, "Trop peu de paramètres : le champ « " + column + " » n'existe pas dans la table « " +
                                    table->def.Name() + " ».");
      }
      sql += (&column == &statement.columns.front() ? " ORDER BY " : ", ") +
             Quote(table->def.Fields(static_cast<std::int16_t>(position)).name);
    }
  }
  sqlite3_stmt* select = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &select, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
  for (std::size_t slot = 0; slot < bound.size(); ++slot) BindValue(select, static_cast<int>(slot) + 1, bound[slot]);
  return std::make_unique<Cursor>(shared_from_this(), *table, select, type);
}

// ---------------------------------------------------------------------------
// Cursors.

Cursor::Cursor(std::shared_ptr<Storage> storage, TableInfo& table, sqlite3_stmt* statement, RecordsetType type)
    : storage_(std::move(storage)), tableName_(table.def.Name()), def_(table.def), statement_(statement), type_(type) {
  storage_->Register(this);
  current_.resize(static_cast<std::size_t>(def_.FieldCount()));
  try {
    Step();
  } catch (...) {
    storage_->Unregister(this);
    sqlite3_finalize(statement_);
    statement_ = nullptr;
    throw;
  }
  bof_ = eof_;
}

Cursor::~Cursor() {
  if (statement_ != nullptr) {
    sqlite3_finalize(statement_);
    storage_->Unregister(this);
  }
}

void Cursor::Detach() {
  sqlite3_finalize(statement_);
  statement_ = nullptr;
}

void Cursor::CheckLive() const {
  if (statement_ == nullptr || storage_->IsClosed()) {
    throw EngineError(3420, "Objet invalide ou n'est plus défini : la base de données a été fermée.");
  }
}

void Cursor::Step() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) {
    eof_ = false;
    for (std::int16_t position = 0; position < def_.FieldCount(); ++position) {
      ReadColumn(statement_, position, def_.Fields(position).type, current_[static_cast<std::size_t>(position)]);
    }
    return;
  }
  eof_ = true;
  if (rc != SQLITE_DONE) storage_->Fail(rc);
}

bool Cursor::IsEOF() const {
  CheckLive();
  return eof_;
}

bool Cursor::IsBOF() const {
  CheckLive();
  return bof_;
}

void Cursor::MoveNext() {
  CheckLive();
  if (eof_) throw EngineError(3021, "Aucun enregistrement en cours.");
  bof_ = false;
  Step();
}

std::int16_t Cursor::FieldCount() const {
  CheckLive();
  return def_.FieldCount();
}

const FieldDef& Cursor::Field(std::int16_t position) const {
  CheckLive();
  return def_.Fields(position);
}

const Value& Cursor::FieldValue(std::int16_t position) const {
  CheckLive();
  def_.Fields(position);  // 3265 when out of range
  if (eof_) throw EngineError(3021, "Aucun enregistrement en cours.");
  return current_[static_cast<std::size_t>(position)];
}

void Cursor::CheckWritable() const {
  if (type_ != RecordsetType::kTable) {
    throw EngineError(3251, "Opération non prise en charge pour ce type d'objet : ce recordset est en lecture seule.");
  }
}

void Cursor::AddNew() {
  CheckLive();
  CheckWritable();
  storage_->RefuseIfReadOnly();
  newRow_.clear();
  for (std::int16_t position = 0; position < def_.FieldCount(); ++position) {
    newRow_.push_back(Value::Null(def_.Fields(position).type));
  }
  adding_ = true;
}

void Cursor::SetFieldValue(std::int16_t position, std::string_view text) {
  CheckLive();
  CheckWritable();
  const FieldDef& field = def_.Fields(position);
  if (!adding_) throw EngineError(3020, "Mise à jour ou Annuler Mise à jour sans AddNew ni Edit.");
  // Converted aside: a string that cannot be stored leaves the field as it was.
  Value converted;
  ConvertString(text, field, converted);
  newRow_[static_cast<std::size_t>(position)] = std::move(converted);
}

void Cursor::Update() {
  CheckLive();
  CheckWritable();
  storage_->RefuseIfReadOnly();
  if (!adding_) throw EngineError(3020, "Mise à jour ou Annuler Mise à jour sans AddNew ni Edit.");
  adding_ = false;
  TableInfo& table = storage_->Table(tableName_, 3078);
  // The table may have been dropped and made again since the recordset opened:
  // the row built on the old fields cannot go into other ones.
  bool sameFields = table.def.FieldCount() == def_.FieldCount();
  for (std::int16_t position = 0; sameFields && position < def_.FieldCount(); ++position) {
    sameFields = table.def.Fields(position).type == def_.Fields(position).type;
  }
  if (!sameFields) {
    throw EngineError(3420, "Objet invalide ou n'est plus défini : la table « " + tableName_ +
                                " » a été redéfinie depuis l'ouverture du recordset.");
  }
  storage_->InsertRow(table, newRow_);
}

}  // namespace dbengine
