// The working copy of an Access (Jet) file: at each opening the file is read
// once into a private temporary SQLite file, which the handle then reads as
// any database, opened read-only. The copies still on disk are tracked, each
// removed when its handle closes, and those left when the process ends
// normally are removed at exit.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>

#include "dbengine/storage.h"
#include "jet/jet.h"

namespace dbengine {
namespace {

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


// The reader's refusal as the engine's error: same number, same description.
[[noreturn]] void Rethrow(const jet::Error& error) { throw EngineError(error.Number(), error.Description()); }

FieldDef EngineField(const jet::Field& field) {
  return FieldDef{field.name, static_cast<FieldType>(field.type), field.size, field.required};
}

IndexDef EngineIndex(const jet::Index& index) { return IndexDef{index.name, index.primary, index.unique, index.fields}; }

void ToEngineValue(jet::Value& from, Value& to) {
  to.type = static_cast<FieldType>(from.type);
  to.isNull = from.isNull;
  to.integer = from.integer;
  to.real = from.real;
  to.text.swap(from.text);
}

}  // namespace

void Storage::ReleaseJetCopy() { ReleaseTemporaryFile(tempPath_); }

std::shared_ptr<Storage> Storage::OpenJet(const std::string& path) {
  try {
    jet::Reader reader(path);
    return OpenJet(path, reader);
  } catch (const jet::Error& error) {
    Rethrow(error);
  }
}

std::shared_ptr<Storage> Storage::OpenJet(const std::string& path, jet::Reader& reader) {
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

void Storage::ImportJet(jet::Reader& reader) {
  // The copy is private and made again at each opening: no journal is needed.
  ExecSql("PRAGMA journal_mode=OFF");
  ExecSql("PRAGMA synchronous=OFF");
  ExecSql("BEGIN");
  EnsureIndexCatalog();
  std::vector<jet::Value> row;
  Value value;
  for (std::size_t position = 0; position < reader.TableCount(); ++position) {
    const jet::TableDef& jet = reader.OpenTable(position);
    if (jet.fields.empty()) continue;
    std::string create = "CREATE TABLE " + Quote(jet.name) + " (";
    std::string insert = "INSERT INTO " + Quote(jet.name) + " VALUES(";
    for (const jet::Field& stored : jet.fields) {
      const FieldDef field = EngineField(stored);
      const bool first = &stored == &jet.fields.front();
      create += (first ? "" : ", ") + Quote(field.name) + " " + DeclaredTypeOf(field.type, field.size) +
                (field.required ? " NOT NULL" : "");
      insert += first ? "?" : ",?";
    }
    ExecSql(create + ")");
    {
      Statement3 statement(*this, db_, insert + ")");
      while (reader.NextRow(row)) {
        for (std::size_t slot = 0; slot < row.size(); ++slot) {
          ToEngineValue(row[slot], value);
          BindValue(statement.get(), static_cast<int>(slot) + 1, value);
        }
        const int rc = sqlite3_step(statement.get());
        sqlite3_reset(statement.get());
        if (rc != SQLITE_DONE) Fail(rc);
      }
    }
    // Indexes go through the catalog, after the rows (faster than keeping them up).
    for (const jet::Index& stored : jet.indexes) {
      const IndexDef index = EngineIndex(stored);
      ClearCaches();
      AddIndex(Table(jet.name, 3078), index.name, index.fields, index.primary, index.unique);
    }
  }
  ClearCaches();
  ExecSql("COMMIT");
}

}  // namespace dbengine
