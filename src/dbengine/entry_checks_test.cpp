// SPDX-License-Identifier: Apache-2.0
// Tests of what the engine refuses at its entry points, before anything is
// stored: names that would change a statement, texts that are not UTF-8.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "dbengine/dbengine.h"

namespace {

using namespace dbengine;
namespace fs = std::filesystem;

int ErrorNumberOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.Number();
  }
  return 0;
}

class EntryChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "dbengine-entry-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    const std::string path = (folder_ / "base.mdb").string();
    Database::Create(path);
    db_.Open(path);
    db_.Execute("CREATE TABLE T (a TEXT(50), m MEMO)");
  }
  void TearDown() override {
    if (db_.IsOpen()) db_.Close();
    fs::remove_all(folder_);
  }

  std::size_t RowCount() {
    std::size_t count = 0;
    for (Recordset rows = db_.OpenRecordset("SELECT * FROM T"); !rows.IsEOF(); rows.MoveNext()) ++count;
    return count;
  }

  fs::path folder_;
  Database db_;
};

TEST_F(EntryChecksTest, NamesWithBracketsAreNeverCreated) {
  for (const char* statement : {
           "CREATE TABLE [a[b] (x LONG)",
           "CREATE TABLE U ([x[y] LONG)",
           "CREATE TABLE U (x LONG, CONSTRAINT [p[k] PRIMARY KEY (x))",
           "CREATE INDEX [i[x] ON T (a)",
           "ALTER TABLE T ADD CONSTRAINT [p[k] PRIMARY KEY (a)",
       }) {
    EXPECT_EQ(ErrorNumberOf([&] { db_.Execute(statement); }), 3125) << statement;
  }
  EXPECT_EQ(db_.TableNames(), std::vector<std::string>{"T"});
  EXPECT_EQ(db_.TableDefs("T").IndexCount(), 0);
}

TEST_F(EntryChecksTest, TextsThatAreNotUtf8AreRefused) {
  const std::string refused[] = {
      "\xFF",              // never in UTF-8
      "ab\x80",            // a lone continuation byte
      "\xC3",              // cut short
      "\xC3(",             // a lead byte without its continuation
      "\xC0\xA9",          // overlong
      "\xED\xA0\x80",      // a surrogate
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
      "\xE9t\xE9",         // Windows-1252 bytes given as they are
  };
  Recordset table = db_.OpenRecordset("T", RecordsetType::kTable);
  for (const std::string& text : refused) {
    EXPECT_EQ(ErrorNumberOf([&] { db_.Execute("INSERT INTO T values('" + text + "', 'm')"); }), 3464)
        << testing::PrintToString(text);
    EXPECT_EQ(ErrorNumberOf([&] { db_.Execute("INSERT INTO [T" + text + "] values('a', 'm')"); }), 3464)
        << testing::PrintToString(text);
    table.AddNew();
    EXPECT_EQ(ErrorNumberOf([&] { table.SetFieldValue(1, text); }), 3421) << testing::PrintToString(text);
  }
  EXPECT_EQ(RowCount(), 0u);

  // What is UTF-8 passes, whatever its characters.
  const std::string accepted = "été € 漢 😀 \xC2\x81";
  db_.Execute("INSERT INTO T values('" + accepted + "', 'm')");
  table.AddNew();
  table.SetFieldValue(0, accepted);
  table.SetFieldValue(1, accepted);
  table.Update();
  EXPECT_EQ(RowCount(), 2u);
}

}  // namespace
