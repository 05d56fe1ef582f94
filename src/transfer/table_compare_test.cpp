// SPDX-License-Identifier: Apache-2.0
// The table comparison on small tables in one temporary database: rows as
// multisets (duplicates counted), pairing by primary key, values compared by
// value or by their transfer text, fields matched by name in any order.
#include "transfer/table_compare.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace transfer;

namespace fs = std::filesystem;

namespace {

struct Case {
  const char* name;
  const char* firstTable;   // CREATE TABLE A (...)
  const char* secondTable;  // CREATE TABLE B (...)
  std::vector<const char*> firstRows;
  std::vector<const char*> secondRows;
  std::uint64_t missing, extra, different;
  const char* keyed = nullptr;  // the table given a primary key on `key`
  const char* key = "N";
  CompareMode mode = CompareMode::kValues;
  std::size_t fieldTypes = 0;  // fields whose types differ
};

TEST(TableCompareTest, CountsMissingExtraAndDifferentRows) {
  const std::vector<Case> cases = {
      {"no key: a duplicate is a row of its own", "A (N LONG, T TEXT(10))", "B (N LONG, T TEXT(10))",
       {"1,'x'", "1,'x'", "2,'y'"}, {"1,'x'", "2,'y'", "2,'y'"}, 1, 1, 0},
      {"no key: a changed value is one missing and one extra row", "A (N LONG, T TEXT(10))",
       "B (N LONG, T TEXT(10))", {"1,'x'", "2,'y'"}, {"1,'x'", "2,'z'"}, 1, 1, 0},
      {"key of the first table pairs rows", "A (N LONG, T TEXT(10))", "B (N LONG, T TEXT(10))",
       {"1,'x'", "2,'y'", "3,'z'"}, {"1,'x'", "2,'w'", "4,'z'"}, 1, 1, 1, "A"},
      {"key of the second when the first has none", "A (T TEXT(10), N LONG)",
       "B (N LONG, T TEXT(10))", {"'x',1", "'y',2"}, {"1,'x'", "2,'v'"}, 0, 0, 1, "B"},
      {"fields in another order and letter case, same values", "A (N LONG, T TEXT(10), D DOUBLE)",
       "B (d DOUBLE, t TEXT(10), n LONG)", {"1,'x',2.5", "2,Null,0"}, {"2.5,'x',1", "0,Null,2"}, 0, 0, 0},
      {"an integer and a double of the same value read alike", "A (N LONG, T TEXT(10))",
       "B (N DOUBLE, T TEXT(10))", {"3,'x'"}, {"3,'x'"}, 0, 0, 0, nullptr, "N", CompareMode::kValues, 1},
      {"empty tables are identical", "A (N LONG)", "B (N LONG)", {}, {}, 0, 0, 0},
      {"a separator inside a value is no separator", "A (S TEXT(10), T TEXT(10))", "B (S TEXT(10), T TEXT(10))",
       {"'x|','y'"}, {"'x','|y'"}, 1, 1, 0},
      {"nor inside a key", "A (K TEXT(10), L TEXT(10), N LONG)", "B (K TEXT(10), L TEXT(10), N LONG)",
       {"'a|','b',1"}, {"'a','|b',1"}, 1, 1, 0, "A", "K, L"},
      {"Null is not an empty text", "A (T TEXT(10))", "B (T TEXT(10))", {"Null"}, {"''"}, 1, 1, 0},
      {"a double differing in its last bit", "A (D DOUBLE)", "B (D DOUBLE)", {"0.1"}, {"0.10000000000000002"},
       1, 1, 0},
      {"42 in a Long is not '42' in a Text", "A (N LONG)", "B (N TEXT(10))", {"42"}, {"'42'"}, 1, 1, 0, nullptr, "N",
       CompareMode::kValues, 1},
      {"a Text and a Memo of the same texts differ by type only", "A (T TEXT(10))", "B (T MEMO)", {"'x'"}, {"'x'"},
       0, 0, 0, nullptr, "N", CompareMode::kValues, 1},
      {"as the transfer carries them, Null is an empty text", "A (T TEXT(10), N LONG)", "B (T TEXT(10), N TEXT(5))",
       {"Null,4"}, {"'','4'"}, 0, 0, 0, nullptr, "N", CompareMode::kTransferText},
      {"but a separator is still no separator", "A (S TEXT(10), T TEXT(10))", "B (S TEXT(10), T TEXT(10))",
       {"'x|','y'"}, {"'x','|y'"}, 1, 1, 0, nullptr, "N", CompareMode::kTransferText},
  };
  const fs::path root = fs::temp_directory_path() / ("table_compare_" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root);
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = (root / ("base" + std::to_string(index++) + ".mdb")).string();
    dbengine::Database::Create(path);
    dbengine::Database db;
    db.Open(path);
    db.Execute(std::string("CREATE TABLE ") + c.firstTable);
    db.Execute(std::string("CREATE TABLE ") + c.secondTable);
    if (c.keyed != nullptr) {
      db.Execute(std::string("ALTER TABLE ") + c.keyed + " ADD CONSTRAINT PrimaryKey PRIMARY KEY (" + c.key + ")");
    }
    for (const char* row : c.firstRows) db.Execute(std::string("INSERT INTO A VALUES (") + row + ")");
    for (const char* row : c.secondRows) db.Execute(std::string("INSERT INTO B VALUES (") + row + ")");
    const RowDifferences differences = CompareTables(db, "A", db, "B", nullptr, c.mode);
    EXPECT_EQ(differences.fieldTypes.size(), c.fieldTypes);
    EXPECT_EQ(differences.missing, c.missing);
    EXPECT_EQ(differences.extra, c.extra);
    EXPECT_EQ(differences.different, c.different);
    EXPECT_EQ(differences.missingRows.size(), c.missing);
    EXPECT_EQ(differences.extraRows.size(), c.extra);
    EXPECT_EQ(differences.differentRows.size(), c.different);
    db.Close();
  }
  fs::remove_all(root);
}

}  // namespace
