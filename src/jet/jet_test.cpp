// SPDX-License-Identifier: Apache-2.0
// Tests of reading Access files: real files of tests/data/jet (three Jet 3
// files of the corpus, code page 1252, one of them given a table name with an
// accent; a Jet 4 file of the corpus whose dates are rewritten to the ends of
// the calendar), copied into a folder of each test's own, read through the
// engine's public handle. The values are checked against what mdb-export
// printed for them (dates, which mdb-export cannot print before 1900 or in the
// year 9999, against the stored day numbers).
#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbengine/dbengine.h"
#include "support/child_process.h"
#include "support/print_value.h"


namespace {

using namespace dbengine;
namespace fs = std::filesystem;

const fs::path kFixtures = JET_FIXTURES;
// Jet 3: every basic type (Table1 renamed "Tablé1" in the copy, below); an OLE object and a
// memo on pages of their own; 29 tables of text of every byte value, 1,546 rows.
const std::string kTypes = "V1997_testV1997.mdb";
const std::string kLongValues = "V1997_test2V1997.mdb";
const std::string kMany = "V1997_testIndexCodesV1997.mdb";
// Jet 4: the same MSP_PROJECTS row, its dates rewritten in the copy (kDateFields, below).
const std::string kDates = "V2000_test2V2000.mdb";
const std::vector<std::string> kFiles = {kTypes, kLongValues, kMany, kDates};
// Where kTypes's catalog row keeps the name "Table1", and the byte of its "e": written 0xE9,
// "é" in code page 1252, the table is "Tablé1" (Jet 3 names are the file's code page's bytes).
constexpr std::size_t kTable1Name = 0x9399;

// The dates of kDates's one row: where the row keeps each field's stored double (each held
// 03/02/2006 at 08:00 or later), the day number written over it, and its text form.
struct DateField {
  std::string name;
  std::size_t offset;
  double day;
  std::string text;
};
const std::vector<DateField> kDateFields = {
    {"PROJ_INFO_CURRENT_DATE", 0x3ceae, 2958101, "01/01/9999"},
    {"PROJ_OPT_DEF_FINISH_TIME", 0x3ceb6, -728, "01/01/1898"},
    {"PROJ_OPT_DEF_START_TIME", 0x3ced8, -363, "01/01/1899"},
    {"PROJ_INFO_FINISH_DATE", 0x3cee4, 2, "01/01/1900"},
    {"PROJ_LAST_SAVED", 0x3ceec, -463126, "01/01/0632"},
    {"PROJ_CREATION_DATE", 0x3cef4, -462760, "01/01/0633"},
    {"PROJ_INFO_START_DATE", 0x3cefe, -462395, "01/01/0634"},
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Outcome(const std::function<void()>& action) {
  try {
    action();
  } catch (const EngineError& error) {
    return "EngineError " + std::to_string(error.Number());
  } catch (const std::exception& error) {
    return std::string("other exception: ") + error.what();
  }
  return "no error";
}

std::string Engine(int number) { return "EngineError " + std::to_string(number); }

// The rows of `table`, every value as read.
std::vector<std::vector<Value>> AllValues(Database& database, const std::string& table) {
  std::vector<std::vector<Value>> rows;
  for (Recordset rows_set = database.OpenRecordset("SELECT * FROM [" + table + "]"); !rows_set.IsEOF();
       rows_set.MoveNext()) {
    std::vector<Value>& row = rows.emplace_back();
    for (std::int16_t position = 0; position < rows_set.FieldCount(); ++position) {
      row.push_back(rows_set.FieldValue(position));
    }
  }
  return rows;
}

class JetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "dbengine-jet-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    for (const std::string& name : kFiles) {
      const fs::path from = kFixtures / "corpus" / name;
      ASSERT_TRUE(fs::is_regular_file(from)) << "no Access test file " << from;
      fs::copy_file(from, folder_ / name);
    }
    std::string types = ReadBytes(File(kTypes));
    ASSERT_EQ(types.substr(kTable1Name, 6), "Table1");
    types[kTable1Name + 4] = '\xE9';
    WriteBytes(File(kTypes), types);
    std::string dates = ReadBytes(File(kDates));
    for (const DateField& field : kDateFields) {
      double stored;
      std::memcpy(&stored, dates.data() + field.offset, sizeof stored);
      ASSERT_TRUE(stored >= 38751 + 8.0 / 24 && stored < 38752) << field.name << " not where expected";
      std::memcpy(dates.data() + field.offset, &field.day, sizeof field.day);
    }
    WriteBytes(File(kDates), dates);
  }
  void TearDown() override {
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }
  std::string File(const std::string& name) const { return (folder_ / name).string(); }

  fs::path folder_;
};

TEST_F(JetTest, TableNamesInCatalogOrder) {
  Database types;
  types.Open(File(kTypes));
  // A name in code page 1252 arrives as UTF-8.
  EXPECT_EQ(types.TableNames(), (std::vector<std::string>{"Tablé1", "Table2", "Table3", "Table4"}));
  EXPECT_EQ(types.Path(), File(kTypes));
  Database dates;
  dates.Open(File(kDates));
  EXPECT_EQ(dates.TableNames(), std::vector<std::string>{"MSP_PROJECTS"});
}

TEST_F(JetTest, FieldsKeepNamesOrderTypesSizesAndRequired) {
  struct Case {
    std::string file, table;
    std::vector<FieldDef> fields;
    bool firstOnly = false;  // the table's first fields only
  };
  const std::vector<Case> cases = {
      {kTypes, "Tablé1",
       {{"A", kText, 50}, {"B", kText, 100}, {"C", kByte, 1}, {"D", kInteger, 2}, {"E", kLong, 4},
        {"F", kDouble, 8}, {"G", kDate, 8}, {"H", kCurrency, 8}, {"I", kBoolean, 1}}},
      {kTypes, "Table4", {{"name", kText, 50}, {"data", kGuid, 16}}},
      {kMany, "Table12", {{"name", kText, 255}, {"data1", kText, 255}, {"data2", kLong, 4}}},
      // Jet 4 keeps text sizes in bytes of UTF-16: 510 bytes are 255 characters.
      {kDates, "MSP_PROJECTS",
       {{"PROJ_ID", kLong, 4}, {"PROJ_NAME", kText, 255}, {"PROJ_PROP_AUTHOR", kMemo, 0},
        {"PROJ_OPT_CALC_ACT_COSTS", kBoolean, 1}},
       true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.table);
    Database database;
    database.Open(File(test.file));
    const TableDef def = database.TableDefs(test.table);
    if (test.firstOnly) {
      ASSERT_GE(def.FieldCount(), static_cast<std::int16_t>(test.fields.size()));
    } else {
      ASSERT_EQ(def.FieldCount(), static_cast<std::int16_t>(test.fields.size()));
    }
    for (std::int16_t position = 0; position < static_cast<std::int16_t>(test.fields.size()); ++position) {
      const FieldDef& field = def.Fields(position);
      const FieldDef& expected = test.fields[static_cast<std::size_t>(position)];
      EXPECT_EQ(field.name, expected.name);
      EXPECT_EQ(field.type, expected.type) << field.name;
      EXPECT_EQ(field.size, expected.size) << field.name;
      // Required comes from the fields' properties, kept apart from the table's definition.
      EXPECT_EQ(field.required, expected.required) << field.name;
    }
  }
}

TEST_F(JetTest, IndexesKeepPrimaryUniqueAndFieldOrder) {
  struct Case {
    std::string file, table;
    std::vector<IndexDef> indexes;  // in the file's order; relationship references left out
  };
  const std::vector<Case> cases = {
      {kMany, "Table12",
       {{"DataIndex", false, false, {"data1", "data2"}}, {"PrimaryKey", true, true, {"name"}}}},
      {kTypes, "Tablé1", {{"B", false, false, {"B"}}, {"PrimaryKey", true, true, {"A"}}}},
      {kLongValues, "MSP_PROJECTS",
       {{"I_MSP_PROJECTS", false, true, {"PROJ_ID"}}, {"I_PROJ_NAME", false, true, {"PROJ_NAME"}}}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.table);
    Database database;
    database.Open(File(test.file));
    const TableDef def = database.TableDefs(test.table);
    ASSERT_EQ(def.IndexCount(), static_cast<std::int16_t>(test.indexes.size()));
    for (std::int16_t position = 0; position < def.IndexCount(); ++position) {
      const IndexDef& index = def.Indexes(position);
      const IndexDef& expected = test.indexes[static_cast<std::size_t>(position)];
      EXPECT_EQ(index.name, expected.name);
      EXPECT_EQ(index.primary, expected.primary) << index.name;
      EXPECT_EQ(index.unique, expected.unique) << index.name;
      EXPECT_EQ(index.fields, expected.fields) << index.name;
    }
  }
  Database database;
  database.Open(File(kMany));
  ASSERT_NE(database.TableDefs("Table12").PrimaryIndex(), nullptr);
  EXPECT_EQ(database.TableDefs("Table12").PrimaryIndex()->fields, std::vector<std::string>{"name"});
  // The primary index is a real one: its keys are all different.
  std::set<std::string> names;
  for (const std::vector<Value>& row : AllValues(database, "Table1")) names.insert(row[0].text);
  EXPECT_EQ(names.size(), 275u);
}

TEST_F(JetTest, EveryTableHasItsRowCount) {
  // The reader also checks each count against the one the table's definition keeps.
  const std::map<std::string, std::size_t> counts = {
      {kTypes + "/Tablé1", 2}, {kTypes + "/Table2", 0}, {kTypes + "/Table3", 0}, {kTypes + "/Table4", 0},
      {kLongValues + "/MSP_PROJECTS", 1}, {kDates + "/MSP_PROJECTS", 1}};
  std::size_t tables = 0;
  for (const std::string& file : {kTypes, kLongValues, kDates}) {
    Database database;
    database.Open(File(file));
    for (const std::string& table : database.TableNames()) {
      SCOPED_TRACE(file + "/" + table);
      ASSERT_EQ(counts.count(file + "/" + table), 1u);
      EXPECT_EQ(AllValues(database, table).size(), counts.at(file + "/" + table));
      ++tables;
    }
  }
  EXPECT_EQ(tables, counts.size());
}

// One field of the row a SELECT finds, as text and by its Null flag.
struct Expected {
  std::string file;
  std::string select;
  std::string field;
  std::string text;  // AppendValueText's form
  bool isNull = false;
};

TEST_F(JetTest, KnownValuesOfEveryTypeInTheirTextForms) {
  const std::vector<Expected> cases = {
      // Every basic type of Jet 3, in a table whose name is not ASCII.
      {kTypes, "SELECT * FROM [Tablé1] WHERE A='abcdefg'", "B", "hijklmnop"},
      {kTypes, "SELECT * FROM [Tablé1] WHERE A='abcdefg'", "C", "2"},
      {kTypes, "SELECT * FROM [Tablé1] WHERE A='abcdefg'", "D", "222"},
      {kTypes, "SELECT * FROM [Tablé1] WHERE A='abcdefg'", "E", "333333333"},
      {kTypes, "SELECT * FROM [Tablé1] WHERE A='abcdefg'", "F", "444,555"},
      {kTypes, "SELECT * FROM [Tablé1] WHERE A='abcdefg'", "G", "21/09/1974"},
      {kTypes, "SELECT * FROM [Tablé1] WHERE A='abcdefg'", "H", "3,5"},
      {kTypes, "SELECT * FROM [Tablé1] WHERE A='abcdefg'", "I", "Vrai"},
      {kTypes, "SELECT * FROM [Tablé1] WHERE A='a'", "H", "0"},
      {kTypes, "SELECT * FROM [Tablé1] WHERE A='a'", "I", "Faux"},
      // Code page 1252 text arrives as UTF-8; dates with their time; a missing value is Null.
      {kLongValues, "SELECT * FROM MSP_PROJECTS WHERE PROJ_ID=1", "PROJ_OPT_CURRENCY_SYMBOL", "£"},
      {kLongValues, "SELECT * FROM MSP_PROJECTS WHERE PROJ_ID=1", "PROJ_OPT_DEF_FINISH_TIME", "03/02/2006 17:00:00"},
      {kLongValues, "SELECT * FROM MSP_PROJECTS WHERE PROJ_ID=1", "PROJ_PROP_CATEGORY", "", true},
      {kLongValues, "SELECT * FROM MSP_PROJECTS WHERE PROJ_ID=1", "PROJ_DATA_SOURCE", "Z:\\temp\\Project1.mpd"},
      {kMany, "SELECT * FROM Table1 WHERE name='row233'", "data", "AA\u00E9AA"},
      // Jet 4: UTF-16 text, a date with its time, a missing value.
      {kDates, "SELECT * FROM MSP_PROJECTS WHERE PROJ_ID=1", "PROJ_NAME", "Project1"},
      {kDates, "SELECT * FROM MSP_PROJECTS WHERE PROJ_ID=1", "PROJ_OPT_CURRENCY_SYMBOL", "£"},
      {kDates, "SELECT * FROM MSP_PROJECTS WHERE PROJ_ID=1", "PROJ_DATA_SOURCE", "Z:\\temp\\Project1.mpd"},
      {kDates, "SELECT * FROM MSP_PROJECTS WHERE PROJ_ID=1", "PROJ_CREATION_DATE_EX", "03/02/2006 22:11:05"},
      {kDates, "SELECT * FROM MSP_PROJECTS WHERE PROJ_ID=1", "PROJ_PROP_CATEGORY", "", true},
  };
  std::map<std::string, Database> databases;
  for (const Expected& test : cases) {
    SCOPED_TRACE(test.select + " / " + test.field);
    Database& database = databases[test.file];
    if (!database.IsOpen()) database.Open(File(test.file));
    Recordset rows = database.OpenRecordset(test.select);
    ASSERT_FALSE(rows.IsEOF());
    int position = -1;
    for (std::int16_t at = 0; at < rows.FieldCount(); ++at) {
      if (rows.Field(at).name == test.field) position = at;
    }
    ASSERT_GE(position, 0);
    const Value& value = rows.FieldValue(static_cast<std::int16_t>(position));
    EXPECT_EQ(value.isNull, test.isNull);
    EXPECT_EQ(ValueToText(value), test.text);
    rows.MoveNext();
    EXPECT_TRUE(rows.IsEOF()) << "one row only";
  }
}

TEST_F(JetTest, OleObjectsAreTheStoredBytes) {
  // Size and ends as `mdb-export -b hex` prints them; the object spans several pages.
  struct Case {
    std::string select, field;
    std::size_t size;
    std::string head, tail;
  };
  const std::vector<Case> cases = {
      {"SELECT * FROM MSP_PROJECTS WHERE PROJ_ID=1", "RESERVED_BINARY_DATA", 22970, "151C2D0002000000",
       "00000000E2AD05FE"},
  };
  Database database;
  database.Open(File(kLongValues));
  for (const Case& test : cases) {
    SCOPED_TRACE(test.select);
    Recordset rows = database.OpenRecordset(test.select);
    ASSERT_FALSE(rows.IsEOF());
    std::int16_t position = 0;
    while (rows.Field(position).name != test.field) ++position;
    const Value& value = rows.FieldValue(position);
    ASSERT_EQ(value.type, kLongBinary);
    EXPECT_EQ(value.text.size(), test.size);
    const std::string hex = ValueToText(value);
    EXPECT_EQ(hex.substr(0, 16), test.head);
    EXPECT_EQ(hex.substr(hex.size() - 16), test.tail);
  }
  // A memo's length in bytes of UTF-8, as mdb-export gives it.
  Recordset rows = database.OpenRecordset("SELECT * FROM MSP_PROJECTS WHERE PROJ_ID=1");
  EXPECT_EQ(rows.FieldValue(2).text.size(), 348u);
  EXPECT_EQ(rows.FieldValue(2).text.substr(0, 25), "Jon Iles this is a a vawe");
}

TEST_F(JetTest, DatesAreTheStoredDayNumbers) {
  // The stored doubles are whole days; their dates worked out by the
  // proleptic Gregorian calendar (mdb-export prints "1900-01-00" for the
  // year 9999 and for every day before 1900).
  Database database;
  database.Open(File(kDates));
  Recordset rows = database.OpenRecordset("SELECT * FROM MSP_PROJECTS");
  ASSERT_FALSE(rows.IsEOF());
  std::size_t seen = 0;
  for (std::int16_t position = 0; position < rows.FieldCount(); ++position) {
    for (const DateField& field : kDateFields) {
      if (rows.Field(position).name != field.name) continue;
      SCOPED_TRACE(field.name);
      const Value& value = rows.FieldValue(position);
      EXPECT_EQ(value.type, kDate);
      EXPECT_EQ(value.real, field.day);
      EXPECT_EQ(ValueToText(value), field.text);
      ++seen;
    }
  }
  EXPECT_EQ(seen, kDateFields.size());
  // The same days from the calendar, independently of the stored numbers.
  EXPECT_EQ(DateSerial(9999, 1, 1), 2958101);
  EXPECT_EQ(DateSerial(1898, 1, 1), -728);
  EXPECT_EQ(DateSerial(632, 1, 1), -463126);
  EXPECT_EQ(DateSerial(1900, 1, 1), 2);
}


TEST_F(JetTest, EveryTableCopiesIntoAnEngineDatabaseThroughTextForms) {
  std::size_t tables = 0;
  std::size_t values = 0;
  // Not kMany: its dates hold fractions of a second, which their text form leaves out.
  for (const std::string& file : {kTypes, kLongValues, kDates}) {
    Database source;
    source.Open(File(file));
    const std::string copyPath = File(file + ".copy");
    Database::Create(copyPath);
    Database copy;
    copy.Open(copyPath);
    for (const std::string& table : source.TableNames()) {
      SCOPED_TRACE(file + " / " + table);
      const TableDef def = source.TableDefs(table);
      std::string create = "CREATE TABLE [" + table + "] (";
      for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
        create += (position ? ", [" : "[") + def.Fields(position).name + "] " + DeclaredTypeOf(def.Fields(position).type, def.Fields(position).size);
      }
      copy.Execute(create + ")");
      for (std::int16_t position = 0; position < def.IndexCount(); ++position) {
        const IndexDef& index = def.Indexes(position);
        std::string fields;
        for (const std::string& field : index.fields) fields += (fields.empty() ? "[" : ", [") + field + "]";
        copy.Execute(std::string(index.unique && !index.primary ? "CREATE UNIQUE INDEX [" : "CREATE INDEX [") +
                     index.name + "] ON [" + table + "] (" + fields + ")" + (index.primary ? " WITH PRIMARY" : ""));
      }
      // As an export and an import would: every value through its text form.
      const std::vector<std::vector<Value>> rows = AllValues(source, table);
      Recordset target = copy.OpenRecordset(table, RecordsetType::kTable);
      for (const std::vector<Value>& row : rows) {
        target.AddNew();
        for (std::size_t position = 0; position < row.size(); ++position) {
          if (!row[position].isNull) target.SetFieldValue(static_cast<std::int16_t>(position), ValueToText(row[position]));
        }
        target.Update();
        values += row.size();
      }
      const TableDef copied = copy.TableDefs(table);
      ASSERT_EQ(copied.FieldCount(), def.FieldCount());
      for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
        EXPECT_EQ(copied.Fields(position).name, def.Fields(position).name);
        EXPECT_EQ(copied.Fields(position).type, def.Fields(position).type);
        EXPECT_EQ(copied.Fields(position).size, def.Fields(position).size);
      }
      ASSERT_EQ(copied.IndexCount(), def.IndexCount());
      for (std::int16_t position = 0; position < def.IndexCount(); ++position) {
        EXPECT_EQ(copied.Indexes(position).name, def.Indexes(position).name);
        EXPECT_EQ(copied.Indexes(position).primary, def.Indexes(position).primary);
        EXPECT_EQ(copied.Indexes(position).unique, def.Indexes(position).unique);
        EXPECT_EQ(copied.Indexes(position).fields, def.Indexes(position).fields);
      }
      EXPECT_EQ(AllValues(copy, table), rows);
      ++tables;
    }
    copy.Close();
    // Read again from the closed file: the copy stands on its own.
    Database reopened;
    reopened.Open(copyPath);
    for (const std::string& table : source.TableNames()) {
      EXPECT_EQ(AllValues(reopened, table), AllValues(source, table)) << table;
    }
  }
  EXPECT_EQ(tables, 6u);
  EXPECT_GT(values, 120u);
}

TEST_F(JetTest, WritesAreRefusedAndTheFileStaysAsItWas) {
  const std::string path = File(kTypes);
  const std::string before = ReadBytes(path);
  Database database;
  database.Open(path);
  const std::vector<std::string> statements = {
      "INSERT INTO [Tablé1] (A, B) values('x', 'y')",
      "INSERT INTO [Tablé1] (A) values('x')",
      // Refused before anything else is looked at.
      "INSERT INTO [Tablé1] (E) values('quatre')",
      "INSERT INTO Absente values(1)",
      "DELETE FROM [Tablé1] WHERE Absent=1",
      "DELETE FROM [Tablé1]",
      "DELETE * FROM [Tablé1] WHERE A='a'",
      "CREATE TABLE Nouvelle (a LONG)",
      "CREATE TABLE [Tablé1] (a LONG)",
      "ALTER TABLE [Tablé1] DROP CONSTRAINT PrimaryKey",
      "ALTER TABLE Table3 ADD CONSTRAINT Cle PRIMARY KEY (b)",
      "CREATE UNIQUE INDEX Cle ON [Tablé1] (B)",
      "DROP INDEX PrimaryKey ON [Tablé1]",
      "DROP TABLE [Tablé1]",
      "DROP TABLE Absente",
  };
  for (const std::string& statement : statements) {
    SCOPED_TRACE(statement);
    try {
      database.Execute(statement);
      ADD_FAILURE() << "accepted";
    } catch (const EngineError& error) {
      EXPECT_EQ(error.Number(), 3027);
      EXPECT_EQ(error.Description(),
                "Mise à jour impossible ; la base de données « " + path + " » est ouverte en lecture seule.");
    }
  }
  Recordset table = database.OpenRecordset("Tablé1", RecordsetType::kTable);
  EXPECT_EQ(Outcome([&] { table.AddNew(); }), Engine(3027));
  EXPECT_EQ(Outcome([&] { table.Update(); }), Engine(3027));
  EXPECT_EQ(Outcome([&] { table.SetFieldValue(0, "4"); }), Engine(3020));
  // A dynaset stays read-only for its own reason.
  Recordset dynaset = database.OpenRecordset("SELECT * FROM [Tablé1]");
  EXPECT_EQ(Outcome([&] { dynaset.AddNew(); }), Engine(3251));
  // Reading still works and found nothing changed.
  EXPECT_EQ(AllValues(database, "Tablé1").size(), 2u);
  EXPECT_EQ(database.TableDefs("Tablé1").IndexCount(), 2);
  EXPECT_EQ(database.TableNames().size(), 4u);
  EXPECT_EQ(Outcome([&] { database.Execute("SELECT * FROM [Tablé1]"); }), Engine(3065));
  database.Close();
  EXPECT_EQ(ReadBytes(path), before);
  std::set<std::string> entries;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
    entries.insert(entry.path().filename().string());
  }
  EXPECT_EQ(entries, std::set<std::string>(kFiles.begin(), kFiles.end()));
}

// The working copy of an Access file is an unnamed temporary: a process
// ended by SIGTERM or SIGKILL while it holds copied tables leaves nothing in
// the temporary folder.
TEST_F(JetTest, TheWorkingCopyLeavesNothingBehind) {
  const fs::path temporary = folder_ / "tmp";
  fs::create_directory(temporary);
  const std::string many = File(kMany);
  // Ordered, a table's rows are read through the working copy.
  auto copiedRows = [](Database& database, const std::string& table) {
    std::size_t rows = 0;
    const std::string first = database.TableDefs(table).Fields(0).name;
    for (Recordset set = database.OpenRecordset("SELECT * FROM [" + table + "] ORDER BY [" + first + "]");
         !set.IsEOF(); set.MoveNext()) {
      ++rows;
    }
    return rows;
  };
  auto readEverything = [many, copiedRows] {
    Database database;
    database.Open(many);
    std::size_t rows = 0;
    for (const std::string& table : database.TableNames()) rows += copiedRows(database, table);
    return rows;
  };
  for (const int signal : {SIGTERM, SIGKILL}) {
    const testsupport::ChildResult result = testsupport::RunInChild([&] {
      ::setenv("TMPDIR", temporary.c_str(), 1);
      readEverything();
      Database held;
      held.Open(many);
      copiedRows(held, "Table1");
      ::raise(signal);
      return std::string("not ended");
    });
    EXPECT_EQ(result.signal, signal);
    EXPECT_TRUE(fs::is_empty(temporary)) << "after signal " << signal;
  }
  EXPECT_TRUE(fs::is_empty(temporary));
}

TEST_F(JetTest, OtherAccessFormatsAndDamagedFilesAreRefused) {
  const std::string jet3 = ReadBytes(File(kTypes));
  auto withHeader = [&](std::string name, char version) {
    std::string bytes = jet3;
    bytes.replace(4, name.size(), name);
    bytes[0x14] = version;
    return bytes;
  };
  struct Case {
    std::string name, bytes;
  };
  const std::vector<Case> cases = {
      {"access-version-7.accdb", withHeader("Standard ACE DB", 7)},
      {"jet-version-2.mdb", withHeader("Standard Jet DB", 2)},
      {"jet-version-5.mdb", withHeader("Standard Jet DB", 5)},
      {"header-only.mdb", jet3.substr(0, 0x20)},
      {"first-page-only.mdb", jet3.substr(0, 2048)},
      {"short-name.mdb", jet3.substr(0, 10)},
      {"empty.mdb", ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string path = File(test.name);
    WriteBytes(path, test.bytes);
    Database database;
    EXPECT_EQ(Outcome([&] { database.Open(path); }), Engine(3343));
    EXPECT_FALSE(database.IsOpen());
    EXPECT_EQ(ReadBytes(path), test.bytes);
  }
}

}  // namespace
