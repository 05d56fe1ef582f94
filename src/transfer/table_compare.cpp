// The table comparison: both tables' lines go into one scratch SQLite table
// (key, line, side), SQLite's sorter orders them on disk, and one pass over
// the sorted rows counts, for each line, how many times each side holds it.
// Within one key, the surplus lines of the first side and those of the
// second pair up as different rows.
#include "transfer/table_compare.h"

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>

namespace {

constexpr std::int32_t kErrNoSuchItem = 3265;

// The scratch database: an SQLite temporary file, removed when it is closed.
// Its page cache is bounded; what does not fit spills to the file.
class Scratch {
 public:
  Scratch() {
    if (sqlite3_open_v2("", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) Fail();
    Exec("PRAGMA journal_mode=OFF");
    Exec("PRAGMA synchronous=OFF");
    Exec("PRAGMA temp_store=FILE");
    Exec("PRAGMA cache_size=-32768");
    Exec("CREATE TABLE lines(k BLOB, l BLOB, side INTEGER)");
  }
  ~Scratch() {
    sqlite3_finalize(insert_);
    sqlite3_close_v2(db_);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  void Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail();
  }

  void Add(std::string_view key, std::string_view line, int side) {
    if (insert_ == nullptr && sqlite3_prepare_v2(db_, "INSERT INTO lines VALUES(?,?,?)", -1, &insert_, nullptr) != SQLITE_OK) {
      Fail();
    }
    sqlite3_bind_blob(insert_, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    sqlite3_bind_blob(insert_, 2, line.data(), static_cast<int>(line.size()), SQLITE_STATIC);
    sqlite3_bind_int(insert_, 3, side);
    const int rc = sqlite3_step(insert_);
    sqlite3_reset(insert_);
    if (rc != SQLITE_DONE) Fail(rc);
  }

  sqlite3* Handle() const { return db_; }

  [[noreturn]] void Fail(int rc = 0) const {
    if (rc == 0) rc = db_ != nullptr ? sqlite3_errcode(db_) : SQLITE_CANTOPEN;
    const std::string detail = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    if ((rc & 0xff) == SQLITE_FULL) {
      throw dbengine::EngineError(3026, "Espace disque insuffisant pour trier les lignes de la comparaison.");
    }
    throw dbengine::EngineError(3043, "Erreur de disque sur la base de tri de la comparaison : " + detail + ".");
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

std::string Bracketed(const std::string& name) { return "[" + name + "]"; }

// For each field of `reference` in order, its position in `other`; 3265 when
// the two field lists differ.
std::vector<std::int16_t> MatchFields(const dbengine::TableDef& reference, const dbengine::TableDef& other) {
  auto refuse = [&](const std::string& field, const std::string& lacking) {
    return dbengine::EngineError(kErrNoSuchItem, "Les tables « " + reference.Name() + " » et « " + other.Name() +
                                                     " » n'ont pas les mêmes champs : le champ « " + field +
                                                     " » manque à la table « " + lacking + " ».");
  };
  std::vector<std::int16_t> positions;
  for (std::int16_t field = 0; field < reference.FieldCount(); ++field) {
    const int position = other.FieldPosition(reference.Fields(field).name);
    if (position < 0) throw refuse(reference.Fields(field).name, other.Name());
    positions.push_back(static_cast<std::int16_t>(position));
  }
  for (std::int16_t field = 0; field < other.FieldCount(); ++field) {
    if (reference.FieldPosition(other.Fields(field).name) < 0) throw refuse(other.Fields(field).name, reference.Name());
  }
  return positions;
}

// The transfer text of one value: a value that cannot be read is empty, as
// the export writes it.
void AppendField(const dbengine::Recordset& rows, std::int16_t position, std::string& out) {
  const std::size_t start = out.size();
  try {
    dbengine::AppendValueText(rows.FieldValue(position), out);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const dbengine::Error&) {
    out.resize(start);
  }
}

// Adds every row of `table` to the scratch table as side `side`.
void Load(dbengine::Database& database, const std::string& table, const std::vector<std::int16_t>& fields,
          const std::vector<std::int16_t>& keyFields, int side, Scratch& scratch, TransferProgress* progress) {
  dbengine::Recordset rows = database.OpenRecordset("SELECT * FROM " + Bracketed(table));
  std::string line;
  std::string key;
  std::uint64_t count = 0;
  for (; !rows.IsEOF(); rows.MoveNext()) {
    line.clear();
    for (std::size_t field = 0; field < fields.size(); ++field) {
      if (field > 0) line.push_back('|');
      AppendField(rows, fields[field], line);
    }
    key.clear();
    for (std::size_t field = 0; field < keyFields.size(); ++field) {
      if (field > 0) key.push_back('|');
      AppendField(rows, keyFields[field], key);
    }
    scratch.Add(key, line, side);
    if (progress != nullptr && ++count % kProgressStep == 0) progress->Rows(table, count);
  }
  if (progress != nullptr) progress->Done(table);
}

// Positions, in `def`, of the fields of its primary key (none without one).
std::vector<std::string> PrimaryKeyFields(const dbengine::TableDef& def) {
  const dbengine::IndexDef* primary = def.PrimaryIndex();
  return primary != nullptr ? primary->fields : std::vector<std::string>{};
}

// The pass over the sorted lines. Each line's surplus on one side is kept
// per key until the key changes, then paired.
class Tally {
 public:
  explicit Tally(RowDifferences& out) : out_(out) {}

  void Line(std::string_view key, std::string_view line, int side) {
    if (!started_ || key != key_) {
      EndKey();
      key_.assign(key);
      started_ = true;
    } else if (line == line_) {
      ++count_[side];
      return;
    } else {
      EndLine();
    }
    line_.assign(line);
    count_[0] = count_[1] = 0;
    ++count_[side];
  }

  void End() { EndKey(); }

 private:
  void EndLine() {
    for (int side = 0; side < 2; ++side) {
      const std::uint64_t surplus = count_[side] > count_[1 - side] ? count_[side] - count_[1 - side] : 0;
      surplus_[side] += surplus;
      for (std::uint64_t copy = 0; copy < surplus && shown_[side].size() < 2 * kShownRows; ++copy) {
        shown_[side].push_back(line_);
      }
    }
    count_[0] = count_[1] = 0;
  }

  void EndKey() {
    if (!started_) return;
    EndLine();
    const std::uint64_t paired = std::min(surplus_[0], surplus_[1]);
    out_.different += paired;
    out_.missing += surplus_[0] - paired;
    out_.extra += surplus_[1] - paired;
    std::size_t shownPairs = std::min(shown_[0].size(), shown_[1].size());
    shownPairs = static_cast<std::size_t>(std::min<std::uint64_t>(shownPairs, paired));
    for (std::size_t pair = 0; pair < shownPairs && out_.differentRows.size() < kShownRows; ++pair) {
      out_.differentRows.emplace_back(shown_[0][pair], shown_[1][pair]);
    }
    for (std::size_t row = shownPairs; row < shown_[0].size() && out_.missingRows.size() < kShownRows; ++row) {
      out_.missingRows.push_back(shown_[0][row]);
    }
    for (std::size_t row = shownPairs; row < shown_[1].size() && out_.extraRows.size() < kShownRows; ++row) {
      out_.extraRows.push_back(shown_[1][row]);
    }
    surplus_[0] = surplus_[1] = 0;
    shown_[0].clear();
    shown_[1].clear();
  }

  RowDifferences& out_;
  bool started_ = false;
  std::string key_;
  std::string line_;
  std::uint64_t count_[2] = {0, 0};
  std::uint64_t surplus_[2] = {0, 0};
  std::vector<std::string> shown_[2];  // a few surplus lines of the current key
};

std::string_view Column(sqlite3_stmt* statement, int column) {
  const void* bytes = sqlite3_column_blob(statement, column);
  return {static_cast<const char*>(bytes), static_cast<std::size_t>(sqlite3_column_bytes(statement, column))};
}

}  // namespace

RowDifferences CompareTables(dbengine::Database& first, const std::string& firstTable, dbengine::Database& second,
                             const std::string& secondTable, TransferProgress* progress) {
  dbengine::CheckName(firstTable);
  dbengine::CheckName(secondTable);
  const dbengine::TableDef firstDef = first.TableDefs(firstTable);
  const dbengine::TableDef secondDef = second.TableDefs(secondTable);
  std::vector<std::int16_t> firstFields(static_cast<std::size_t>(firstDef.FieldCount()));
  for (std::int16_t field = 0; field < firstDef.FieldCount(); ++field) firstFields[static_cast<std::size_t>(field)] = field;
  const std::vector<std::int16_t> secondFields = MatchFields(firstDef, secondDef);

  std::vector<std::string> key = PrimaryKeyFields(firstDef);
  if (key.empty()) key = PrimaryKeyFields(secondDef);
  std::vector<std::int16_t> firstKey;
  std::vector<std::int16_t> secondKey;
  for (const std::string& name : key) {
    firstKey.push_back(static_cast<std::int16_t>(firstDef.FieldPosition(name)));
    secondKey.push_back(static_cast<std::int16_t>(secondDef.FieldPosition(name)));
  }

  Scratch scratch;
  scratch.Exec("BEGIN");
  Load(first, firstDef.Name(), firstFields, firstKey, 0, scratch, progress);
  Load(second, secondDef.Name(), secondFields, secondKey, 1, scratch, progress);
  scratch.Exec("COMMIT");

  RowDifferences differences;
  Tally tally(differences);
  sqlite3_stmt* sorted = nullptr;
  if (sqlite3_prepare_v2(scratch.Handle(), "SELECT k, l, side FROM lines ORDER BY k, l", -1, &sorted, nullptr) !=
      SQLITE_OK) {
    scratch.Fail();
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(sorted, sqlite3_finalize);
  int rc;
  while ((rc = sqlite3_step(sorted)) == SQLITE_ROW) {
    tally.Line(Column(sorted, 0), Column(sorted, 1), sqlite3_column_int(sorted, 2));
  }
  if (rc != SQLITE_DONE) scratch.Fail(rc);
  tally.End();
  return differences;
}
