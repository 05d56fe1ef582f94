// SPDX-License-Identifier: Apache-2.0
#include "transfer/VidangeTables.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "support/child_process.h"
#include "transfer/transfer_file.h"

using namespace transfer;

namespace fs = std::filesystem;
using dbengine::FieldDef;
using dbengine::IndexDef;
using dbengine::TableDef;

namespace {

class VidangeTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("vidange_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    const std::string path = (root_ / "base.mdb").string();
    dbengine::Database::Create(path);
    db_.Open(path);
    file_ = PathOf("TB_Table.txt");
  }
  void TearDown() override {
    if (db_.IsOpen()) db_.Close();
    fs::remove_all(root_);
  }

  std::string PathOf(const std::string& name) const { return (root_ / name).string(); }
  void Exec(std::string_view statement) { db_.Execute(statement); }

  // The rows of `table` in storage order, values in their text forms joined by "|".
  std::vector<std::string> Rows(const std::string& table) {
    std::vector<std::string> rows;
    dbengine::Recordset rs = db_.OpenRecordset("SELECT * FROM [" + table + "]");
    while (!rs.IsEOF()) {
      std::string row;
      for (std::int16_t field = 0; field < rs.FieldCount(); ++field) {
        if (field > 0) row += '|';
        dbengine::AppendValueText(rs.FieldValue(field), row);
      }
      rows.push_back(row);
      rs.MoveNext();
    }
    return rows;
  }
  std::vector<std::string> SortedRows(const std::string& table) {
    auto rows = Rows(table);
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  std::string Export(const std::string& table) {
    std::string separator;
    return ExportTableToText(db_, table, file_, separator);
  }
  std::string Import(const std::string& table, const std::string& bytes, std::int16_t mode) {
    WriteBytes(file_, bytes);
    std::string separator = "|";
    return ImportTextIntoTable(db_, table, file_, mode, separator);
  }

  static void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Entries of the test folder besides the database and its companions.
  std::size_t FileCount() const {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(root_)) {
      if (entry.path().filename().string().rfind("base.mdb", 0) != 0) ++count;
    }
    return count;
  }

  // Runs `sql` on the database through SQLite itself, as another tool would.
  void ExecWithSqlite(const std::string& sql) {
    const std::string path = db_.Path();
    db_.Close();
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(raw);
    sqlite3_close(raw);
    db_.Open(path);
  }

  // The error form a routine gives for the engine error `action` raises.
  static std::string ErrorFormOf(const std::string& table, const std::function<void()>& action) {
    try {
      action();
    } catch (const dbengine::Error& error) {
      return "ERR" + std::to_string(error.Number()) + " (TABLE " + table +
             "):" + error.Description();
    }
    return "no error";
  }

  fs::path root_;
  dbengine::Database db_;
  std::string file_;
};

constexpr std::int16_t kClearFirst = -1;
constexpr std::int16_t kKeepExisting = 0;
constexpr std::int16_t kAppend = 1;

TEST_F(VidangeTablesTest, EveryTypeSurvivesExportAndImport) {
  const char* columns =
      " (B BIT, Y BYTE, S SHORT, L LONG, C CURRENCY, F SINGLE, D DOUBLE, T DATETIME, X TEXT(50), "
      "M MEMO)";
  Exec(std::string("CREATE TABLE Types") + columns);
  Exec(std::string("CREATE TABLE Copie") + columns);
  Exec(
      "INSERT INTO Types values(-1, 255, -32768, 2147483647, '123456789,1234', '1,5', "
      "'-1,23456789012345E+20', '31/12/2099 23:59:58', 'O''Brien é€', 'mémo; long')");
  Exec(
      "INSERT INTO Types values(0, 0, 32767, -2147483648, '-0,0001', '1,5E+20', '1E-05', "
      "'30/12/1899 12:30:00', '', 'x')");
  Exec("INSERT INTO Types values(-1, 1, -2, 3, '4', '0,1', '0,1', '01/01/2000', 'a', 'b')");
  Exec("INSERT INTO Types values(Null, Null, Null, Null, Null, Null, Null, Null, Null, Null)");
  Exec("INSERT INTO Copie values(0, 9, 9, 9, 9, 9, 9, Null, 'stale', 'stale')");

  EXPECT_EQ(Export("Types"), "ERR0");
  std::string separator;
  EXPECT_EQ(ImportTextIntoTable(db_, "Copie", file_, kClearFirst, separator), "ERR0");

  auto expected = Rows("Types");
  ASSERT_EQ(expected.size(), 4u);
  EXPECT_EQ(expected[3], "|||||||||");
  expected[3] = "Faux|||||||||";  // an empty Boolean reads back as false
  EXPECT_EQ(Rows("Copie"), expected);
}

TEST_F(VidangeTablesTest, NullsAreEmptyFields) {
  Exec("CREATE TABLE Trois (A LONG, B LONG, C TEXT(10))");
  Exec("INSERT INTO Trois values(12, Null, 'abc')");
  EXPECT_EQ(Export("Trois"), "ERR0");
  EXPECT_EQ(ReadBytes(file_), "12||abc\r\n");

  // A single Null field gives an empty line, which the import skips.
  Exec("CREATE TABLE Un (A TEXT(10))");
  Exec("INSERT INTO Un values(Null)");
  Exec("INSERT INTO Un values('z')");
  EXPECT_EQ(Export("Un"), "ERR0");
  EXPECT_EQ(ReadBytes(file_), "\r\nz\r\n");
  std::string separator;
  EXPECT_EQ(ImportTextIntoTable(db_, "Un", file_, kClearFirst, separator), "ERR0");
  EXPECT_EQ(Rows("Un"), std::vector<std::string>{"z"});
}

TEST_F(VidangeTablesTest, TextsTravelInWindows1252) {
  Exec("CREATE TABLE Acc (X TEXT(20))");
  Exec("INSERT INTO Acc values('é€Œ’')");
  EXPECT_EQ(Export("Acc"), "ERR0");
  EXPECT_EQ(ReadBytes(file_), "\xE9\x80\x8C\x92\r\n");

  EXPECT_EQ(Import("Acc", "caf\xE9\r\nna\xEFve\r\n", kClearFirst), "ERR0");
  EXPECT_EQ(Rows("Acc"), (std::vector<std::string>{"café", "naïve"}));
}

TEST_F(VidangeTablesTest, SeparatorsInAndOut) {
  Exec("CREATE TABLE Trois (A LONG, B LONG, C TEXT(10))");
  Exec("INSERT INTO Trois values(12, Null, 'a|b')");
  struct Case {
    std::string given;
    std::string kept;
    std::string bytes;
  } const cases[] = {
      {"", "|", ""},  // the value holds "|": refused (see UnwritableValuesAreRefused)
      {";", ";", "12;;a|b\r\n"},
      {"<->", "<->", "12<-><->a|b\r\n"},
  };
  for (const Case& test : cases) {
    std::string separator = test.given;
    const std::string result = ExportTableToText(db_, "Trois", file_, separator);
    EXPECT_EQ(separator, test.kept);
    if (test.bytes.empty()) {
      EXPECT_NE(result, "ERR0");
      continue;
    }
    EXPECT_EQ(result, "ERR0");
    EXPECT_EQ(ReadBytes(file_), test.bytes);
    std::string importSeparator = test.given;
    EXPECT_EQ(ImportTextIntoTable(db_, "Trois", file_, kClearFirst, importSeparator), "ERR0");
    EXPECT_EQ(importSeparator, test.kept);
    EXPECT_EQ(Rows("Trois"), std::vector<std::string>{"12||a|b"}) << test.given;
  }

  std::string empty;
  WriteBytes(file_, "1|2|x\r\n");
  EXPECT_EQ(ImportTextIntoTable(db_, "Trois", file_, kAppend, empty), "ERR0");
  EXPECT_EQ(empty, "|");
}

TEST_F(VidangeTablesTest, EmptyTableAndEmptyFile) {
  Exec("CREATE TABLE Vide (A LONG, B TEXT(10))");
  WriteBytes(file_, "old contents\r\n");
  EXPECT_EQ(Export("Vide"), "ERR0");
  EXPECT_TRUE(fs::exists(file_));
  EXPECT_EQ(fs::file_size(file_), 0u);

  Exec("INSERT INTO Vide values(1, 'a')");
  std::string separator;
  EXPECT_EQ(ImportTextIntoTable(db_, "Vide", file_, kClearFirst, separator), "ERR0");
  EXPECT_TRUE(Rows("Vide").empty());
  EXPECT_EQ(FileCount(), 1u);  // the transfer file, nothing else
}

TEST_F(VidangeTablesTest, MissingTableGivesTheEngineError) {
  const std::string expected =
      ErrorFormOf("Absent", [&] { db_.OpenRecordset("SELECT * FROM [Absent]"); });
  ASSERT_EQ(expected.rfind("ERR3078 (TABLE Absent):", 0), 0u) << expected;

  EXPECT_EQ(Export("Absent"), expected);
  EXPECT_FALSE(fs::exists(file_));
  WriteBytes(file_, "earlier\r\n");
  EXPECT_EQ(Export("Absent"), expected);
  EXPECT_FALSE(fs::exists(file_)) << "the earlier file goes with the failed export";

  WriteBytes(file_, "kept\r\n");
  std::string separator;
  EXPECT_EQ(ImportTextIntoTable(db_, "Absent", file_, kAppend, separator),
            ErrorFormOf("Absent", [&] { db_.TableDefs("Absent"); }));
  EXPECT_EQ(ImportTextIntoTable(db_, "Absent", file_, kClearFirst, separator),
            ErrorFormOf("Absent", [&] { db_.Execute("DELETE * FROM [Absent]"); }));
}

TEST_F(VidangeTablesTest, DeleteModes) {
  Exec("CREATE TABLE K (A TEXT(10), B LONG, V TEXT(10), CONSTRAINT PrimaryKey PRIMARY KEY (A, B))");
  struct Case {
    std::int16_t mode;
    std::string result;
    std::vector<std::string> rows;  // sorted
  } const cases[] = {
      {kClearFirst, "ERR0", {"x|1|new", "z|3|new"}},
      {kKeepExisting, "ERR0", {"x|1|new", "y|2|old", "z|3|new"}},
      {kAppend, kTransferWarning, {"x|1|old", "y|2|old", "z|3|new"}},  // x|1 duplicate
      {5, kTransferWarning, {"x|1|old", "y|2|old", "z|3|new"}},
  };
  for (const Case& test : cases) {
    Exec("DELETE * FROM [K]");
    Exec("INSERT INTO K values('x', 1, 'old')");
    Exec("INSERT INTO K values('y', 2, 'old')");
    EXPECT_EQ(Import("K", "x|1|new\r\nz|3|new\r\n", test.mode), test.result) << test.mode;
    EXPECT_EQ(SortedRows("K"), test.rows) << test.mode;
  }
}

TEST_F(VidangeTablesTest, TypedResultsCarryWhatTheirTextSays) {
  Exec("CREATE TABLE K (A LONG, CONSTRAINT PrimaryKey PRIMARY KEY (A))");
  WriteBytes(file_, "1\r\n1\r\n");
  const TransferResult warned = ImportTable(db_, "K", file_, ImportModeOf(5), "");
  EXPECT_EQ(warned.number, TransferResult::kWarning);
  EXPECT_EQ(warned.Text(), kTransferWarning);
  const TransferResult missing = ExportTable(db_, "Absent", file_, "");
  EXPECT_EQ(missing.number, 3078);
  EXPECT_EQ(missing.Text(), "ERR3078 (TABLE Absent):" + missing.description);
  const TransferResult done = ExportTable(db_, "K", file_, "");
  EXPECT_EQ(done.Text(), kTransferSuccess);
  EXPECT_EQ(ReadBytes(file_), "1\r\n");
  for (const ImportMode mode : {ImportMode::kClearFirst, ImportMode::kKeepExistingRows, ImportMode::kAppend}) {
    EXPECT_EQ(ImportModeOf(static_cast<std::int16_t>(mode)), mode);
  }
}

TEST_F(VidangeTablesTest, KeyDeleteConvertsDecimalCommaAndBooleans) {
  Exec(
      "CREATE TABLE Prix (C CURRENCY, B BIT, V TEXT(10), CONSTRAINT PrimaryKey PRIMARY KEY (C, "
      "B))");
  Exec("INSERT INTO Prix values('12,5', -1, 'old')");
  Exec("INSERT INTO Prix values('12,5', 0, 'keep')");
  EXPECT_EQ(Import("Prix", "12,5|Vrai|new\r\n", kKeepExisting), "ERR0");
  EXPECT_EQ(SortedRows("Prix"), (std::vector<std::string>{"12,5|Faux|keep", "12,5|Vrai|new"}));
}

TEST_F(VidangeTablesTest, KeepExistingRowsWithoutPrimaryKeyOnlyAdds) {
  Exec("CREATE TABLE Libre (A TEXT(10), B LONG)");
  Exec("INSERT INTO Libre values('a', 1)");
  Exec("INSERT INTO Libre values('b', 2)");
  EXPECT_EQ(Import("Libre", "c|3\r\n", kKeepExisting), "ERR0");
  EXPECT_EQ(Rows("Libre"), (std::vector<std::string>{"a|1", "b|2", "c|3"}));
}

TEST_F(VidangeTablesTest, KeepExistingRefusedLineLeavesTheStoredRow) {
  Exec("CREATE TABLE K (A TEXT(10), B LONG, V TEXT(3), N LONG, CONSTRAINT PrimaryKey PRIMARY KEY (A, B))");
  const std::vector<std::string> stored = {"x|1|old|1", "x|2|old|2"};
  struct Case {
    const char* line;
    std::string result;
    std::vector<std::string> rows;  // sorted
  } const cases[] = {
      {"x|1|trop long|5", kTransferWarning, stored},              // text too long for V
      {"x|2|new|deux", kTransferWarning, stored},                 // a word in a number field
      {"x", kTransferWarning, stored},                            // no value for B: no delete on A alone
      {"x|2|new|3", "ERR0", {"x|1|old|1", "x|2|new|3"}},          // the line replaces its row
  };
  for (const Case& test : cases) {
    Exec("DELETE * FROM [K]");
    Exec("INSERT INTO K values('x', 1, 'old', 1)");
    Exec("INSERT INTO K values('x', 2, 'old', 2)");
    EXPECT_EQ(Import("K", std::string(test.line) + "\r\n", kKeepExisting), test.result) << test.line;
    EXPECT_EQ(SortedRows("K"), test.rows) << test.line;
  }
}

TEST_F(VidangeTablesTest, ImportReadsTheDefinitionAnotherProgramMadeAgain) {
  // Another connection drops the table and makes it again with its fields in
  // the other order, after this handle has read the definition: the import,
  // in every mode, reads the lines against the new fields.
  for (const std::int16_t mode : {kClearFirst, kKeepExisting, kAppend}) {
    Exec("CREATE TABLE S (N LONG, T TEXT(10), CONSTRAINT PrimaryKey PRIMARY KEY (N))");
    ASSERT_EQ(db_.TableDefs("S").Fields(0).name, "N");
    {
      dbengine::Database other;
      other.Open(db_.Path());
      other.BeginTrans();
      other.Execute("DROP TABLE S");
      other.Execute("CREATE TABLE S (T TEXT(10), N LONG, CONSTRAINT PrimaryKey PRIMARY KEY (N))");
      other.CommitTrans();
    }
    EXPECT_EQ(Import("S", "un|1\r\n", mode), "ERR0") << mode;
    EXPECT_EQ(Rows("S"), (std::vector<std::string>{"un|1"})) << mode;
    EXPECT_EQ(db_.TableDefs("S").Fields(1).type, dbengine::kLong) << mode;
    Exec("DROP TABLE S");
  }
}

TEST_F(VidangeTablesTest, ExportReplacesOnlyARegularFileAndKeepsItsPermissions) {
  Exec("CREATE TABLE T (N LONG)");
  Exec("INSERT INTO T values(1)");
  const std::string base = db_.Path();
  fs::create_directory(root_ / "sub");
  fs::create_symlink(base, PathOf("link.mdb"));
  const std::string fifo = PathOf("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink(fifo, PathOf("link-to-pipe"));
  struct Case {
    std::string destination;
    std::string table;
    std::string resultStart;
  } const cases[] = {
      // The open database and its companions, by any name: 55, nothing changed,
      // also when the table is mistyped (a failed export removes its destination).
      {base, "T", "ERR55 (TABLE T):Fichier déjà ouvert : « " + base + " » est la base"},
      {PathOf("sub/../base.mdb"), "T", "ERR55 "},
      {PathOf("link.mdb"), "Tx", "ERR55 "},
      {base + "-wal", "T", "ERR55 "},
      {base + "-journal", "Tx", "ERR55 "},
      // Not regular files: 75, left as they are.
      {fifo, "T", "ERR75 (TABLE T):Erreur d'accès chemin/fichier : « " + fifo +
                      " » n'est pas un fichier ordinaire"},
      {PathOf("link-to-pipe"), "Tx", "ERR75 "},
  };
  for (const Case& test : cases) {
    std::string separator;
    const std::string result = ExportTableToText(db_, test.table, test.destination, separator);
    EXPECT_EQ(result.rfind(test.resultStart, 0), 0u) << test.destination << ": " << result;
  }
  EXPECT_EQ(Rows("T"), std::vector<std::string>{"1"});
  db_.Close();
  EXPECT_EQ(ReadBytes(base).rfind("SQLite format 3", 0), 0u);
  EXPECT_FALSE(fs::exists(base + "-journal"));
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(PathOf("link-to-pipe"))));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(PathOf("link.mdb"))));
  db_.Open(base);

  // A replaced file keeps its mode; a new one gets the usual one under the umask.
  const std::string secret = PathOf("secret.txt");
  WriteBytes(secret, "earlier\r\n");
  fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
  std::string separator;
  EXPECT_EQ(ExportTableToText(db_, "T", secret, separator), "ERR0");
  EXPECT_EQ(ReadBytes(secret), "1\r\n");
  EXPECT_EQ(fs::status(secret).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  const mode_t mask = ::umask(027);
  EXPECT_EQ(ExportTableToText(db_, "T", PathOf("new.txt"), separator), "ERR0");
  ::umask(mask);
  EXPECT_EQ(fs::status(PathOf("new.txt")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(BuildPrimaryKeyDeleteTest, StatementsByKey) {
  const std::vector<FieldDef> fields = {{"A", dbengine::kText, 10, false},
                                        {"B", dbengine::kLong, 4, false},
                                        {"C", dbengine::kBoolean, 1, false},
                                        {"D", dbengine::kCurrency, 8, false}};
  const std::vector<std::string> values = {"'O''Brien'", "5", "-1", "12,5"};
  const IndexDef unique = {"Autre", false, true, {"B"}};
  struct Case {
    std::vector<IndexDef> indexes;
    std::int16_t valueCount;
    std::vector<std::string> values;
    std::optional<std::string> statement;
  } const cases[] = {
      // Conditions in table field order, whatever the index order.
      {{{"PrimaryKey", true, true, {"D", "A"}}, unique},
       4,
       values,
       "DELETE * FROM [T]  WHERE [A]='O''Brien' AND [D]='12,5'"},
      {{{"PrimaryKey", true, true, {"D", "A"}}},
       1,
       values,
       "DELETE * FROM [T]  WHERE [A]='O''Brien'"},
      {{{"PrimaryKey", true, true, {"B"}}}, 4, values, "DELETE * FROM [T]  WHERE [B]='5'"},
      {{{"PrimaryKey", true, true, {"C"}}}, 4, values, "DELETE * FROM [T]  WHERE [C]=-1"},
      {{{"PrimaryKey", true, true, {"B"}}},
       2,
       {"x", "5' AND [A]='y"},
       "DELETE * FROM [T]  WHERE [B]='5'' AND [A]=''y'"},
      {{{"PrimaryKey", true, true, {"D", "A"}}}, 0, values, std::nullopt},
      {{{"PrimaryKey", true, true, {"a"}}}, 4, values, std::nullopt},  // letter case differs
      {{unique}, 4, values, std::nullopt},
      {{}, 4, values, std::nullopt},
  };
  for (const Case& test : cases) {
    const TableDef tableDef("T", fields, test.indexes);
    EXPECT_EQ(BuildPrimaryKeyDelete("T", test.values, test.valueCount, tableDef), test.statement)
        << testing::PrintToString(test.statement);
  }

  const TableDef tableDef("T", fields, {{"PrimaryKey", true, true, {"D", "A"}}, unique});
  EXPECT_TRUE(IsPrimaryKeyField("A", tableDef));
  EXPECT_TRUE(IsPrimaryKeyField("D", tableDef));
  EXPECT_FALSE(IsPrimaryKeyField("a", tableDef));
  EXPECT_FALSE(IsPrimaryKeyField("B", tableDef));
  EXPECT_THROW(BuildPrimaryKeyDelete("T", {"1", "2", "3", "4", "5"}, 5, tableDef),
               dbengine::EngineError);
}

TEST_F(VidangeTablesTest, RefusedLinesAreSkippedWithTheWarning) {
  Exec("CREATE TABLE K (A TEXT(10), B LONG, CONSTRAINT PrimaryKey PRIMARY KEY (A))");
  // A duplicate key and a line with one piece too few are refused; empty
  // lines are no lines at all.
  EXPECT_EQ(Import("K", "\r\nx|1\r\n\r\nx|2\r\ny\r\nz|3\r\n\r\n", kAppend), kTransferWarning);
  EXPECT_EQ(Rows("K"), (std::vector<std::string>{"x|1", "z|3"}));

  EXPECT_EQ(Import("K", "\r\n\r\nu|1\r\n\r\nv|\r\n", kClearFirst), "ERR0");
  EXPECT_EQ(Rows("K"), (std::vector<std::string>{"u|1", "v|"}));
}

TEST_F(VidangeTablesTest, ValuesTypedAfterTheFields) {
  Exec("CREATE TABLE V (A TEXT(10), B BIT, N DOUBLE)");
  EXPECT_EQ(Import("V",
                   "1|vrai|1,5\r\n2|VRAI|\r\n3|Faux|0\r\n4|True|0\r\n5|-1|0\r\n6||0\r\n"
                   "7|Vrai |0\r\nO'Brien|Vrai|-2,5E+20\r\n",
                   kClearFirst),
            "ERR0");
  EXPECT_EQ(Rows("V"),
            (std::vector<std::string>{"1|Vrai|1,5", "2|Vrai|", "3|Faux|0", "4|Faux|0", "5|Faux|0",
                                      "6|Faux|0", "7|Faux|0", "O'Brien|Vrai|-2,5E+20"}));
}

TEST_F(VidangeTablesTest, TooManyPiecesEndTheImport) {
  Exec("CREATE TABLE K (A TEXT(10), B LONG)");
  const std::string beyondLastField = ErrorFormOf("K", [&] { db_.TableDefs("K").Fields(2); });
  ASSERT_EQ(beyondLastField.rfind("ERR3265 (TABLE K):", 0), 0u);
  // The error ends the import and undoes it whole, in every mode: the line
  // before it goes too, and the clear-first delete with it.
  Exec("INSERT INTO K values('ancien', 9)");
  for (std::int16_t mode : {kAppend, kKeepExisting, kClearFirst}) {
    EXPECT_EQ(Import("K", "x|1\r\ny|2|extra\r\nz|3\r\n", mode), beyondLastField);
    EXPECT_EQ(Rows("K"), std::vector<std::string>{"ancien|9"}) << mode;
  }

  // 32768 pieces are more than a 16-bit count holds; 32767 are not.
  const std::string wide(32767, '|');
  EXPECT_EQ(Import("K", wide + "\r\n", kAppend), "ERR6 (TABLE K):Dépassement de capacité");
  EXPECT_EQ(Import("K", wide.substr(1) + "\r\n", kAppend), beyondLastField);
}

TEST_F(VidangeTablesTest, FileThatCannotBeReadLeavesTheTable) {
  Exec("CREATE TABLE K (A TEXT(10), B LONG)");
  Exec("INSERT INTO K values('x', 1)");
  fs::create_directories(root_ / "dossier");
  struct Case {
    std::string path;
    std::string result;
  } const cases[] = {
      {PathOf("absent.txt"), "ERR53 (TABLE K):Fichier introuvable"},
      {PathOf("absent/TB.txt"), "ERR76 (TABLE K):Chemin d'accès introuvable"},
      {PathOf("dossier"), "ERR75 (TABLE K):Erreur d'accès chemin/fichier"},
  };
  for (const Case& test : cases) {
    for (std::int16_t mode : {kClearFirst, kKeepExisting, kAppend}) {
      std::string separator;
      EXPECT_EQ(ImportTextIntoTable(db_, "K", test.path, mode, separator), test.result);
      EXPECT_EQ(Rows("K"), std::vector<std::string>{"x|1"}) << test.path << " " << mode;
    }
  }
}

TEST_F(VidangeTablesTest, UnwritableValuesAreRefused) {
  Exec("CREATE TABLE W (A TEXT(10), X MEMO)");
  struct Case {
    std::string value;
    std::string separator;
    std::string field;
  } const cases[] = {
      {"a|b", "", "[X]"}, {"a\r\nb", "", "[X]"}, {"a\rb", ";", "[X]"}, {"漢字", "", "[X]"},
      {"z", "z", "[X]"},  {"bb", "aa", "[A]"},  // "a" then "aa" then "bb" reads back as "", "abb"
  };
  for (const Case& test : cases) {
    Exec("DELETE * FROM [W]");
    Exec("INSERT INTO W values('ok', 'fine')");
    Exec(test.separator == "aa" ? "INSERT INTO W values('a', 'bb')"
                                : "INSERT INTO W values('a', '" + test.value + "')");
    for (const bool existing : {false, true}) {
      fs::remove(file_);
      if (existing) WriteBytes(file_, "old\r\n");
      std::string separator = test.separator;
      const std::string result = ExportTableToText(db_, "W", file_, separator);
      EXPECT_EQ(result.rfind("ERR5 (TABLE W):", 0), 0u) << result;
      EXPECT_NE(result.find(test.field), std::string::npos) << result;
      EXPECT_FALSE(fs::exists(file_)) << "no file, not even the earlier one";
      EXPECT_EQ(FileCount(), 0u) << "no temporary file left";
    }
  }
}

TEST_F(VidangeTablesTest, QuoteInNumberIsNotSpliced) {
  Exec("CREATE TABLE S (T TEXT(10), N LONG, M LONG, CONSTRAINT PrimaryKey PRIMARY KEY (N))");
  Exec("INSERT INTO S values('old', 5, 0)");
  const std::string refused = ErrorFormOf("S", [&] {
    dbengine::Recordset rs = db_.OpenRecordset("S", dbengine::RecordsetType::kTable);
    rs.AddNew();
    rs.SetFieldValue(1, "5','6");
  });
  ASSERT_EQ(refused.rfind("ERR3421 (TABLE S):", 0), 0u) << refused;
  // Spliced into the INSERT, "5','6" would give the line's two pieces three values.
  // The refusal ends the import, which is undone whole.
  for (std::int16_t mode : {kAppend, kKeepExisting, kClearFirst}) {
    EXPECT_EQ(Import("S", "ok|1|2\r\nA|5','6\r\nz|3|4\r\n", mode), refused);
    EXPECT_EQ(SortedRows("S"), (std::vector<std::string>{"old|5|0"}));
  }
}

TEST_F(VidangeTablesTest, LoneLineFeedsStayInTheirValue) {
  Exec("CREATE TABLE Notes (N LONG, M MEMO)");
  // As the original program writes memos holding line feeds: raw, with only
  // the record ended by CR LF.
  const std::string file = "1|premi\xE8re ligne\nseconde\r\n2|\nfin\n\r\n3|\r\n";
  EXPECT_EQ(Import("Notes", file, kClearFirst), "ERR0");
  EXPECT_EQ(Rows("Notes"),
            (std::vector<std::string>{"1|première ligne\nseconde", "2|\nfin\n", "3|"}));
  fs::remove(file_);
  EXPECT_EQ(Export("Notes"), "ERR0");
  EXPECT_EQ(ReadBytes(file_), file);
}

TEST_F(VidangeTablesTest, ImportChecksInTheOrderOfItsMode) {
  Exec("CREATE TABLE K (A TEXT(10), B LONG)");
  Exec("INSERT INTO K values('x', 1)");
  struct Case {
    std::string table;
    bool fileThere;
    std::int16_t mode;
    int number;
  } const cases[] = {
      // Clear first: the file, then the delete, which names the table.
      {"Absent", false, kClearFirst, 53},
      {"Absent", true, kClearFirst, 3078},
      {"K", false, kClearFirst, 53},
      // Keep existing rows and append: the table definition, then the file.
      {"Absent", false, kKeepExisting, 3265},
      {"Absent", true, kKeepExisting, 3265},
      {"K", false, kKeepExisting, 53},
      {"Absent", false, kAppend, 3265},
      {"Absent", true, kAppend, 3265},
      {"K", false, kAppend, 53},
  };
  for (const Case& test : cases) {
    fs::remove(file_);
    if (test.fileThere) WriteBytes(file_, "y|2\r\n");
    std::string separator;
    const std::string result = ImportTextIntoTable(db_, test.table, file_, test.mode, separator);
    EXPECT_EQ(result.rfind("ERR" + std::to_string(test.number) + " (TABLE " + test.table + "):", 0),
              0u)
        << result << " mode " << test.mode;
    EXPECT_EQ(Rows("K"), std::vector<std::string>{"x|1"});
  }
}

TEST_F(VidangeTablesTest, BracketNamesAreRefusedBeforeAnyStatement) {
  Exec("CREATE TABLE victim (a TEXT(10), b TEXT(10), CONSTRAINT PrimaryKey PRIMARY KEY (a))");
  Exec("INSERT INTO victim values('secret', 's')");
  // The engine refuses such names; another SQLite tool makes them.
  ExecWithSqlite(
      "CREATE TABLE \"victim] ORDER BY [a\" (a LONGTEXT, b LONGTEXT, c LONGTEXT);"
      "INSERT INTO \"victim] ORDER BY [a\" VALUES('1', '2', '3');"
      "CREATE TABLE Champs (\"a]='x' AND [b\" LONGTEXT, b LONGTEXT);"
      "INSERT INTO Champs VALUES('kept', 'kept');");
  const auto storedRows = [&](const std::string& table) {
    std::vector<std::string> rows;
    dbengine::Recordset rs = db_.OpenRecordset(table, dbengine::RecordsetType::kTable);
    for (; !rs.IsEOF(); rs.MoveNext()) {
      std::string row;
      for (std::int16_t field = 0; field < rs.FieldCount(); ++field) {
        dbengine::AppendValueText(rs.FieldValue(field), row.append(field > 0 ? "|" : ""));
      }
      rows.push_back(row);
    }
    return rows;
  };

  for (const std::string table : {"victim] ORDER BY [a", "Champs"}) {
    const std::string refused = "ERR3125 (TABLE " + table + "):";
    WriteBytes(file_, "earlier\r\n");
    const std::string exported = Export(table);
    EXPECT_EQ(exported.rfind(refused, 0), 0u) << exported;
    EXPECT_FALSE(fs::exists(file_));
    for (const std::int16_t mode : {kClearFirst, kKeepExisting, kAppend}) {
      const std::string imported = Import(table, "secret|x|y\r\n", mode);
      EXPECT_EQ(imported.rfind(refused, 0), 0u) << imported << " mode " << mode;
    }
  }
  EXPECT_EQ(Rows("victim"), std::vector<std::string>{"secret|s"});
  EXPECT_EQ(storedRows("victim] ORDER BY [a"), std::vector<std::string>{"1|2|3"});
  EXPECT_EQ(storedRows("Champs"), std::vector<std::string>{"kept|kept"});

  // The key delete refuses them too, whatever the key.
  const std::vector<FieldDef> fields = {{"a]='x' AND [b", dbengine::kText, 10, false},
                                        {"b", dbengine::kText, 10, false}};
  const TableDef keyedOnBracket("Champs", fields, {{"PrimaryKey", true, true, {"b"}}});
  const TableDef victim = db_.TableDefs("victim");
  const auto keyDeleteError = [](const std::string& table, const TableDef& tableDef) {
    try {
      BuildPrimaryKeyDelete(table, {"'secret'", "'s'"}, 2, tableDef);
    } catch (const dbengine::EngineError& error) {
      return error.Number();
    }
    return 0;
  };
  EXPECT_EQ(keyDeleteError("Champs", keyedOnBracket), 3125);
  EXPECT_EQ(keyDeleteError("victim]  WHERE [a", victim), 3125);
  EXPECT_EQ(keyDeleteError("victim", victim), 0);
}

TEST_F(VidangeTablesTest, KilledExportLeavesNoTemporaryFile) {
  Exec("CREATE TABLE Gros (N LONG, M MEMO)");
  const std::string memo(100000, 'm');
  for (int row = 0; row < 20; ++row) {
    Exec("INSERT INTO Gros values(" + std::to_string(row) + ", '" + memo + "')");
  }
  WriteBytes(file_, "earlier\r\n");
  const std::string path = db_.Path();
  db_.Close();
  // The export is killed (SIGKILL) at its first write past 512 KiB, in the
  // middle of the first flush of its buffer.
  const testsupport::ChildResult child = testsupport::RunInChild([&]() -> std::string {
    testsupport::LimitFileSize(512 * 1024, true);
    dbengine::Database database;
    database.Open(path);
    std::string separator;
    return ExportTableToText(database, "Gros", file_, separator);
  });
  db_.Open(path);
  ASSERT_EQ(child.signal, SIGKILL) << child.report;
  EXPECT_EQ(ReadBytes(file_), "earlier\r\n");
  const int unnamed = ::open(root_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (unnamed >= 0) {
    ::close(unnamed);
    EXPECT_EQ(FileCount(), 1u) << "the earlier file, and no temporary one";
  }
  // Where the file system has no unnamed files, the next export removes the
  // named one of the killed process.
  EXPECT_EQ(Export("Gros"), "ERR0");
  EXPECT_EQ(FileCount(), 1u);
}

TEST_F(VidangeTablesTest, LineBeyondTheLongestEndsTheImportWithError7) {
  Exec("CREATE TABLE M (A MEMO)");
  Exec("INSERT INTO M values('kept')");
  // 320 MiB without a line end: a sparse file, which takes no disk and reads
  // as NUL bytes.
  {
    const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{320} << 20), 0);
    ::close(fd);
  }
  WriteBytes(PathOf("short.txt"), "court\r\n");
  const std::string path = db_.Path();
  db_.Close();
  const auto importInChild = [&](const std::string& file) {
    return testsupport::RunInChild([&]() -> std::string {
      dbengine::Database database;
      database.Open(path);
      std::string separator;
      return ImportTextIntoTable(database, "M", file, kAppend, separator);
    });
  };
  const testsupport::ChildResult baseline = importInChild(PathOf("short.txt"));
  const testsupport::ChildResult measured = importInChild(file_);
  db_.Open(path);
  EXPECT_EQ(baseline.report, "ERR0");
  EXPECT_EQ(measured.report, "ERR7 (TABLE M):Mémoire insuffisante");
  EXPECT_EQ(SortedRows("M"), (std::vector<std::string>{"court", "kept"}));
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LE(measured.peakKib - baseline.peakKib,
            static_cast<long>(2 * transfer::kMaxLineBytes / 1024))
      << "peak " << measured.peakKib << " KiB, baseline " << baseline.peakKib << " KiB";
#endif
}

}  // namespace

// Clearing first, the rows are loaded with the table's indexes set aside;
// what the import gives is what a row-by-row load into the cleared table
// gives (B, in append mode), the first of each key kept through the file's
// second reading.
TEST_F(VidangeTablesTest, ClearFirstImportGivesWhatARowByRowLoadGives) {
  for (const std::string name : {"A", "B"}) {
    Exec("CREATE TABLE " + name + " (K LONG, C TEXT(10), N LONG, CONSTRAINT PrimaryKey PRIMARY KEY (K))");
    Exec("CREATE UNIQUE INDEX ByC ON " + name + " (C)");
    Exec("CREATE INDEX ByN ON " + name + " (N, C)");
    Exec("INSERT INTO " + name + " values(9, 'old', 9)");
  }
  ExecWithSqlite("CREATE INDEX A_tool ON A (N DESC) WHERE N > 1");
  const auto schema = [this] {
    std::string text;
    sqlite3* raw = nullptr;
    sqlite3_open_v2(db_.Path().c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* list = nullptr;
    sqlite3_prepare_v2(raw, "SELECT type, name, sql FROM sqlite_schema WHERE tbl_name='A' ORDER BY name", -1, &list,
                       nullptr);
    while (sqlite3_step(list) == SQLITE_ROW) {
      for (int column = 0; column < 3; ++column) {
        const unsigned char* value = sqlite3_column_text(list, column);
        text.append(value ? reinterpret_cast<const char*>(value) : "NULL").append("|");
      }
    }
    sqlite3_finalize(list);
    sqlite3_close(raw);
    const TableDef def = db_.TableDefs("A");
    for (std::int16_t index = 0; index < def.IndexCount(); ++index) {
      text += def.Indexes(index).name + (def.Indexes(index).unique ? " U" : "") + (def.Indexes(index).primary ? " P" : "");
      for (const std::string& field : def.Indexes(index).fields) text += "," + field;
    }
    return text;
  };
  const std::string before = schema();
  struct Case {
    std::string file;
    std::string result;
    std::vector<std::string> rows;
  } const cases[] = {
      {"1|x|5\r\n2|y|5\r\n3|z|\r\n", "ERR0", {"1|x|5", "2|y|5", "3|z|"}},
      {"1|x|5\r\n4\r\n3|z|\r\n", kTransferWarning, {"1|x|5", "3|z|"}},  // refused without the indexes too
      {"1|x|5\r\n2|x|6\r\n1|w|7\r\n3|v|\r\n", kTransferWarning, {"1|x|5", "3|v|"}},  // duplicate keys
  };
  for (const Case& test : cases) {
    EXPECT_EQ(Import("A", test.file, kClearFirst), test.result) << test.file;
    Exec("DELETE * FROM B");
    EXPECT_EQ(Import("B", test.file, kAppend), test.result) << test.file;
    EXPECT_EQ(Rows("A"), test.rows) << test.file;
    EXPECT_EQ(Rows("B"), test.rows) << test.file;
    EXPECT_EQ(schema(), before) << test.file;
  }
}
