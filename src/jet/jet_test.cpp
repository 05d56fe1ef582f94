// SPDX-License-Identifier: Apache-2.0
// Tests of reading Access files: two real files of tests/data/jet (nwind.mdb,
// Jet 3 with code page 1252; DateTestDatabase.mdb, Jet 4), copied into a
// folder of each test's own, read through the engine's public handle. The
// values are checked against what mdb-export printed for them (dates, which
// mdb-export cannot print before 1900 or in the year 9999, against the stored
// day numbers).
#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstdint>
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
#include "dbengine/statement.h"
#include "support/child_process.h"

namespace dbengine {
// Readable failure messages of the engine's values read from Access files.
void PrintTo(const Value& value, std::ostream* out) {
  *out << "{type " << value.type << (value.isNull ? ", Null" : "") << ", integer " << value.integer << ", real "
       << value.real << ", text '" << value.text << "'}";
}
}  // namespace dbengine

namespace {

using namespace dbengine;
namespace fs = std::filesystem;

const fs::path kFixtures = JET_FIXTURES;
const std::string kNwind = "nwind.mdb";
const std::string kDates = "DateTestDatabase.mdb";

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
    ASSERT_TRUE(fs::is_regular_file(kFixtures / kNwind) && fs::is_regular_file(kFixtures / kDates))
        << "the Access test files are not at " << kFixtures;
    std::string pattern = (fs::temp_directory_path() / "dbengine-jet-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    for (const std::string& name : {kNwind, kDates}) fs::copy_file(kFixtures / name, folder_ / name);
  }
  void TearDown() override {
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }
  std::string File(const std::string& name) const { return (folder_ / name).string(); }

  fs::path folder_;
};

TEST_F(JetTest, TableNamesInCatalogOrder) {
  Database nwind;
  nwind.Open(File(kNwind));
  // Most catalog rows of this file were moved to other pages; each keeps its place.
  EXPECT_EQ(nwind.TableNames(), (std::vector<std::string>{"Categories", "Customers", "Employees", "Order Details",
                                                          "Orders", "Products", "Shippers", "Suppliers",
                                                          "Umsätze"}));
  EXPECT_EQ(nwind.Path(), File(kNwind));
  Database dates;
  dates.Open(File(kDates));
  EXPECT_EQ(dates.TableNames(), std::vector<std::string>{"DateTest"});
}

TEST_F(JetTest, FieldsKeepNamesOrderTypesSizesAndRequired) {
  struct Case {
    std::string file, table;
    std::vector<FieldDef> fields;
  };
  const std::vector<Case> cases = {
      {kNwind, "Order Details",
       {{"OrderID", kLong, 4}, {"ProductID", kLong, 4, true}, {"UnitPrice", kCurrency, 8, true},
        {"Quantity", kInteger, 2, true}, {"Discount", kSingle, 4, true}}},
      {kNwind, "Products",
       {{"ProductID", kLong, 4}, {"ProductName", kText, 40, true}, {"SupplierID", kLong, 4}, {"CategoryID", kLong, 4},
        {"QuantityPerUnit", kText, 20}, {"UnitPrice", kCurrency, 8}, {"UnitsInStock", kInteger, 2},
        {"UnitsOnOrder", kInteger, 2}, {"ReorderLevel", kInteger, 2}, {"Discontinued", kBoolean, 1}}},
      {kNwind, "Categories",
       {{"CategoryID", kLong, 4}, {"CategoryName", kText, 15, true}, {"Description", kMemo, 0},
        {"Picture", kLongBinary, 0}}},
      {kNwind, "Shippers", {{"ShipperID", kLong, 4}, {"CompanyName", kText, 40, true}, {"Phone", kText, 24}}},
      // Jet 4 keeps text sizes in bytes of UTF-16: 510 bytes are 255 characters.
      {kDates, "DateTest",
       {{"IDCol", kLong, 4}, {"DateTimeCol", kDate, 8}, {"DateCol", kDate, 8}, {"TimeCol", kDate, 8},
        {"LongTextCol", kMemo, 0}, {"ShortTextCol", kText, 255}}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.table);
    Database database;
    database.Open(File(test.file));
    const TableDef def = database.TableDefs(test.table);
    ASSERT_EQ(def.FieldCount(), static_cast<std::int16_t>(test.fields.size()));
    for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
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
    std::string table;
    std::vector<IndexDef> indexes;  // in the file's order; relationship references left out
  };
  const std::vector<Case> cases = {
      {"Order Details",
       {{"OrderID", false, false, {"OrderID"}},
        {"PrimaryKey", true, true, {"OrderID", "ProductID"}},
        {"ProductID", false, false, {"ProductID"}}}},
      {"Categories", {{"CategoryName", false, true, {"CategoryName"}}, {"PrimaryKey", true, true, {"CategoryID"}}}},
      {"Shippers", {{"PrimaryKey", true, true, {"ShipperID"}}}},
  };
  Database database;
  database.Open(File(kNwind));
  for (const Case& test : cases) {
    SCOPED_TRACE(test.table);
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
  ASSERT_NE(database.TableDefs("Order Details").PrimaryIndex(), nullptr);
  EXPECT_EQ(database.TableDefs("Order Details").PrimaryIndex()->fields,
            (std::vector<std::string>{"OrderID", "ProductID"}));
  // The unique index is a real one: its keys are all different.
  std::set<std::string> names;
  for (const std::vector<Value>& row : AllValues(database, "Categories")) names.insert(row[1].text);
  EXPECT_EQ(names.size(), 8u);
}

TEST_F(JetTest, EveryTableHasItsRowCount) {
  // The reader also checks each count against the one the table's definition keeps.
  const std::map<std::string, std::size_t> counts = {
      {"Order Details", 2155}, {"Orders", 830}, {"Products", 77}, {"Shippers", 3}, {"Categories", 8},
      {"Customers", 91},       {"Employees", 9}, {"Suppliers", 29}, {"Umsätze", 830}, {"DateTest", 6}};
  std::size_t tables = 0;
  for (const std::string& file : {kNwind, kDates}) {
    Database database;
    database.Open(File(file));
    for (const std::string& table : database.TableNames()) {
      SCOPED_TRACE(table);
      ASSERT_EQ(counts.count(table), 1u);
      EXPECT_EQ(AllValues(database, table).size(), counts.at(table));
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
      // Long, Currency (ten-thousandths, decimal comma), Integer, Single.
      {kNwind, "SELECT * FROM [Order Details] WHERE OrderID=10248 AND ProductID=42", "OrderID", "10248"},
      {kNwind, "SELECT * FROM [Order Details] WHERE OrderID=10248 AND ProductID=42", "UnitPrice", "9,8"},
      {kNwind, "SELECT * FROM [Order Details] WHERE OrderID=10248 AND ProductID=42", "Quantity", "10"},
      {kNwind, "SELECT * FROM [Order Details] WHERE OrderID=10248 AND ProductID=42", "Discount", "0"},
      {kNwind, "SELECT * FROM [Order Details] WHERE OrderID=10250 AND ProductID=51", "UnitPrice", "42,4"},
      {kNwind, "SELECT * FROM [Order Details] WHERE OrderID=10250 AND ProductID=51", "Discount", "0,15"},
      {kNwind, "SELECT * FROM [Order Details] WHERE OrderID=10251 AND ProductID=22", "Discount", "0,05"},
      // Boolean from the null bit; Text; Currency without decimals.
      {kNwind, "SELECT * FROM Products WHERE ProductID=1", "ProductName", "Chai"},
      {kNwind, "SELECT * FROM Products WHERE ProductID=1", "UnitPrice", "18"},
      {kNwind, "SELECT * FROM Products WHERE ProductID=1", "Discontinued", "Faux"},
      {kNwind, "SELECT * FROM Products WHERE ProductID=5", "Discontinued", "Vrai"},
      {kNwind, "SELECT * FROM Products WHERE ProductID=5", "UnitPrice", "21,35"},
      // Code page 1252 text arrives as UTF-8; a missing value is Null.
      {kNwind, "SELECT * FROM Customers WHERE CustomerID='BERGS'", "CompanyName", "Berglunds snabbköp"},
      {kNwind, "SELECT * FROM Customers WHERE CustomerID='BERGS'", "City", "Luleå"},
      {kNwind, "SELECT * FROM Customers WHERE CustomerID='BERGS'", "Region", "", true},
      {kNwind, "SELECT * FROM Customers WHERE CustomerID='BLONP'", "ContactName", "Frédérique Citeaux"},
      {kNwind, "SELECT * FROM Customers WHERE CustomerID='ANATR'", "City", "México D.F."},
      {kNwind, "SELECT * FROM Umsätze WHERE OrderID=10330", "ShipAddress",
       "Carrera 52 con Ave. Bolívar #65-98 Llano Largo"},
      {kNwind, "SELECT * FROM Umsätze WHERE OrderID=10330", "Freight", "12,75"},
      {kNwind, "SELECT * FROM Umsätze WHERE OrderID=10330", "OrderDate", "16/11/1994"},
      {kNwind, "SELECT * FROM Employees WHERE EmployeeID=1", "BirthDate", "08/12/1948"},
      {kNwind, "SELECT * FROM Employees WHERE EmployeeID=1", "HireDate", "01/05/1992"},
      {kNwind, "SELECT * FROM Employees WHERE EmployeeID=1", "Address", "507 - 20th Ave. E.\r\nApt. 2A"},
      {kNwind, "SELECT * FROM Employees WHERE EmployeeID=5", "ReportsTo", "2"},
      {kNwind, "SELECT * FROM Employees WHERE EmployeeID=2", "ReportsTo", "", true},
      // Memo, in the row or on pages of its own.
      {kNwind, "SELECT * FROM Categories WHERE CategoryID=1", "Description",
       "Soft drinks, coffees, teas, beers, and ales"},
      {kNwind, "SELECT * FROM Suppliers WHERE SupplierID=2", "HomePage", "#CAJUN.HTM#"},
      {kNwind, "SELECT * FROM Suppliers WHERE SupplierID=1", "HomePage", "", true},
      // Jet 4: compressed UTF-16 text and memo.
      {kDates, "SELECT * FROM DateTest WHERE IDCol=6", "LongTextCol", "New line\r\nin field"},
      {kDates, "SELECT * FROM DateTest WHERE IDCol=6", "ShortTextCol", "No new line"},
      {kDates, "SELECT * FROM DateTest WHERE IDCol=5", "ShortTextCol", "Escaped new line \\r\\n in field"},
      {kDates, "SELECT * FROM DateTest WHERE IDCol=2", "ShortTextCol", "Year 1999"},
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
  // Sizes and ends as `mdb-export -b hex` prints them; the photos span several pages.
  struct Case {
    std::string select, field;
    std::size_t size;
    std::string head, tail;
  };
  const std::vector<Case> cases = {
      {"SELECT * FROM Categories WHERE CategoryID=1", "Picture", 10746, "151C2F0002000000", "00000000C7AD05FE"},
      {"SELECT * FROM Categories WHERE CategoryID=8", "Picture", 10746, "151C2F0002000000", "0000000094AD05FE"},
      {"SELECT * FROM Employees WHERE EmployeeID=1", "Photo", 21626, "151C2F0002000000", "0000000082AD05FE"},
      {"SELECT * FROM Employees WHERE EmployeeID=3", "Photo", 21722, "151C2F0002000000", "000000005FAD05FE"},
  };
  Database database;
  database.Open(File(kNwind));
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
  // Memo lengths in bytes of UTF-8, as mdb-export gives them.
  const std::vector<std::pair<int, std::size_t>> notes = {{1, 175}, {2, 448}, {3, 239}, {9, 95}};
  for (const auto& [employee, size] : notes) {
    Recordset rows = database.OpenRecordset("SELECT * FROM Employees WHERE EmployeeID=" + std::to_string(employee));
    EXPECT_EQ(rows.FieldValue(15).text.size(), size) << employee;
  }
}

TEST_F(JetTest, DatesAreTheStoredDayNumbers) {
  // The stored doubles are whole days; their dates worked out by the
  // proleptic Gregorian calendar (mdb-export prints "1900-01-00" for the
  // year 9999 and for every day before 1900).
  struct Case {
    int id;
    double dateTime, date, time;
    std::string dateTimeText, dateText, timeText;
  };
  const std::vector<Case> cases = {
      {1, 44532, 44532, 44532, "02/12/2021", "02/12/2021", "02/12/2021"},
      {2, 2958101, 2958101, 2958101, "01/01/9999", "01/01/9999", "01/01/9999"},
      {3, -728, -363, 2, "01/01/1898", "01/01/1899", "01/01/1900"},
      {4, -463126, -462760, -462395, "01/01/0632", "01/01/0633", "01/01/0634"},
      {5, 44532, 44532, 44532, "02/12/2021", "02/12/2021", "02/12/2021"},
      {6, 44532, 44532, 44532, "02/12/2021", "02/12/2021", "02/12/2021"},
  };
  Database database;
  database.Open(File(kDates));
  std::size_t seen = 0;
  for (Recordset rows = database.OpenRecordset("SELECT * FROM DateTest ORDER BY IDCol"); !rows.IsEOF();
       rows.MoveNext(), ++seen) {
    ASSERT_LT(seen, cases.size());
    const Case& test = cases[seen];
    SCOPED_TRACE(test.id);
    EXPECT_EQ(rows.FieldValue(0).integer, test.id);
    const double serials[] = {test.dateTime, test.date, test.time};
    const std::string texts[] = {test.dateTimeText, test.dateText, test.timeText};
    for (std::int16_t column = 1; column <= 3; ++column) {
      const Value& value = rows.FieldValue(column);
      EXPECT_EQ(value.type, kDate);
      EXPECT_EQ(value.real, serials[column - 1]);
      EXPECT_EQ(ValueToText(value), texts[column - 1]);
    }
  }
  EXPECT_EQ(seen, cases.size());
  // The same days from the calendar, independently of the stored numbers.
  EXPECT_EQ(DateSerial(9999, 1, 1), 2958101);
  EXPECT_EQ(DateSerial(1898, 1, 1), -728);
  EXPECT_EQ(DateSerial(632, 1, 1), -463126);
  EXPECT_EQ(DateSerial(2021, 12, 2), 44532);
}


TEST_F(JetTest, EveryTableCopiesIntoAnEngineDatabaseThroughTextForms) {
  std::size_t tables = 0;
  std::size_t values = 0;
  for (const std::string& file : {kNwind, kDates}) {
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
  EXPECT_EQ(tables, 10u);
  EXPECT_GT(values, 30000u);
}

TEST_F(JetTest, WritesAreRefusedAndTheFileStaysAsItWas) {
  const std::string path = File(kNwind);
  const std::string before = ReadBytes(path);
  Database database;
  database.Open(path);
  const std::vector<std::string> statements = {
      "INSERT INTO Shippers values(4, 'Nouveau', '01 02 03 04 05')",
      "INSERT INTO Shippers (ShipperID) values(4)",
      // Refused before anything else is looked at.
      "INSERT INTO Shippers values('quatre', 'Nouveau', '01')",
      "INSERT INTO Absente values(1)",
      "DELETE FROM Shippers WHERE Absent=1",
      "DELETE FROM Shippers",
      "DELETE * FROM Shippers WHERE ShipperID=1",
      "CREATE TABLE Nouvelle (a LONG)",
      "CREATE TABLE Shippers (a LONG)",
      "ALTER TABLE Shippers DROP CONSTRAINT PrimaryKey",
      "ALTER TABLE Products ADD CONSTRAINT Cle PRIMARY KEY (ProductName)",
      "CREATE UNIQUE INDEX Phone ON Shippers (Phone)",
      "DROP INDEX PrimaryKey ON Shippers",
      "DROP TABLE Shippers",
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
  Recordset table = database.OpenRecordset("Shippers", RecordsetType::kTable);
  EXPECT_EQ(Outcome([&] { table.AddNew(); }), Engine(3027));
  EXPECT_EQ(Outcome([&] { table.Update(); }), Engine(3027));
  EXPECT_EQ(Outcome([&] { table.SetFieldValue(0, "4"); }), Engine(3020));
  // A dynaset stays read-only for its own reason.
  Recordset dynaset = database.OpenRecordset("SELECT * FROM Shippers");
  EXPECT_EQ(Outcome([&] { dynaset.AddNew(); }), Engine(3251));
  // Reading still works and found nothing changed.
  EXPECT_EQ(AllValues(database, "Shippers").size(), 3u);
  EXPECT_EQ(database.TableDefs("Shippers").IndexCount(), 1);
  EXPECT_EQ(database.TableNames().size(), 9u);
  EXPECT_EQ(Outcome([&] { database.Execute("SELECT * FROM Shippers"); }), Engine(3065));
  database.Close();
  EXPECT_EQ(ReadBytes(path), before);
  std::set<std::string> entries;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
    entries.insert(entry.path().filename().string());
  }
  EXPECT_EQ(entries, (std::set<std::string>{kNwind, kDates}));
}

// The working copy of an Access file is an unnamed temporary: a process
// ended by SIGTERM or SIGKILL while it holds copied tables leaves nothing in
// the temporary folder; a full temporary folder is named as such in the
// error, never the Access file, which is only read.
TEST_F(JetTest, TheWorkingCopyLeavesNothingBehindAndAFullTemporaryFolderIsNamed) {
  const fs::path temporary = folder_ / "tmp";
  fs::create_directory(temporary);
  const std::string nwind = File(kNwind);
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
  auto readEverything = [nwind, copiedRows] {
    Database database;
    database.Open(nwind);
    std::size_t rows = 0;
    for (const std::string& table : database.TableNames()) rows += copiedRows(database, table);
    return rows;
  };
  for (const int signal : {SIGTERM, SIGKILL}) {
    const testsupport::ChildResult result = testsupport::RunInChild([&] {
      ::setenv("TMPDIR", temporary.c_str(), 1);
      readEverything();
      Database held;
      held.Open(nwind);
      copiedRows(held, "Order Details");
      ::raise(signal);
      return std::string("not ended");
    });
    EXPECT_EQ(result.signal, signal);
    EXPECT_TRUE(fs::is_empty(temporary)) << "after signal " << signal;
  }
  const testsupport::ChildResult full = testsupport::RunInChild([&] {
    ::setenv("TMPDIR", temporary.c_str(), 1);
    testsupport::LimitFileSize(100001, false);
    try {
      readEverything();
    } catch (const EngineError& error) {
      return std::to_string(error.Number()) + ":" + error.Description();
    }
    return std::string("no error");
  });
  EXPECT_EQ(full.report.rfind("3026:", 0), 0u) << full.report;
  EXPECT_NE(full.report.find("« " + temporary.string() + " »"), std::string::npos) << full.report;
  EXPECT_EQ(full.report.find(kNwind), std::string::npos) << full.report;
  EXPECT_TRUE(fs::is_empty(temporary));
}

TEST_F(JetTest, OtherAccessFormatsAndDamagedFilesAreRefused) {
  const std::string nwind = ReadBytes(File(kNwind));
  auto withHeader = [&](std::string name, char version) {
    std::string bytes = nwind;
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
      {"header-only.mdb", nwind.substr(0, 0x20)},
      {"first-page-only.mdb", nwind.substr(0, 2048)},
      {"short-name.mdb", nwind.substr(0, 10)},
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
