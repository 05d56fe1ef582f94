// SPDX-License-Identifier: Apache-2.0
// A SELECT * of an Access table reads its rows straight from the file; any
// other use of the table reads them from the working copy. Both must give the
// same fields, values and order, for every table of the test files.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/database_copy.h"
#include "dbengine/dbengine.h"

namespace {

using namespace dbengine;
namespace fs = std::filesystem;

std::string Quoted(const Value& value) {
  std::string bits(sizeof value.real, '\0');
  std::memcpy(bits.data(), &value.real, sizeof value.real);
  return std::to_string(value.type) + (value.isNull ? " null " : " ") + std::to_string(value.integer) + " " + bits +
         " " + value.text;
}

TEST(JetStreamTest, StreamedRowsEqualTheWorkingCopys) {
  std::size_t tables = 0;
  for (const char* folder : {"corpus", "ace", "."}) {
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(JET_FIXTURES) / folder)) {
      const std::string path = entry.path().string();
      if (entry.path().extension() != ".mdb" && entry.path().extension() != ".accdb") continue;
      Database streamed;
      Database copied;
      try {
        streamed.Open(path);
        copied.Open(path);
      } catch (const EngineError&) {
        continue;  // a password, a field type the engine refuses: no rows to compare
      }
      for (const std::string& name : streamed.TableNames()) {
        SCOPED_TRACE(path + " " + name);
        const std::string first = copied.TableDefs(name).Fields(0).name;
        // Comparing with Null selects nothing, but copies the table.
        copied.OpenRecordset("SELECT * FROM [" + name + "] WHERE [" + first + "]=Null");
        Recordset a = streamed.OpenRecordset("SELECT * FROM [" + name + "]");
        Recordset b = copied.OpenRecordset("SELECT * FROM [" + name + "]");
        ASSERT_EQ(a.FieldCount(), b.FieldCount());
        for (std::int16_t position = 0; position < a.FieldCount(); ++position) {
          EXPECT_EQ(a.Field(position).name, b.Field(position).name);
          EXPECT_EQ(a.Field(position).type, b.Field(position).type);
          EXPECT_EQ(a.Field(position).size, b.Field(position).size);
          EXPECT_EQ(a.Field(position).required, b.Field(position).required);
        }
        for (; !a.IsEOF() && !b.IsEOF(); a.MoveNext(), b.MoveNext()) {
          for (std::int16_t position = 0; position < a.FieldCount(); ++position) {
            ASSERT_EQ(Quoted(a.FieldValue(position)), Quoted(b.FieldValue(position)));
          }
        }
        EXPECT_TRUE(a.IsEOF() && b.IsEOF());
        ++tables;
      }
    }
  }
  EXPECT_GT(tables, 100u);
}

// Two recordsets read from one file at once, and a table's definition read
// between their rows: each goes on where it stood.
TEST(JetStreamTest, InterleavedRecordsetsEachGoOnWhereTheyStood) {
  Database database;
  database.Open((fs::path(JET_FIXTURES) / "corpus" / "V1997_testIndexCodesV1997.mdb").string());
  auto all = [&](const std::string& table) {
    std::vector<std::string> rows;
    for (Recordset set = database.OpenRecordset("SELECT * FROM [" + table + "]"); !set.IsEOF(); set.MoveNext()) {
      rows.push_back(Quoted(set.FieldValue(0)) + Quoted(set.FieldValue(1)));
    }
    return rows;
  };
  const std::vector<std::string> first = all("Table1");
  const std::vector<std::string> second = all("Table14");
  std::vector<std::string> a, b;
  Recordset one = database.OpenRecordset("SELECT * FROM [Table1]");
  Recordset two = database.OpenRecordset("Table14", RecordsetType::kTable);
  for (std::size_t turn = 0; (!one.IsEOF() || !two.IsEOF()) && turn <= first.size() + second.size();
       ++turn, database.TableDefs("Table1_desc")) {
    for (auto [set, rows] : {std::pair{&one, &a}, std::pair{&two, &b}}) {
      if (set->IsEOF()) continue;
      rows->push_back(Quoted(set->FieldValue(0)) + Quoted(set->FieldValue(1)));
      set->MoveNext();
    }
  }
  EXPECT_EQ(a, first);
  EXPECT_EQ(b, second);
  EXPECT_GT(first.size(), 200u);
}

// `vidange copy` reads an Access table's rows once, while it writes them: a
// table found damaged then fails the whole copy with the file's own error,
// and leaves nothing behind.
TEST(JetStreamTest, CopyOfADamagedTableFailsWholeAndLeavesNothing) {
  const fs::path folder = fs::temp_directory_path() / ("jet_stream_test." + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ifstream in(fs::path(JET_FIXTURES) / "corpus" / "V2000_compIndexTestV2000.mdb", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The row count of Table1's data page (owned by its definition, page 15), past any page.
  std::size_t damaged = 0;
  for (std::size_t page = 3; page * 4096 < bytes.size() && damaged == 0; ++page) {
    const char* header = bytes.data() + page * 4096;
    if (header[0] == 1 && header[4] == 15 && header[5] == 0 && header[6] == 0) damaged = page;
  }
  ASSERT_NE(damaged, 0u);
  bytes[damaged * 4096 + 0x0C] = bytes[damaged * 4096 + 0x0D] = '\xFF';
  const fs::path source = folder / "damaged.mdb";
  std::ofstream(source, std::ios::binary) << bytes;
  std::string failedTable;
  try {
    CopyDatabase(source.string(), (folder / "target.db").string(), {}, {}, &failedTable);
    ADD_FAILURE() << "copied";
  } catch (const EngineError& error) {
    EXPECT_EQ(error.Number(), 3049) << error.Description();
    EXPECT_NE(error.Description().find(source.string()), std::string::npos) << error.Description();
  }
  EXPECT_EQ(failedTable, "");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
  fs::remove_all(folder);
}

}  // namespace
