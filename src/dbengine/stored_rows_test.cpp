// SPDX-License-Identifier: Apache-2.0
// A table read in the pages of its file gives exactly the rows, values and
// errors of a read through SQLite, whatever the file holds: values at their
// fields' edges, long values beyond the leaf pages, old rows shorter than
// the table, values another program stored that their fields refuse, and a
// state that lies partly in the write-ahead log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "dbengine/dbengine.h"
#include "storage.h"
#include "support/print_value.h"

namespace fs = std::filesystem;
using dbengine::Database;
using dbengine::Value;

namespace {

constexpr int kRows = 3000;

class StoredRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("stored_rows_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    path_ = (folder_ / "base.mdb").string();
    Database::Create(path_);
    Database database;
    database.Open(path_);
    database.Execute(
        "CREATE TABLE T (n LONG NOT NULL, b BIT, y BYTE, s SHORT, c CURRENCY, f SINGLE, d DOUBLE, t DATETIME, "
        "x TEXT(4), m LONGTEXT, g GUID, z DECIMAL, k BIGINT, bin BINARY(4), lb LONGBINARY)");
    database.BeginTrans();
    for (int row = 0; row < kRows; ++row) {
      const std::string n = std::to_string(row);
      database.Execute("INSERT INTO T (n, k, b, y, s, c, f, d, t, x, m) VALUES (" + n + ", " +
                       std::to_string((row % 2 ? -row : row) * 46912496118LL) + ", " + (row % 2 ? "1" : "0") +
                       ", " + std::to_string(row % 256) + ", " + std::to_string(row % 2 ? -32768 : 32767) +
                       ", " + n + ".1234, 0.5, " + (row % 3 ? "-0.1" : "3") + ", " + n + ".25, '" +
                       (row % 2 ? "éèàü" : "") + "', '" + std::string(row % 500 == 7 ? 9000 : 3, 'm') + "')");
    }
    database.Execute(
        "INSERT INTO T VALUES (-2147483648, 1, 255, -1, -922337203685477.5808, 3.4028234663852886E38, "
        "1.7976931348623157E308, -657434, 'abcd', '', '{12345678-1234-1234-1234-123456789ABC}', "
        "-12345678901234567890.1234, -9223372036854775808, Null, Null)");
    database.CommitTrans();
    database.Close();
    Foreign("UPDATE T SET bin = x'00FF01', lb = x'00' WHERE n = -2147483648; "
            "UPDATE T SET lb = zeroblob(9000) WHERE n = 3");
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Runs `sql` through SQLite alone, as another program would.
  void Foreign(const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  // The rows of T read through the pages (which must be taken when
  // `inPages`), and through a recordset, or the text of the error each threw.
  struct Read {
    std::vector<std::vector<Value>> rows;
    std::string error;
  };
  void ReadBoth(bool inPages, Read& pages, Read& recordset, const std::vector<std::uint64_t>& wanted = {}) {
    std::shared_ptr<dbengine::Storage> storage = dbengine::Storage::Open(path_, {}, true);
    try {
      std::size_t next = 0;
      const bool taken = storage->ReadRowsInPages("T", [&](std::uint64_t ordinal, const std::vector<Value>& row) {
        if (wanted.empty()) {
          pages.rows.push_back(row);
          return ordinal + 1;
        }
        EXPECT_EQ(ordinal, wanted[next]);
        pages.rows.push_back(row);
        return ++next < wanted.size() ? wanted[next] : dbengine::kNoMoreRows;
      });
      EXPECT_EQ(taken, inPages);
    } catch (const dbengine::Error& error) {
      pages.error = std::to_string(error.Number()) + " " + error.what();
    }
    try {
      std::unique_ptr<dbengine::Cursor> rows = storage->OpenCursor("SELECT * FROM T", dbengine::RecordsetType::kDynaset);
      for (std::uint64_t ordinal = 0; !rows->IsEOF(); rows->MoveNext(), ++ordinal) {
        if (wanted.empty() || std::find(wanted.begin(), wanted.end(), ordinal) != wanted.end()) {
          recordset.rows.push_back(rows->Row());
        }
      }
    } catch (const dbengine::Error& error) {
      recordset.error = std::to_string(error.Number()) + " " + error.what();
    }
  }

  fs::path folder_;
  std::string path_;
};

TEST_F(StoredRowsTest, PagesGiveTheRowsAndErrorsOfSqlite) {
  struct Case {
    const char* what;
    std::string foreign;  // run by another program before the read
    bool inPages;
    const char* error;    // part of the error both reads give, or nullptr
    const char* logged = nullptr;  // run by another program while a third holds the file open
  };
  const Case cases[] = {
      {"values at their fields' edges, long texts on overflow pages", "", true, nullptr},
      {"old rows shorter than the table", "ALTER TABLE T ADD COLUMN \"e\" LONG DEFAULT 7", true, nullptr},
      {"a text longer than its field", "UPDATE T SET x = 'abcde' WHERE n = 2500", true, "3421"},
      {"an integer beyond its field", "UPDATE T SET s = 40000 WHERE n = 10", true, "3421"},
      {"a real in a field of whole numbers", "UPDATE T SET n = 1.5 WHERE n = 11", true, "3421"},
      {"a whole number too large to be an exact date", "UPDATE T SET t = 9007199254740993 WHERE n = 12", true,
       "3421"},
      {"a byte string in a text", "UPDATE T SET m = x'00' WHERE n = 13", true, "3421"},
      {"Yes/No holding 2", "UPDATE T SET b = 2 WHERE n = 14", true, "3421"},
      {"rows in the write-ahead log", "", false, nullptr, "INSERT INTO T (n) VALUES (100000)"},
      {"a write-ahead log emptied", "", true, nullptr,
       "INSERT INTO T (n) VALUES (100000); PRAGMA wal_checkpoint(TRUNCATE)"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    SetUp();
    if (!test.foreign.empty()) Foreign(test.foreign);
    sqlite3* holder = nullptr;  // keeps the log from being written back and removed
    if (test.logged != nullptr) {
      ASSERT_EQ(sqlite3_open(path_.c_str(), &holder), SQLITE_OK);
      sqlite3_exec(holder, "SELECT 1 FROM T LIMIT 1", nullptr, nullptr, nullptr);
      Foreign(test.logged);
    }
    Read pages;
    Read recordset;
    ReadBoth(test.inPages, pages, recordset);
    sqlite3_close(holder);
    if (test.error != nullptr) {
      EXPECT_EQ(recordset.error.rfind(test.error, 0), 0u) << recordset.error;
    } else {
      EXPECT_EQ(recordset.error, "");
      EXPECT_EQ(recordset.rows.size(), std::size_t{kRows} + (test.logged != nullptr ? 2 : 1));
    }
    if (test.inPages) {
      EXPECT_EQ(pages.error, recordset.error);
      EXPECT_EQ(pages.rows, recordset.rows);
    }
  }
}

TEST_F(StoredRowsTest, RowsPassedOverAreNotGiven) {
  Read pages;
  Read recordset;
  // A row passed over within a leaf, then whole leaves, then the end.
  ReadBoth(true, pages, recordset, {0, 2, 3, 500, 501, 1700, kRows});
  ASSERT_EQ(pages.rows.size(), 7u);
  EXPECT_EQ(pages.rows, recordset.rows);
}

}  // namespace
