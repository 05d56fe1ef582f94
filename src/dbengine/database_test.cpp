// SPDX-License-Identifier: Apache-2.0
// Tests of the engine through its public handle: opening files, the dialect's
// statements and their error numbers, values both ways, recordsets, table
// definitions, primary keys and what the file holds once closed. Every test
// works on SQLite files in a folder of its own.
#include "dbengine/dbengine.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/print_value.h"


namespace {

using namespace dbengine;
namespace fs = std::filesystem;

// A folder of its own for one test, removed with all it holds.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "dbengine-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string Path() const { return path_.string(); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(path_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

 private:
  fs::path path_;
};

// What `action` threw: "EngineError 3022", "RuntimeError 91", or "no error".
std::string Outcome(const std::function<void()>& action) {
  try {
    action();
  } catch (const EngineError& error) {
    return "EngineError " + std::to_string(error.Number());
  } catch (const RuntimeError& error) {
    return "RuntimeError " + std::to_string(error.Number());
  } catch (const std::exception& error) {
    return std::string("other exception: ") + error.what();
  }
  return "no error";
}

std::string Engine(int number) { return "EngineError " + std::to_string(number); }

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

// The rows left in `rows`, one string each: fields in the French text forms
// joined by "|", a Null shown as "Null".
std::vector<std::string> RowsOf(Recordset& rows) {
  std::vector<std::string> lines;
  while (!rows.IsEOF()) {
    std::string line;
    for (std::int16_t position = 0; position < rows.FieldCount(); ++position) {
      if (position > 0) line += '|';
      const Value& value = rows.FieldValue(position);
      if (value.isNull) {
        line += "Null";
      } else {
        AppendValueText(value, line);
      }
    }
    lines.push_back(std::move(line));
    rows.MoveNext();
  }
  return lines;
}

std::vector<std::string> Select(Database& database, const std::string& statement) {
  Recordset rows = database.OpenRecordset(statement);
  return RowsOf(rows);
}

std::vector<std::string> AllRows(Database& database, const std::string& table) {
  Recordset rows = database.OpenRecordset(table, RecordsetType::kTable);
  return RowsOf(rows);
}

// The values of the last row of `table`.
std::vector<Value> LastRow(Database& database, const std::string& table) {
  Recordset rows = database.OpenRecordset(table, RecordsetType::kTable);
  std::vector<Value> last;
  while (!rows.IsEOF()) {
    last.clear();
    for (std::int16_t position = 0; position < rows.FieldCount(); ++position) last.push_back(rows.FieldValue(position));
    rows.MoveNext();
  }
  return last;
}

// "name:primary/unique:field,field" for each index of `table`.
std::vector<std::string> IndexesOf(Database& database, const std::string& table) {
  const TableDef def = database.TableDefs(table);
  std::vector<std::string> indexes;
  for (std::int16_t position = 0; position < def.IndexCount(); ++position) {
    const IndexDef& index = def.Indexes(position);
    std::string line = index.name + ":" + (index.primary ? "P" : "-") + (index.unique ? "U" : "-") + ":";
    for (const std::string& field : index.fields) line += (&field == &index.fields.front() ? "" : ",") + field;
    indexes.push_back(std::move(line));
  }
  return indexes;
}

// Everything a statement could change: tables, their rows and indexes.
std::string Snapshot(Database& database) {
  std::string snapshot;
  for (const std::string& table : database.TableNames()) {
    snapshot += "table " + table + "\n";
    for (const std::string& index : IndexesOf(database, table)) snapshot += "  index " + index + "\n";
    for (const std::string& row : AllRows(database, table)) snapshot += "  row " + row + "\n";
  }
  return snapshot;
}

class DatabaseTest : public ::testing::Test {
 protected:
  // Creates an empty database in the test's folder and opens it in `database`.
  std::string CreateAndOpen(Database& database, const std::string& name = "base.mdb") {
    const std::string path = folder_.File(name);
    Database::Create(path);
    database.Open(path);
    return path;
  }

  TempFolder folder_;
};

// ---------------------------------------------------------------------------
// Opening and creating files.

TEST_F(DatabaseTest, OpenRefusesMissingPathsAndCreatesNothing) {
  Database database;
  EXPECT_EQ(Outcome([&] { database.Open(folder_.File("missing.mdb")); }), Engine(3024));
  EXPECT_EQ(Outcome([&] { database.Open(folder_.File("no folder/base.mdb")); }), Engine(3044));
  EXPECT_EQ(Outcome([&] { database.Open(folder_.File("missing.mdb/base.mdb")); }), Engine(3044));
  EXPECT_EQ(Outcome([&] { database.Open(""); }), Engine(3024));
  EXPECT_TRUE(folder_.Entries().empty());
  EXPECT_FALSE(database.IsOpen());
  // The handle stays unset after a failed Open.
  EXPECT_EQ(Outcome([&] { database.Execute("DELETE FROM t"); }), "RuntimeError 91");
}

TEST_F(DatabaseTest, OpenRefusesWhatIsNotADatabaseAndLeavesItAsItWas) {
  fs::create_directory(folder_.File("folder.mdb"));
  std::string damaged("SQLite format 3", 16);
  damaged += RandomBytes(4080, 7);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"text.mdb", "Ceci n'est pas une base de données.\nLigne 2\n"},
      {"empty.mdb", ""},
      {"random.mdb", RandomBytes(8192, 1)},
      {"header-only.mdb", std::string("SQLite format 3", 15)},
      {"damaged.mdb", damaged},
  };
  for (const auto& [name, bytes] : files) WriteBytes(folder_.File(name), bytes);

  Database database;
  EXPECT_EQ(Outcome([&] { database.Open(folder_.Path()); }), Engine(3343));
  EXPECT_EQ(Outcome([&] { database.Open(folder_.File("folder.mdb")); }), Engine(3343));
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Outcome([&] { database.Open(folder_.File(name)); }), Engine(3343));
    EXPECT_FALSE(database.IsOpen());
    EXPECT_EQ(ReadBytes(folder_.File(name)), bytes);
  }
  // No journal or companion file was left beside them.
  std::set<std::string> expected = {"folder.mdb"};
  for (const auto& entry : files) expected.insert(entry.first);
  EXPECT_EQ(folder_.Entries(), expected);
}

TEST_F(DatabaseTest, CreateMakesAnEmptyDatabaseAndRefusesAnExistingFile) {
  const std::string path = folder_.File("new.mdb");
  Database::Create(path);
  {
    Database database;
    database.Open(path);
    EXPECT_TRUE(database.IsOpen());
    EXPECT_EQ(database.Path(), path);
    EXPECT_TRUE(database.TableNames().empty());
    database.Close();
  }
  const std::string created = ReadBytes(path);
  EXPECT_EQ(Outcome([&] { Database::Create(path); }), Engine(3204));
  EXPECT_EQ(ReadBytes(path), created);

  const std::string text = folder_.File("text.mdb");
  WriteBytes(text, "du texte");
  EXPECT_EQ(Outcome([&] { Database::Create(text); }), Engine(3204));
  EXPECT_EQ(ReadBytes(text), "du texte");

  EXPECT_EQ(Outcome([&] { Database::Create(folder_.File("missing/base.mdb")); }), Engine(3044));

  // A link, even one to nothing yet, is not followed to make a database elsewhere.
  fs::create_directory(folder_.File("elsewhere"));
  fs::create_symlink("elsewhere/x.mdb", folder_.File("link.mdb"));
  EXPECT_EQ(Outcome([&] { Database::Create(folder_.File("link.mdb")); }), Engine(3204));
  EXPECT_TRUE(fs::is_empty(folder_.File("elsewhere")));
  EXPECT_EQ(folder_.Entries(), (std::set<std::string>{"elsewhere", "link.mdb", "new.mdb", "text.mdb"}));
}

TEST_F(DatabaseTest, ReadOnlyFileOpensForReadingAndRefusesWrites) {
  Database database;
  const std::string path = CreateAndOpen(database);
  database.Execute("CREATE TABLE T (a LONG, b TEXT(10))");
  database.Execute("INSERT INTO T values(1, 'un')");
  database.Close();
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  // The folder may be written by anyone: only the file's own bits refuse.
  ASSERT_EQ(::chmod(folder_.Path().c_str(), 0777), 0);
  const std::string before = ReadBytes(path);

  // Checked in a child that is not the superuser, whom permission bits do
  // not bind; it reports every difference from what is expected.
  const testsupport::ChildResult child = testsupport::RunInChild([&]() -> std::string {
    if (std::string why = testsupport::DropPrivileges(); !why.empty()) return why;
    std::string report;
    const auto expect = [&](const std::string& what, const std::string& actual,
                            const std::string& expected) {
      if (actual != expected) report += what + ": " + actual + " rather than " + expected + "\n";
    };
    const auto rows = [](Database& handle) {
      std::string joined;
      for (const std::string& row : AllRows(handle, "T")) joined += row + ";";
      return joined;
    };
    Database readOnly;
    readOnly.Open(path);
    expect("rows", rows(readOnly), "1|un;");
    expect("INSERT", Outcome([&] { readOnly.Execute("INSERT INTO T values(2, 'deux')"); }), Engine(3027));
    expect("DELETE", Outcome([&] { readOnly.Execute("DELETE FROM T"); }), Engine(3027));
    expect("CREATE", Outcome([&] { readOnly.Execute("CREATE TABLE U (a LONG)"); }), Engine(3027));
    expect("ALTER",
           Outcome([&] { readOnly.Execute("ALTER TABLE T ADD CONSTRAINT PrimaryKey PRIMARY KEY (a)"); }),
           Engine(3027));
    Recordset table = readOnly.OpenRecordset("T", RecordsetType::kTable);
    expect("AddNew", Outcome([&] { table.AddNew(); }), Engine(3027));
    expect("Update", Outcome([&] { table.Update(); }), Engine(3027));
    expect("rows after", rows(readOnly), "1|un;");
    readOnly.Close();
    return report;
  });
  EXPECT_EQ(child.report, "");
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(folder_.Entries(), std::set<std::string>{"base.mdb"});
}

// ---------------------------------------------------------------------------
// Handles never opened or closed.

TEST(DatabaseHandleTest, NeverOpenedHandleFailsWith91) {
  Database database;
  EXPECT_FALSE(database.IsOpen());
  const std::vector<std::function<void()>> actions = {
      [&] { database.Execute("DELETE FROM t"); },
      [&] { database.OpenRecordset("SELECT * FROM t"); },
      [&] { database.OpenRecordset("t", RecordsetType::kTable); },
      [&] { database.TableDefs("t"); },
      [&] { database.TableNames(); },
      [&] { database.Close(); },
  };
  for (std::size_t index = 0; index < actions.size(); ++index) {
    EXPECT_EQ(Outcome(actions[index]), "RuntimeError 91") << "action " << index;
  }
}

TEST_F(DatabaseTest, ClosedHandleFailsWith3420) {
  Database database;
  CreateAndOpen(database);
  database.Execute("CREATE TABLE t (a LONG)");
  database.Close();
  EXPECT_FALSE(database.IsOpen());
  const std::vector<std::function<void()>> actions = {
      [&] { database.Execute("DELETE FROM t"); },
      [&] { database.OpenRecordset("SELECT * FROM t"); },
      [&] { database.OpenRecordset("t", RecordsetType::kTable); },
      [&] { database.TableDefs("t"); },
      [&] { database.TableNames(); },
      [&] { database.Close(); },
      [&] { database.Close(); },
  };
  for (std::size_t index = 0; index < actions.size(); ++index) {
    EXPECT_EQ(Outcome(actions[index]), Engine(3420)) << "action " << index;
  }
}

// Every call on `rows` fails with 3420.
void ExpectDeadRecordset(Recordset& rows) {
  const std::vector<std::function<void()>> actions = {
      [&] { rows.IsEOF(); },
      [&] { rows.IsBOF(); },
      [&] { rows.MoveNext(); },
      [&] { rows.FieldCount(); },
      [&] { rows.Field(0); },
      [&] { rows.FieldValue(0); },
      [&] { rows.AddNew(); },
      [&] { rows.SetFieldValue(0, "1"); },
      [&] { rows.Update(); },
  };
  for (std::size_t index = 0; index < actions.size(); ++index) {
    EXPECT_EQ(Outcome(actions[index]), Engine(3420)) << "action " << index;
  }
}

TEST_F(DatabaseTest, RecordsetsOfAClosedDatabaseFailWith3420) {
  Database database;
  CreateAndOpen(database);
  database.Execute("CREATE TABLE t (a LONG)");
  database.Execute("INSERT INTO t values(1)");
  database.Execute("INSERT INTO t values(2)");
  Recordset table = database.OpenRecordset("t", RecordsetType::kTable);
  Recordset adding = database.OpenRecordset("t", RecordsetType::kTable);
  adding.AddNew();
  adding.SetFieldValue(0, "3");
  Recordset middle = database.OpenRecordset("SELECT * FROM t ORDER BY a");
  middle.MoveNext();
  Recordset empty = database.OpenRecordset("SELECT * FROM t WHERE a=5");
  database.Close();
  for (Recordset* rows : {&table, &adding, &middle, &empty}) ExpectDeadRecordset(*rows);
  // The row being added when the database closed was not stored.
  database.Open(folder_.File("base.mdb"));
  EXPECT_EQ(AllRows(database, "t"), (std::vector<std::string>{"1", "2"}));
}

TEST_F(DatabaseTest, DestroyedHandleCommitsAndEndsItsRecordsets) {
  std::optional<Recordset> rows;
  {
    Database database;
    CreateAndOpen(database);
    database.Execute("CREATE TABLE t (a LONG)");
    database.Execute("INSERT INTO t values(1)");
    rows.emplace(database.OpenRecordset("t", RecordsetType::kTable));
  }  // destroyed without Close
  ExpectDeadRecordset(*rows);
  EXPECT_EQ(folder_.Entries(), std::set<std::string>{"base.mdb"});
  Database again;
  again.Open(folder_.File("base.mdb"));
  EXPECT_EQ(AllRows(again, "t"), std::vector<std::string>{"1"});
}

TEST_F(DatabaseTest, HandleReplacedByMoveCommitsAndEndsItsRecordsets) {
  Database database;
  CreateAndOpen(database);
  database.Execute("CREATE TABLE t (a LONG)");
  database.Execute("INSERT INTO t values(1)");
  Recordset rows = database.OpenRecordset("SELECT * FROM t");
  database = Database();
  ExpectDeadRecordset(rows);
  EXPECT_EQ(Outcome([&] { database.TableNames(); }), "RuntimeError 91");
  Database again;
  again.Open(folder_.File("base.mdb"));
  EXPECT_EQ(AllRows(again, "t"), std::vector<std::string>{"1"});
}

// ---------------------------------------------------------------------------
// The dialect.

constexpr const char* kSchema[] = {
    "CREATE TABLE T (a TEXT(10), b LONG, c BIT, d DOUBLE, e CURRENCY, f DATETIME, g BYTE, h SHORT)",
    "CREATE TABLE K (id LONG, name TEXT(10) NOT NULL, CONSTRAINT PrimaryKey PRIMARY KEY (id))",
    "CREATE TABLE [Order Details] ([Order ID] LONG, [Unit Price] CURRENCY)",
    "CREATE TABLE Umsätze (Betrag DOUBLE, Währung TEXT(3))",
};

TEST_F(DatabaseTest, StatementsThatSucceed) {
  Database database;
  CreateAndOpen(database);
  const char* const statements[] = {
      "INSERT INTO [T] values('x', 1, True, 12.5, 12.5, '15/03/2024 10:30:00', 255, -32768)",
      "insert into t values('y', -5, False, '12,5', '12,5', '15/03/2024', 0, 32767);",
      "InSeRt InTo T (a, [B]) VaLuEs('z', 7)",
      "INSERT INTO T ([c], d, e) values(-1, 1e3, -0.0001)",
      "INSERT INTO T (c, h) values(0, '-1')",
      "INSERT INTO T values(Null, Null, Null, Null, Null, Null, Null, Null)",
      "INSERT INTO T (a) values('l''été')",
      "INSERT INTO T (a, b) values('éééééééééé', '  42 ')",
      "INSERT INTO T (a, b, d) values('', '', '')",
      "INSERT INTO T (a, c) values('x', 'Vrai')",
      "INSERT INTO K values(1, 'un')",
      "INSERT INTO K (name, id) values('deux', 2)",
      "INSERT INTO [Order Details] values(1, '3,5')",
      "INSERT INTO [order details] ([Order ID], [Unit Price]) values(2, 4)",
      "INSERT INTO Umsätze values(1.25, 'EUR')",
      "INSERT INTO [Umsätze] (Währung) values('USD')",
      "DELETE * FROM [Order Details] WHERE [Order ID]=1",
      "DELETE FROM T WHERE [a]='x' AND [b]=1",
      "delete from t where a='personne'",
      "DELETE FROM T WHERE b=Null",
      "CREATE TABLE Extra (x LONG)",
      "INSERT INTO Extra values(1)",
      "DELETE * FROM Extra",
      "DROP TABLE Extra",
      "CREATE INDEX ByB ON T (b)",
      "DROP INDEX ByB ON T",
      "CREATE UNIQUE INDEX ById ON [Order Details] ([Order ID])",
  };
  for (const char* statement : kSchema) database.Execute(statement);
  for (const char* statement : statements) {
    EXPECT_EQ(Outcome([&] { database.Execute(statement); }), "no error") << statement;
  }
  EXPECT_EQ(AllRows(database, "T"), (std::vector<std::string>{
                                        "y|-5|Faux|12,5|12,5|15/03/2024|0|32767",
                                        "z|7|Null|Null|Null|Null|Null|Null",
                                        "Null|Null|Vrai|1000|-0,0001|Null|Null|Null",
                                        "Null|Null|Faux|Null|Null|Null|Null|-1",
                                        "Null|Null|Null|Null|Null|Null|Null|Null",
                                        "l'été|Null|Null|Null|Null|Null|Null|Null",
                                        "éééééééééé|42|Null|Null|Null|Null|Null|Null",
                                        "|Null|Null|Null|Null|Null|Null|Null",
                                        "x|Null|Vrai|Null|Null|Null|Null|Null",
                                    }));
  EXPECT_EQ(AllRows(database, "K"), (std::vector<std::string>{"1|un", "2|deux"}));
  EXPECT_EQ(AllRows(database, "Order Details"), std::vector<std::string>{"2|4"});
  EXPECT_EQ(AllRows(database, "Umsätze"), (std::vector<std::string>{"1,25|EUR", "Null|USD"}));
  EXPECT_EQ(database.TableNames(), (std::vector<std::string>{"T", "K", "Order Details", "Umsätze"}));
  EXPECT_EQ(IndexesOf(database, "T"), std::vector<std::string>{});
  EXPECT_EQ(IndexesOf(database, "Order Details"), std::vector<std::string>{"ById:-U:Order ID"});
}

TEST_F(DatabaseTest, SelectStatements) {
  Database database;
  CreateAndOpen(database);
  for (const char* statement : kSchema) database.Execute(statement);
  database.Execute("INSERT INTO T (a, b, c) values('b', 2, True)");
  database.Execute("INSERT INTO T (a, b, c) values('a', 3, False)");
  database.Execute("INSERT INTO T (a, b, c) values('c', 1, True)");
  database.Execute("INSERT INTO T (a, b, c) values(Null, 2, False)");
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"SELECT * FROM T", {"b|2|Vrai", "a|3|Faux", "c|1|Vrai", "Null|2|Faux"}},
      {"select * from [t];", {"b|2|Vrai", "a|3|Faux", "c|1|Vrai", "Null|2|Faux"}},
      {"SELECT * FROM T WHERE b=2", {"b|2|Vrai", "Null|2|Faux"}},
      {"SELECT * FROM T WHERE [b]='2' AND c=True", {"b|2|Vrai"}},
      {"SELECT * FROM T WHERE c=-1 ORDER BY a", {"b|2|Vrai", "c|1|Vrai"}},
      {"SELECT * FROM T WHERE a=Null", {}},
      {"SELECT * FROM T WHERE a='personne'", {}},
      {"SELECT * FROM T ORDER BY b, [A]", {"c|1|Vrai", "Null|2|Faux", "b|2|Vrai", "a|3|Faux"}},
      {"SELECT * FROM T ORDER BY a", {"Null|2|Faux", "a|3|Faux", "b|2|Vrai", "c|1|Vrai"}},
  };
  for (const auto& [statement, rows] : cases) {
    SCOPED_TRACE(statement);
    std::vector<std::string> shown;
    for (const std::string& row : Select(database, statement)) shown.push_back(row.substr(0, row.find("|Null|Null")));
    EXPECT_EQ(shown, rows);
  }
  EXPECT_EQ(Outcome([&] { database.OpenRecordset("SELECT * FROM Missing"); }), Engine(3078));
  EXPECT_EQ(Outcome([&] { database.OpenRecordset("Missing", RecordsetType::kTable); }), Engine(3078));
  EXPECT_EQ(Outcome([&] { database.OpenRecordset("SELECT * FROM T WHERE b='abc'"); }), Engine(3464));
  EXPECT_EQ(Outcome([&] { database.OpenRecordset("SELECT * FROM T WHERE b=1 2"); }), Engine(3075));
  EXPECT_EQ(Outcome([&] { database.OpenRecordset("SELECT * FROM T; SELECT * FROM T"); }), Engine(3142));
}

TEST_F(DatabaseTest, StatementsThatFailChangeNothing) {
  Database database;
  CreateAndOpen(database);
  for (const char* statement : kSchema) database.Execute(statement);
  database.Execute("INSERT INTO T values('x', 5, True, 1.5, 2, '01/02/2024', 3, 4)");
  database.Execute("INSERT INTO K values(1, 'un')");
  database.Execute("INSERT INTO [Order Details] values(1, 2)");
  database.Execute("CREATE TABLE Loose (a LONG, b TEXT(5))");
  database.Execute("INSERT INTO Loose values(1, 'x')");
  database.Execute("INSERT INTO Loose values(1, Null)");
  const std::vector<std::pair<std::string, int>> cases = {
      {"INSERT INTO T (a) values('abc)", 3075},
      {"INSERT INTO T (b) values(5')", 3075},
      {"INSERT INTO T (a) values('a' 'b')", 3075},
      {"INSERT INTO T (b) values(5 6)", 3075},
      {"INSERT INTO T (b) values(5+6)", 3075},
      {"INSERT INTO T (a, b, c) values(1,,2)", 3075},
      {"INSERT INTO T (b) values(cinq)", 3075},
      {"DELETE FROM T WHERE b=5 6", 3075},
      {"DELETE FROM T WHERE a='x", 3075},
      {"INSERT [T] values(1)", 3134},
      {"INSERT INTO T (a) ('x')", 3134},
      {"INSERT INTO T", 3134},
      {"UPDATE T SET b=1", 3129},
      {"", 3129},
      {"DELETE FROM T; DELETE FROM T", 3142},
      {"SELECT * FROM T", 3065},
      {"select * from Missing", 3065},
      {"INSERT INTO Missing values(1)", 3078},
      {"DELETE FROM Missing", 3078},
      {"DELETE * FROM [T ]", 3078},
      {"DROP TABLE Missing", 3078},
      {"ALTER TABLE Missing DROP CONSTRAINT PrimaryKey", 3078},
      {"ALTER TABLE Missing ADD CONSTRAINT PrimaryKey PRIMARY KEY (a)", 3078},
      {"CREATE INDEX ix ON Missing (a)", 3078},
      {"INSERT INTO T (zz) values(1)", 3127},
      {"INSERT INTO T (a, zz) values('y', 1)", 3127},
      {"INSERT INTO T values(1)", 3346},
      {"INSERT INTO T values('x', 5, True, 1.5, 2, '01/02/2024', 3, 4, 5)", 3346},
      {"INSERT INTO T (a, b) values('x')", 3346},
      {"INSERT INTO T (a) values('x', 1)", 3346},
      {"INSERT INTO T (b) values('abc')", 3464},
      {"INSERT INTO T (b) values('12.5')", 3464},
      {"INSERT INTO T (d) values('1 000')", 3464},
      {"INSERT INTO T (e) values('12.5')", 3464},
      {"INSERT INTO T (f) values('32/01/2024')", 3464},
      {"INSERT INTO T (f) values('demain')", 3464},
      {"INSERT INTO T (c) values('peut-être')", 3464},
      {"DELETE FROM T WHERE b='abc'", 3464},
      {"INSERT INTO T (g) values(300)", 3349},
      {"INSERT INTO T (g) values(-1)", 3349},
      {"INSERT INTO T (h) values('40000')", 3349},
      {"INSERT INTO T (h) values(-32769)", 3349},
      {"INSERT INTO T (b) values(2147483648)", 3349},
      {"INSERT INTO T (a) values('abcdefghijk')", 3163},
      {"INSERT INTO T (a) values('ééééééééééé')", 3163},
      {"INSERT INTO T (a) values(12345678901)", 3163},
      {"INSERT INTO K values(1, 'encore')", 3022},
      {"INSERT INTO K (name, id) values('encore', '1')", 3022},
      {"INSERT INTO K (name) values('sans clé')", 3058},
      {"INSERT INTO K values(Null, 'sans clé')", 3058},
      {"INSERT INTO K (id) values(9)", 3314},
      {"INSERT INTO K values(9, Null)", 3314},
      {"CREATE UNIQUE INDEX ById ON [Order Details] ([Order ID])", 0},  // made here for the next case
      {"INSERT INTO [Order Details] values(1, 3)", 3022},
      {"CREATE TABLE T (x LONG)", 3010},
      {"CREATE TABLE t (x LONG)", 3010},
      {"CREATE TABLE [order details] (x LONG)", 3010},
      {"CREATE TABLE New (x LONG, CONSTRAINT PrimaryKey PRIMARY KEY (y))", 3264},
      {"CREATE TABLE New (x LONG, X TEXT(5))", 3191},
      {"ALTER TABLE K ADD CONSTRAINT Second PRIMARY KEY (name)", 3283},
      {"CREATE UNIQUE INDEX Other ON K (name) WITH PRIMARY", 3283},
      {"ALTER TABLE K ADD CONSTRAINT PrimaryKey UNIQUE (name)", 3375},
      {"ALTER TABLE Loose ADD CONSTRAINT PrimaryKey PRIMARY KEY (a)", 3022},
      {"ALTER TABLE Loose ADD CONSTRAINT PrimaryKey PRIMARY KEY (b)", 3058},
      {"CREATE UNIQUE INDEX Single ON Loose (a)", 3022},
      {"ALTER TABLE K DROP CONSTRAINT Missing", 3371},
      {"ALTER TABLE T DROP CONSTRAINT PrimaryKey", 3371},
      {"DROP INDEX Missing ON K", 3371},
  };
  for (const auto& [statement, number] : cases) {
    SCOPED_TRACE(statement);
    const std::string before = Snapshot(database);
    const std::string outcome = Outcome([&] { database.Execute(statement); });
    if (number == 0) {
      EXPECT_EQ(outcome, "no error");
      continue;
    }
    EXPECT_EQ(outcome, Engine(number));
    EXPECT_EQ(Snapshot(database), before);
  }
  // What the failures left is also what the file holds.
  const std::string last = Snapshot(database);
  database.Close();
  database.Open(folder_.File("base.mdb"));
  EXPECT_EQ(Snapshot(database), last);
}

TEST_F(DatabaseTest, AFailingStatementUndoesOnlyItself) {
  Database database;
  const std::string path = CreateAndOpen(database);
  database.Execute("CREATE TABLE K (id LONG, CONSTRAINT PrimaryKey PRIMARY KEY (id))");
  database.Execute("CREATE TABLE D (x LONG)");
  database.Execute("INSERT INTO K values(1)");
  database.Execute("INSERT INTO D values(1)");
  database.Execute("INSERT INTO D values(1)");
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO K values(1)"); }), Engine(3022));
  EXPECT_EQ(Outcome([&] { database.Execute("ALTER TABLE D ADD CONSTRAINT PrimaryKey PRIMARY KEY (x)"); }),
            Engine(3022));
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO K values(Null)"); }), Engine(3058));
  database.Execute("INSERT INTO K values(2)");
  database.Close();
  database.Open(path);
  EXPECT_EQ(AllRows(database, "K"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(AllRows(database, "D"), (std::vector<std::string>{"1", "1"}));
  EXPECT_EQ(IndexesOf(database, "D"), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------
// Values both ways.

struct ValueCase {
  const char* column;
  const char* literal;  // as written in an INSERT statement
  Value value;          // as read back
  const char* text;     // its French text form
};

std::vector<ValueCase> ValueCases() {
  const std::int64_t kMinCurrency = std::numeric_limits<std::int64_t>::min();
  return {
      {"bo", "True", Value::Integer(kBoolean, 1), "Vrai"},
      {"bo", "False", Value::Integer(kBoolean, 0), "Faux"},
      {"bo", "-1", Value::Integer(kBoolean, 1), "Vrai"},
      {"bo", "0", Value::Integer(kBoolean, 0), "Faux"},
      {"bo", "'vrai'", Value::Integer(kBoolean, 1), "Vrai"},
      {"bo", "'Faux'", Value::Integer(kBoolean, 0), "Faux"},
      {"by", "255", Value::Integer(kByte, 255), "255"},
      {"by", "'0'", Value::Integer(kByte, 0), "0"},
      {"by", "12.5", Value::Integer(kByte, 12), "12"},
      {"sh", "-32768", Value::Integer(kInteger, -32768), "-32768"},
      {"sh", "'32767'", Value::Integer(kInteger, 32767), "32767"},
      {"lo", "2147483647", Value::Integer(kLong, 2147483647), "2147483647"},
      {"lo", "'-2147483648'", Value::Integer(kLong, -2147483648LL), "-2147483648"},
      {"lo", "' 42 '", Value::Integer(kLong, 42), "42"},
      {"cu", "12.5", Value::Integer(kCurrency, 125000), "12,5"},
      {"cu", "'12,5'", Value::Integer(kCurrency, 125000), "12,5"},
      {"cu", "-0.0001", Value::Integer(kCurrency, -1), "-0,0001"},
      {"cu", "'-922337203685477,5808'", Value::Integer(kCurrency, kMinCurrency), "-922337203685477,5808"},
      {"si", "0.1", Value::Real(kSingle, 0.1f), "0,1"},
      {"si", "'1,5E+20'", Value::Real(kSingle, 1.5e20f), "1,5E+20"},
      {"do", "12.5", Value::Real(kDouble, 12.5), "12,5"},
      {"do", "'0,1'", Value::Real(kDouble, 0.1), "0,1"},
      {"do", "1e300", Value::Real(kDouble, 1e300), "1E+300"},
      {"do", "-2.5E-3", Value::Real(kDouble, -0.0025), "-0,0025"},
      {"do", "'3'", Value::Real(kDouble, 3), "3"},
      {"da", "'15/03/2024 10:30:00'", Value::Real(kDate, DateSerial(2024, 3, 15, 10, 30, 0)), "15/03/2024 10:30:00"},
      {"da", "'15/03/2024'", Value::Real(kDate, DateSerial(2024, 3, 15)), "15/03/2024"},
      {"da", "'10:30:00'", Value::Real(kDate, DateSerial(1899, 12, 30, 10, 30, 0)), "10:30:00"},
      {"da", "45366.4375", Value::Real(kDate, DateSerial(2024, 3, 15, 10, 30, 0)), "15/03/2024 10:30:00"},
      {"bi", "'DEADBEEF'", Value::Text(kBinary, "\xDE\xAD\xBE\xEF"), "DEADBEEF"},
      {"te", "'texte'", Value::Text(kText, "texte"), "texte"},
      {"te", "'0123'", Value::Text(kText, "0123"), "0123"},
      {"te", "'1e5'", Value::Text(kText, "1e5"), "1e5"},
      {"te", "''", Value::Text(kText, ""), ""},
      {"lb", "'00FF'", Value::Text(kLongBinary, std::string("\0\xFF", 2)), "00FF"},
      {"me", "'0123'", Value::Text(kMemo, "0123"), "0123"},
      {"me", "'l''été ; « 12,5 »'", Value::Text(kMemo, "l'été ; « 12,5 »"), "l'été ; « 12,5 »"},
      {"gu", "'{12345678-9ABC-DEF0-1234-56789ABCDEF0}'",
       Value::Text(kGuid, "{12345678-9ABC-DEF0-1234-56789ABCDEF0}"), "{12345678-9ABC-DEF0-1234-56789ABCDEF0}"},
      {"gu", "'12345678-9abc-def0-1234-56789abcdef0'",
       Value::Text(kGuid, "{12345678-9ABC-DEF0-1234-56789ABCDEF0}"), "{12345678-9ABC-DEF0-1234-56789ABCDEF0}"},
      {"lo", "''", Value::Null(kLong), ""},
      {"da", "''", Value::Null(kDate), ""},
      {"bo", "Null", Value::Null(kBoolean), ""},
  };
}

constexpr char kValueTable[] =
    "CREATE TABLE V (bo BIT, by BYTE, sh SHORT, lo LONG, cu CURRENCY, si SINGLE, do DOUBLE, da DATETIME, "
    "bi BINARY(4), te TEXT(20), lb LONGBINARY, me MEMO, gu GUID)";

TEST_F(DatabaseTest, EveryTypeThroughStatementsAndRecordsets) {
  Database database;
  const std::string path = CreateAndOpen(database);
  database.Execute(kValueTable);
  const TableDef def = database.TableDefs("V");
  const std::vector<ValueCase> cases = ValueCases();
  // One row per case, holding only that value.
  for (const ValueCase& entry : cases) {
    database.Execute(std::string("INSERT INTO V (") + entry.column + ") values(" + entry.literal + ")");
  }
  auto check = [&](const std::string& when) {
    Recordset rows = database.OpenRecordset("V", RecordsetType::kTable);
    for (const ValueCase& entry : cases) {
      SCOPED_TRACE(when + ": " + entry.column + " = " + entry.literal);
      ASSERT_FALSE(rows.IsEOF());
      const int position = def.FieldPosition(entry.column);
      for (std::int16_t other = 0; other < rows.FieldCount(); ++other) {
        const Value& value = rows.FieldValue(other);
        EXPECT_EQ(value.type, def.Fields(other).type);
        if (other == position) {
          EXPECT_EQ(value, entry.value);
          EXPECT_EQ(ValueToText(value), entry.text);
        } else {
          EXPECT_TRUE(value.isNull);
        }
      }
      rows.MoveNext();
    }
    EXPECT_TRUE(rows.IsEOF());
  };
  check("after the statements");
  database.Close();
  database.Open(path);
  check("after reopening");

  // The text forms read back through a table recordset give the same values.
  Recordset table = database.OpenRecordset("V", RecordsetType::kTable);
  for (const ValueCase& entry : cases) {
    SCOPED_TRACE(std::string("recordset: ") + entry.column + " = '" + entry.text + "'");
    const auto position = static_cast<std::int16_t>(def.FieldPosition(entry.column));
    table.AddNew();
    table.SetFieldValue(position, entry.text);
    table.Update();
    const std::vector<Value> last = LastRow(database, "V");
    ASSERT_EQ(last.size(), static_cast<std::size_t>(def.FieldCount()));
    // An empty text is Null for typed fields and stays empty for Text.
    EXPECT_EQ(last[static_cast<std::size_t>(position)], entry.value);
  }
}

TEST_F(DatabaseTest, TableRecordsetAddsRowsFromFrenchStrings) {
  Database database;
  CreateAndOpen(database);
  database.Execute(
      "CREATE TABLE P (id LONG NOT NULL, name TEXT(10) NOT NULL, amount CURRENCY, ok BIT, day DATETIME, "
      "small BYTE, CONSTRAINT PrimaryKey PRIMARY KEY (id))");
  Recordset table = database.OpenRecordset("p", RecordsetType::kTable);
  table.AddNew();
  table.SetFieldValue(0, "1");
  table.SetFieldValue(1, "un");
  table.SetFieldValue(2, "12,5");
  table.SetFieldValue(3, "Vrai");
  table.SetFieldValue(4, "15/03/2024");
  table.Update();
  EXPECT_EQ(AllRows(database, "P"), std::vector<std::string>{"1|un|12,5|Vrai|15/03/2024|Null"});

  // A string that cannot be stored leaves the field as it was.
  table.AddNew();
  table.SetFieldValue(0, "2");
  table.SetFieldValue(1, "éééééééééé");  // ten characters fit in TEXT(10)
  table.SetFieldValue(2, " -3 ");
  table.SetFieldValue(3, "0");
  table.SetFieldValue(5, "7");
  const std::vector<std::tuple<std::int16_t, std::string, int>> bad = {
      {0, "abc", 3421},       {0, "1.5", 3421},        {2, "12.5", 3421},      {2, "1 000,5", 3421},
      {3, "peut-être", 3421}, {4, "32/13/2024", 3421}, {4, "2024-03-15", 3421}, {5, "300", 3349},
      {5, "-1", 3349},        {0, "2147483648", 3349}, {1, "onze lettre", 3163}, {1, "ééééééééééé", 3163},
      {6, "1", 3265},         {-1, "1", 3265},
  };
  for (const auto& [position, text, number] : bad) {
    EXPECT_EQ(Outcome([&] { table.SetFieldValue(position, text); }), Engine(number)) << position << " " << text;
  }
  table.Update();
  EXPECT_EQ(AllRows(database, "P"),
            (std::vector<std::string>{"1|un|12,5|Vrai|15/03/2024|Null", "2|éééééééééé|-3|Faux|Null|7"}));

  // Update checks the row as an INSERT does.
  const std::vector<std::tuple<std::string, std::string, int>> refused = {
      {"1", "doublon", 3022},
      {"", "sans clé", 3058},
      {"3", "", 0},  // an empty text is a zero-length text, not Null
  };
  for (const auto& [id, name, number] : refused) {
    table.AddNew();
    table.SetFieldValue(0, id);
    table.SetFieldValue(1, name);
    EXPECT_EQ(Outcome([&] { table.Update(); }), number == 0 ? "no error" : Engine(number)) << id << " " << name;
  }
  table.AddNew();
  table.SetFieldValue(0, "4");
  EXPECT_EQ(Outcome([&] { table.Update(); }), Engine(3314));
  EXPECT_EQ(AllRows(database, "P").size(), 3u);

  // Update and SetFieldValue need AddNew.
  EXPECT_EQ(Outcome([&] { table.Update(); }), Engine(3020));
  Recordset fresh = database.OpenRecordset("P", RecordsetType::kTable);
  EXPECT_EQ(Outcome([&] { fresh.SetFieldValue(0, "5"); }), Engine(3020));
  EXPECT_EQ(Outcome([&] { fresh.Update(); }), Engine(3020));

  // The result of a SELECT is read only.
  Recordset query = database.OpenRecordset("SELECT * FROM P");
  EXPECT_EQ(Outcome([&] { query.AddNew(); }), Engine(3251));
  EXPECT_EQ(Outcome([&] { query.SetFieldValue(0, "5"); }), Engine(3251));
  EXPECT_EQ(Outcome([&] { query.Update(); }), Engine(3251));
  EXPECT_EQ(AllRows(database, "P").size(), 3u);
}

TEST_F(DatabaseTest, TableRecordsetWhoseTableWasMadeAgain) {
  Database database;
  CreateAndOpen(database);
  database.Execute("CREATE TABLE T (a LONG)");
  database.Execute("CREATE TABLE U (a LONG)");
  // Empty tables: the recordsets hold no read that would keep the tables from being dropped.
  Recordset wider = database.OpenRecordset("T", RecordsetType::kTable);
  Recordset gone = database.OpenRecordset("U", RecordsetType::kTable);
  for (Recordset* rows : {&wider, &gone}) {
    rows->AddNew();
    rows->SetFieldValue(0, "5");
  }
  database.Execute("DROP TABLE T");
  database.Execute("CREATE TABLE T (a LONG, b LONG, c TEXT(5) NOT NULL, d LONG)");
  database.Execute("DROP TABLE U");
  EXPECT_EQ(Outcome([&] { wider.Update(); }), Engine(3420));
  EXPECT_EQ(Outcome([&] { gone.Update(); }), Engine(3078));
  EXPECT_EQ(AllRows(database, "T"), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------
// Recordsets.

TEST_F(DatabaseTest, RecordsetsFollowInsertionAndDefinitionOrder) {
  Database database;
  CreateAndOpen(database);
  database.Execute("CREATE TABLE R (z TEXT(5), a LONG, m LONG)");
  database.Execute("CREATE TABLE E (x LONG)");
  database.Execute("INSERT INTO R values('c', 3, 1)");
  database.Execute("INSERT INTO R (m, a, z) values(2, 1, 'a')");
  database.Execute("INSERT INTO R values('b', 2, 3)");

  Recordset rows = database.OpenRecordset("R", RecordsetType::kTable);
  ASSERT_EQ(rows.FieldCount(), 3);
  EXPECT_EQ(rows.Field(0).name, "z");
  EXPECT_EQ(rows.Field(1).name, "a");
  EXPECT_EQ(rows.Field(2).name, "m");
  EXPECT_EQ(rows.Field(0).type, kText);
  EXPECT_EQ(Outcome([&] { rows.Field(3); }), Engine(3265));
  EXPECT_EQ(Outcome([&] { rows.FieldValue(3); }), Engine(3265));
  EXPECT_EQ(Outcome([&] { rows.FieldValue(-1); }), Engine(3265));
  EXPECT_FALSE(rows.IsBOF());
  EXPECT_FALSE(rows.IsEOF());
  EXPECT_EQ(ValueToText(rows.FieldValue(0)), "c");
  rows.MoveNext();
  EXPECT_FALSE(rows.IsBOF());
  EXPECT_EQ(RowsOf(rows), (std::vector<std::string>{"a|1|2", "b|2|3"}));
  EXPECT_TRUE(rows.IsEOF());
  EXPECT_FALSE(rows.IsBOF());
  EXPECT_EQ(Outcome([&] { rows.MoveNext(); }), Engine(3021));
  EXPECT_EQ(Outcome([&] { rows.FieldValue(0); }), Engine(3021));

  for (const std::string& source : {std::string("E"), std::string("SELECT * FROM R WHERE a=9")}) {
    SCOPED_TRACE(source);
    Recordset empty = source == "E" ? database.OpenRecordset(source, RecordsetType::kTable)
                                    : database.OpenRecordset(source);
    EXPECT_TRUE(empty.IsEOF());
    EXPECT_TRUE(empty.IsBOF());
    EXPECT_EQ(Outcome([&] { empty.MoveNext(); }), Engine(3021));
    EXPECT_EQ(Outcome([&] { empty.FieldValue(0); }), Engine(3021));
    EXPECT_GT(empty.FieldCount(), 0);
  }
  // Rows deleted and added later keep the order of storage.
  database.Execute("DELETE FROM R WHERE z='a'");
  database.Execute("INSERT INTO R values('d', 0, 0)");
  EXPECT_EQ(AllRows(database, "R"), (std::vector<std::string>{"c|3|1", "b|2|3", "d|0|0"}));
}

// ---------------------------------------------------------------------------
// Table definitions.

TEST_F(DatabaseTest, TableDefinitionsReportTypesSizesAndIndexes) {
  Database database;
  const std::string path = CreateAndOpen(database);
  database.Execute(
      "CREATE TABLE Types (a BIT, b BYTE, c SHORT, d LONG, e CURRENCY, f SINGLE, g DOUBLE, h DATETIME, "
      "i BINARY(8), j TEXT(50), k LONGBINARY, l MEMO, m GUID, n TEXT, o INTEGER, p VARCHAR(12), q YESNO, "
      "r MONEY, s FLOAT, t DATE, u LONGTEXT, v TINYINT, w SMALLINT, x REAL, y OLEOBJECT, z UNIQUEIDENTIFIER, "
      "aa COUNTER NOT NULL, ab char(1))");
  const std::vector<std::tuple<std::string, FieldType, std::int32_t>> expected = {
      {"a", kBoolean, 1},   {"b", kByte, 1},      {"c", kInteger, 2},   {"d", kLong, 4},
      {"e", kCurrency, 8},  {"f", kSingle, 4},    {"g", kDouble, 8},    {"h", kDate, 8},
      {"i", kBinary, 8},    {"j", kText, 50},     {"k", kLongBinary, 0}, {"l", kMemo, 0},
      {"m", kGuid, 16},     {"n", kText, 255},    {"o", kLong, 4},      {"p", kText, 12},
      {"q", kBoolean, 1},   {"r", kCurrency, 8},  {"s", kDouble, 8},    {"t", kDate, 8},
      {"u", kMemo, 0},      {"v", kByte, 1},      {"w", kInteger, 2},   {"x", kSingle, 4},
      {"y", kLongBinary, 0}, {"z", kGuid, 16},    {"aa", kLong, 4},     {"ab", kText, 1},
  };
  // Type codes, as the installer compares them.
  EXPECT_EQ(kBoolean, 1);
  EXPECT_EQ(kByte, 2);
  EXPECT_EQ(kInteger, 3);
  EXPECT_EQ(kLong, 4);
  EXPECT_EQ(kCurrency, 5);
  EXPECT_EQ(kSingle, 6);
  EXPECT_EQ(kDouble, 7);
  EXPECT_EQ(kDate, 8);
  EXPECT_EQ(kBinary, 9);
  EXPECT_EQ(kText, 10);
  EXPECT_EQ(kLongBinary, 11);
  EXPECT_EQ(kMemo, 12);
  EXPECT_EQ(kGuid, 15);
  auto check = [&](const std::string& when) {
    SCOPED_TRACE(when);
    for (const char* name : {"Types", "types", "TYPES", "tYpEs"}) {
      EXPECT_EQ(database.TableDefs(name).Name(), "Types");
    }
    const TableDef def = database.TableDefs("types");
    ASSERT_EQ(def.FieldCount(), static_cast<std::int16_t>(expected.size()));
    for (std::size_t position = 0; position < expected.size(); ++position) {
      const auto& [name, type, size] = expected[position];
      const FieldDef& field = def.Fields(static_cast<std::int16_t>(position));
      EXPECT_EQ(field.name, name);
      EXPECT_EQ(field.type, type) << name;
      EXPECT_EQ(field.size, size) << name;
      EXPECT_EQ(field.required, name == "aa") << name;
      EXPECT_EQ(def.FieldPosition(name), static_cast<int>(position));
    }
    EXPECT_EQ(def.FieldPosition("AB"), 27);
    EXPECT_EQ(def.FieldPosition("missing"), -1);
    EXPECT_EQ(def.IndexCount(), 0);
    EXPECT_EQ(def.PrimaryIndex(), nullptr);
    for (std::int16_t position : {std::int16_t{-1}, std::int16_t{28}, std::numeric_limits<std::int16_t>::max(),
                                  std::numeric_limits<std::int16_t>::min()}) {
      EXPECT_EQ(Outcome([&] { def.Fields(position); }), Engine(3265)) << position;
    }
    EXPECT_EQ(Outcome([&] { def.Indexes(0); }), Engine(3265));
    EXPECT_EQ(Outcome([&] { def.Indexes(-1); }), Engine(3265));
    EXPECT_EQ(Outcome([&] { database.TableDefs("Missing"); }), Engine(3265));
    EXPECT_EQ(Outcome([&] { database.TableDefs(""); }), Engine(3265));
    EXPECT_EQ(Outcome([&] { database.TableDefs("MSysIndexes2"); }), Engine(3265));
    EXPECT_EQ(database.TableNames(), std::vector<std::string>{"Types"});
  };
  check("after CREATE TABLE");
  database.Close();
  database.Open(path);
  check("after reopening");
  // A definition is a copy that outlives its database.
  const TableDef kept = database.TableDefs("Types");
  database.Close();
  EXPECT_EQ(kept.Fields(9).size, 50);
}

TEST_F(DatabaseTest, IndexFieldsAreKeptInIndexOrder) {
  Database database;
  const std::string path = CreateAndOpen(database);
  database.Execute("CREATE TABLE I (a LONG, b LONG, c LONG, CONSTRAINT PrimaryKey PRIMARY KEY (c, a))");
  database.Execute("CREATE UNIQUE INDEX ByBC ON I (b, c)");
  database.Execute("CREATE INDEX ByB ON [i] ([B])");
  const std::vector<std::string> expected = {"PrimaryKey:PU:c,a", "ByBC:-U:b,c", "ByB:--:b"};
  EXPECT_EQ(IndexesOf(database, "I"), expected);
  database.Close();
  database.Open(path);
  EXPECT_EQ(IndexesOf(database, "I"), expected);
  const TableDef def = database.TableDefs("I");
  ASSERT_NE(def.PrimaryIndex(), nullptr);
  EXPECT_EQ(def.PrimaryIndex()->fields, (std::vector<std::string>{"c", "a"}));
  EXPECT_EQ(Outcome([&] { def.Indexes(3); }), Engine(3265));
}

TEST_F(DatabaseTest, TablesHoldUpTo255Fields) {
  Database database;
  const std::string path = CreateAndOpen(database);
  auto create = [](const std::string& table, int count) {
    std::string statement = "CREATE TABLE " + table + " (";
    for (int field = 0; field < count; ++field) statement += (field ? ", f" : "f") + std::to_string(field) + " LONG";
    return statement + ")";
  };
  database.Execute(create("Wide", 255));
  std::string values;
  for (int field = 0; field < 255; ++field) values += (field ? "," : "") + std::to_string(field);
  database.Execute("INSERT INTO Wide values(" + values + ")");
  EXPECT_EQ(Outcome([&] { database.Execute(create("Wider", 256)); }), Engine(3190));
  EXPECT_EQ(Outcome([&] { database.TableDefs("Wider"); }), Engine(3265));
  database.Close();
  database.Open(path);
  const TableDef def = database.TableDefs("Wide");
  ASSERT_EQ(def.FieldCount(), 255);
  EXPECT_EQ(def.Fields(254).name, "f254");
  EXPECT_EQ(Outcome([&] { def.Fields(255); }), Engine(3265));
  Recordset rows = database.OpenRecordset("Wide", RecordsetType::kTable);
  ASSERT_EQ(rows.FieldCount(), 255);
  EXPECT_EQ(rows.FieldValue(254), Value::Integer(kLong, 254));
  EXPECT_EQ(Outcome([&] { rows.FieldValue(255); }), Engine(3265));
  EXPECT_EQ(Outcome([&] { rows.Field(std::numeric_limits<std::int16_t>::max()); }), Engine(3265));
}

// ---------------------------------------------------------------------------
// Primary keys.

TEST_F(DatabaseTest, PrimaryKeyDroppedAndAddedInAnotherOrder) {
  Database database;
  const std::string path = CreateAndOpen(database);
  database.Execute("CREATE TABLE T1 (a LONG, b TEXT(10), CONSTRAINT PrimaryKey PRIMARY KEY (a))");
  database.Execute("CREATE TABLE T2 (x LONG, CONSTRAINT PrimaryKey PRIMARY KEY (x))");
  database.Execute("INSERT INTO T1 values(1, 'u')");
  database.Execute("INSERT INTO T1 values(2, 'u')");
  database.Execute("INSERT INTO T2 values(1)");
  EXPECT_EQ(IndexesOf(database, "T1"), std::vector<std::string>{"PrimaryKey:PU:a"});
  EXPECT_EQ(IndexesOf(database, "T2"), std::vector<std::string>{"PrimaryKey:PU:x"});

  database.Execute("ALTER TABLE T1 DROP CONSTRAINT PrimaryKey");
  EXPECT_EQ(IndexesOf(database, "T1"), std::vector<std::string>{});
  EXPECT_EQ(database.TableDefs("T1").PrimaryIndex(), nullptr);
  EXPECT_EQ(IndexesOf(database, "T2"), std::vector<std::string>{"PrimaryKey:PU:x"});
  // Without a key, duplicates and Nulls are accepted.
  database.Execute("INSERT INTO T1 values(1, 'v')");
  database.Execute("INSERT INTO T1 values(Null, 'v')");
  database.Execute("DELETE FROM T1 WHERE b='v'");

  database.Execute("ALTER TABLE T1 ADD CONSTRAINT PrimaryKey PRIMARY KEY (b, a)");
  EXPECT_EQ(IndexesOf(database, "T1"), std::vector<std::string>{"PrimaryKey:PU:b,a"});
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T1 values(1, 'u')"); }), Engine(3022));
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T1 values(Null, 'w')"); }), Engine(3058));
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T1 (a) values(3)"); }), Engine(3058));
  database.Execute("INSERT INTO T1 values(1, 'w')");

  database.Close();
  database.Open(path);
  const TableDef def = database.TableDefs("t1");
  ASSERT_NE(def.PrimaryIndex(), nullptr);
  EXPECT_EQ(def.PrimaryIndex()->name, "PrimaryKey");
  EXPECT_EQ(def.PrimaryIndex()->fields, (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(IndexesOf(database, "T2"), std::vector<std::string>{"PrimaryKey:PU:x"});
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T1 values(2, 'u')"); }), Engine(3022));
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T1 (b) values('z')"); }), Engine(3058));
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T2 values(1)"); }), Engine(3022));
  database.Execute("INSERT INTO T2 values(2)");
  EXPECT_EQ(AllRows(database, "T1"), (std::vector<std::string>{"1|u", "2|u", "1|w"}));
  // A table recordset sees the new key too.
  Recordset table = database.OpenRecordset("T1", RecordsetType::kTable);
  table.AddNew();
  table.SetFieldValue(0, "1");
  table.SetFieldValue(1, "w");
  EXPECT_EQ(Outcome([&] { table.Update(); }), Engine(3022));
}

TEST_F(DatabaseTest, FailedPrimaryKeyLeavesTheTableAsItWas) {
  Database database;
  const std::string path = CreateAndOpen(database);
  database.Execute("CREATE TABLE D (a LONG, b LONG)");
  database.Execute("INSERT INTO D values(1, 1)");
  database.Execute("INSERT INTO D values(1, 2)");
  database.Execute("INSERT INTO D values(2, Null)");
  EXPECT_EQ(Outcome([&] { database.Execute("ALTER TABLE D ADD CONSTRAINT PrimaryKey PRIMARY KEY (a)"); }),
            Engine(3022));
  EXPECT_EQ(IndexesOf(database, "D"), std::vector<std::string>{});
  EXPECT_EQ(Outcome([&] { database.Execute("ALTER TABLE D ADD CONSTRAINT PrimaryKey PRIMARY KEY (b)"); }),
            Engine(3058));
  EXPECT_EQ(Outcome([&] { database.Execute("ALTER TABLE D ADD CONSTRAINT PrimaryKey PRIMARY KEY (a, b)"); }),
            Engine(3058));
  EXPECT_EQ(IndexesOf(database, "D"), std::vector<std::string>{});
  // Still no key: duplicates go in.
  database.Execute("INSERT INTO D values(1, 1)");
  database.Execute("INSERT INTO D values(1, 1)");
  EXPECT_EQ(AllRows(database, "D").size(), 5u);
  database.Close();
  database.Open(path);
  EXPECT_EQ(IndexesOf(database, "D"), std::vector<std::string>{});
  database.Execute("INSERT INTO D values(1, 1)");
  EXPECT_EQ(AllRows(database, "D").size(), 6u);
  // Once the rows allow it, the key can be added.
  database.Execute("DELETE FROM D");
  database.Execute("INSERT INTO D values(1, 1)");
  database.Execute("ALTER TABLE D ADD CONSTRAINT PrimaryKey PRIMARY KEY (a)");
  EXPECT_EQ(IndexesOf(database, "D"), std::vector<std::string>{"PrimaryKey:PU:a"});
}

TEST_F(DatabaseTest, IndexNamesBelongToTheirTable) {
  Database database;
  const std::string path = CreateAndOpen(database);
  // Names chosen so that table and index names joined together collide.
  database.Execute("CREATE TABLE A_B (x LONG, CONSTRAINT C PRIMARY KEY (x))");
  database.Execute("CREATE TABLE A (y LONG, CONSTRAINT B_C PRIMARY KEY (y))");
  database.Execute("CREATE UNIQUE INDEX C ON A (y)");
  database.Execute("INSERT INTO A_B values(1)");
  database.Execute("INSERT INTO A values(1)");
  EXPECT_EQ(IndexesOf(database, "A_B"), std::vector<std::string>{"C:PU:x"});
  EXPECT_EQ(IndexesOf(database, "A"), (std::vector<std::string>{"B_C:PU:y", "C:-U:y"}));
  database.Execute("DROP INDEX C ON A");
  database.Execute("ALTER TABLE A DROP CONSTRAINT B_C");
  EXPECT_EQ(IndexesOf(database, "A"), std::vector<std::string>{});
  database.Close();
  database.Open(path);
  EXPECT_EQ(IndexesOf(database, "A_B"), std::vector<std::string>{"C:PU:x"});
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO A_B values(1)"); }), Engine(3022));
  database.Execute("INSERT INTO A values(1)");
  // A dropped table takes its indexes along; a new table of that name starts bare.
  database.Execute("DROP TABLE A_B");
  database.Execute("CREATE TABLE A_B (x LONG)");
  EXPECT_EQ(IndexesOf(database, "A_B"), std::vector<std::string>{});
  database.Execute("ALTER TABLE A_B ADD CONSTRAINT C PRIMARY KEY (x)");
  EXPECT_EQ(IndexesOf(database, "A_B"), std::vector<std::string>{"C:PU:x"});
}

// ---------------------------------------------------------------------------
// The file.

// Rows of `table` read with SQLite alone, fields joined by "|".
std::vector<std::string> ReadWithSqlite(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> rows;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    ADD_FAILURE() << "sqlite3_open_v2 failed on " << path;
    return rows;
  }
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db);
  } else {
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row;
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        const unsigned char* text = sqlite3_column_text(statement, column);
        row += (column ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "NULL");
      }
      rows.push_back(row);
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

// Whether the file alone is the whole database: copied without any companion
// file it passes SQLite's integrity check, and its header says it stays in
// WAL mode (2, 2) for the next writer.
bool IsSelfContained(const std::string& path) {
  const std::string bytes = ReadBytes(path);
  const std::string copy = path + ".alone";
  WriteBytes(copy, bytes);
  const bool sound = ReadWithSqlite(copy, "PRAGMA integrity_check") == std::vector<std::string>{"ok"};
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(copy + suffix);
  return sound && bytes.size() >= 100 && bytes[18] == 2 && bytes[19] == 2;
}

TEST_F(DatabaseTest, ClosedDatabaseIsOneSqliteFile) {
  Database database;
  const std::string path = CreateAndOpen(database);
  database.Execute("CREATE TABLE T (a LONG, b TEXT(10), c MEMO, CONSTRAINT PrimaryKey PRIMARY KEY (a))");
  database.Execute("INSERT INTO T values(1, 'un', '0123')");
  database.Execute("INSERT INTO T values(2, 'deux', Null)");
  database.Close();
  EXPECT_EQ(folder_.Entries(), std::set<std::string>{"base.mdb"});
  EXPECT_TRUE(IsSelfContained(path));
  EXPECT_EQ(ReadWithSqlite(path, "SELECT a, b, c FROM T ORDER BY rowid"),
            (std::vector<std::string>{"1|un|0123", "2|deux|NULL"}));
  EXPECT_EQ(ReadWithSqlite(path, "SELECT name, type, \"notnull\" FROM pragma_table_info('T') ORDER BY cid"),
            (std::vector<std::string>{"a|LONG|0", "b|TEXT(10)|0", "c|LONGTEXT|0"}));
  EXPECT_EQ(ReadWithSqlite(path, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  database.Open(path);
  EXPECT_EQ(AllRows(database, "T"), (std::vector<std::string>{"1|un|0123", "2|deux|Null"}));
}

TEST_F(DatabaseTest, DatabaseOnlyReadKeepsItsBytes) {
  Database database;
  const std::string path = CreateAndOpen(database);
  database.Execute("CREATE TABLE T (a LONG, CONSTRAINT PrimaryKey PRIMARY KEY (a))");
  database.Execute("INSERT INTO T values(1)");
  database.Close();
  const std::string before = ReadBytes(path);
  database.Open(path);
  EXPECT_EQ(Select(database, "SELECT * FROM T WHERE a=1"), std::vector<std::string>{"1"});
  EXPECT_EQ(AllRows(database, "T"), std::vector<std::string>{"1"});
  EXPECT_EQ(database.TableDefs("T").FieldCount(), 1);
  EXPECT_EQ(database.TableNames(), std::vector<std::string>{"T"});
  // Failing statements write nothing either.
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T values('x')"); }), Engine(3464));
  EXPECT_EQ(Outcome([&] { database.Execute("SELECT * FROM T"); }), Engine(3065));
  database.Close();
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(folder_.Entries(), std::set<std::string>{"base.mdb"});
}

TEST_F(DatabaseTest, SecondHandleReadsWhatTheFirstCommitted) {
  Database first;
  const std::string path = CreateAndOpen(first);
  first.Execute("CREATE TABLE T (a LONG)");
  first.Execute("INSERT INTO T values(1)");
  first.Execute("INSERT INTO T values(2)");
  Database second;
  second.Open(path);
  first.Close();
  EXPECT_EQ(AllRows(second, "T"), (std::vector<std::string>{"1", "2"}));
  second.Execute("INSERT INTO T values(3)");
  second.Close();
  EXPECT_EQ(folder_.Entries(), std::set<std::string>{"base.mdb"});
  EXPECT_TRUE(IsSelfContained(path));
  EXPECT_EQ(ReadWithSqlite(path, "SELECT a FROM T"), (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(DatabaseTest, SecondHandleThatOnlyReadsLeavesOneFile) {
  Database first;
  const std::string path = CreateAndOpen(first);
  first.Execute("CREATE TABLE T (a LONG)");
  first.Execute("INSERT INTO T values(1)");
  Database second;
  second.Open(path);
  first.Close();
  EXPECT_EQ(AllRows(second, "T"), std::vector<std::string>{"1"});
  second.Close();
  EXPECT_EQ(folder_.Entries(), std::set<std::string>{"base.mdb"});
  EXPECT_TRUE(IsSelfContained(path));
}

TEST_F(DatabaseTest, RowsSurviveCloseAndReopen) {
  Database database;
  const std::string path = CreateAndOpen(database);
  database.Execute("CREATE TABLE T (a LONG, b TEXT(10))");
  for (int row = 0; row < 100; ++row) {
    database.Execute("INSERT INTO T values(" + std::to_string(row) + ", 'ligne')");
  }
  database.Execute("DELETE FROM T WHERE b='ligne' AND a=50");
  database.Close();
  database.Open(path);
  const std::vector<std::string> rows = AllRows(database, "T");
  ASSERT_EQ(rows.size(), 99u);
  EXPECT_EQ(rows.front(), "0|ligne");
  EXPECT_EQ(rows[50], "51|ligne");
  EXPECT_EQ(rows.back(), "99|ligne");
}

}  // namespace
