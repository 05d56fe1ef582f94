// SPDX-License-Identifier: Apache-2.0
// The import under faults, with real processes and files: another program
// reading the target, two imports into one table at once, a full disk, and
// the importing process killed. Each must end with the table holding either
// its old rows or the whole file, and a result that says which. And the
// export beside another program's write: all of that write or none of it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/held_reader.h"
#include "transfer/VidangeTables.h"

using namespace transfer;

namespace fs = std::filesystem;

namespace {

constexpr std::int16_t kClearFirst = -1;
const std::vector<std::string> kOldRows = {"-1|ancien 1", "-2|ancien 2", "-3|ancien 3",
                                           "-4|ancien 4", "-5|ancien 5", "-6|ancien 6"};

// Rows of T read with SQLite alone, in storage order ("K|V").
std::vector<std::string> StoredRows(const std::string& path) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "SELECT K, V FROM T ORDER BY rowid", -1, &statement, nullptr) == SQLITE_OK) {
    while (sqlite3_step(statement) == SQLITE_ROW) {
      rows.push_back(std::to_string(sqlite3_column_int64(statement, 0)) + "|" +
                     reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)));
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

std::string IntegrityOf(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_stmt* statement = nullptr;
  std::string result = "unreadable";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return result;
}

// The import of `file` into T of `database`, from open to close, as one program does it.
std::string ImportAlone(const std::string& database, const std::string& file) {
  dbengine::Database db;
  try {
    db.Open(database);
  } catch (const dbengine::Error& error) {
    return "ERR" + std::to_string(error.Number()) + ":" + error.Description();
  }
  std::string separator;
  std::string result = ImportTextIntoTable(db, "T", file, kClearFirst, separator);
  db.Close();
  return result;
}

// Runs ImportAlone in a child process; Wait() gives its result.
class ImportProcess {
 public:
  ImportProcess(const std::string& database, const std::string& file, rlim_t fileSizeLimit = RLIM_INFINITY) {
    int channel[2];
    if (pipe(channel) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(channel[0]);
      if (fileSizeLimit != RLIM_INFINITY) testsupport::LimitFileSize(fileSizeLimit, false);
      const std::string result = ImportAlone(database, file);
      const bool sent = write(channel[1], result.data(), result.size()) == static_cast<ssize_t>(result.size());
      _exit(sent ? 0 : 1);
    }
    close(channel[1]);
    output_ = channel[0];
  }
  pid_t Pid() const { return pid_; }
  bool Finished() { return waitpid(pid_, &status_, WNOHANG) == pid_ && (reaped_ = true); }
  void Kill() { kill(pid_, SIGKILL); }
  std::string Wait() {
    std::string result;
    char buffer[512];
    for (ssize_t got; (got = read(output_, buffer, sizeof buffer)) > 0;) result.append(buffer, got);
    close(output_);
    if (!reaped_) waitpid(pid_, &status_, 0);
    reaped_ = true;
    return result;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  int status_ = 0;
  bool reaped_ = false;
};

class ImportFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("import_faults_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    database_ = MakeDatabase(root_ / "patbase.mdb");
  }
  void TearDown() override {
    if (mounted_) umount2(mountPoint_.c_str(), MNT_DETACH);
    fs::remove_all(root_);
  }

  // A database with table T (primary key K) holding the six old rows.
  static std::string MakeDatabase(const fs::path& path) {
    dbengine::Database::Create(path.string());
    dbengine::Database db;
    db.Open(path.string());
    db.Execute("CREATE TABLE T (K LONG, V TEXT(50), CONSTRAINT PrimaryKey PRIMARY KEY (K))");
    for (int key = 1; key <= 6; ++key) {
      db.Execute("INSERT INTO T values(-" + std::to_string(key) + ", 'ancien " + std::to_string(key) + "')");
    }
    db.Close();
    return path.string();
  }

  // A transfer file of `count` lines "key|tag key", keys from `first`.
  std::string WriteFile(const std::string& name, int count, const std::string& tag, int first = 1) const {
    const std::string path = (root_ / name).string();
    std::ofstream out(path, std::ios::binary);
    for (int key = first; key < first + count; ++key) out << key << '|' << tag << ' ' << key << "\r\n";
    return path;
  }

  std::vector<std::string> ExpectedRows(int count, const std::string& tag, int first = 1) const {
    std::vector<std::string> rows;
    for (int key = first; key < first + count; ++key) {
      rows.push_back(std::to_string(key) + "|" + tag + " " + std::to_string(key));
    }
    return rows;
  }

  fs::path root_;
  std::string database_;
  fs::path mountPoint_;
  bool mounted_ = false;
};

TEST_F(ImportFaultsTest, ReaderOfTheTargetNeitherStallsNorSeesTheImport) {
  const std::string file = WriteFile("TB_T.txt", 50000, "nouveau");
  HeldReader reader(database_, "T");
  ASSERT_EQ(reader.CountBefore(), 6);
  dbengine::Database db;
  db.Open(database_);
  std::string separator;
  EXPECT_EQ(ImportTextIntoTable(db, "T", file, kClearFirst, separator), "ERR0");
  db.Close();
  EXPECT_EQ(StoredRows(database_), ExpectedRows(50000, "nouveau"));
  EXPECT_EQ(reader.Release(), 6) << "the reader keeps the state it began with";
  EXPECT_FALSE(fs::exists(database_ + "-wal")) << "the last program to close leaves one file";
}

TEST_F(ImportFaultsTest, TwoImportsIntoOneTableAreOrderedWhole) {
  const std::string first = WriteFile("TB_A.txt", 400000, "premier");
  // Other keys: rows of both files could stand side by side.
  const std::string second = WriteFile("TB_B.txt", 400000, "second", 1000000);
  ImportProcess a(database_, first);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ImportProcess b(database_, second);
  const std::string resultA = a.Wait();
  const std::string resultB = b.Wait();
  // Each either ran whole or was refused by the lock (3050) having changed nothing.
  for (const std::string& result : {resultA, resultB}) {
    EXPECT_TRUE(result == "ERR0" || result.rfind("ERR3050 (TABLE T):", 0) == 0) << result;
  }
  const std::vector<std::string> rows = StoredRows(database_);
  if (rows == ExpectedRows(400000, "premier")) {
    EXPECT_EQ(resultA, "ERR0");
  } else {
    EXPECT_EQ(rows, ExpectedRows(400000, "second", 1000000)) << "rows of both files mixed";
    EXPECT_EQ(resultB, "ERR0");
  }
  EXPECT_EQ(IntegrityOf(database_), "ok");
}

TEST_F(ImportFaultsTest, FullDiskLeavesTheTableAsItWasAndSaysSo) {
  const std::string file = WriteFile("TB_T.txt", 40000, "nouveau");
  std::string result;
  std::string database = database_;
  mountPoint_ = root_ / "disque";
  fs::create_directories(mountPoint_);
  if (::mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, "size=1m") == 0) {
    mounted_ = true;
    database = (mountPoint_ / "patbase.mdb").string();
    fs::copy_file(database_, database);
    result = ImportAlone(database, file);
    EXPECT_EQ(result.rfind("ERR3026 (TABLE T):Espace disque insuffisant", 0), 0u) << result;
  } else {
    // Without the right to mount, the process's file size limit makes the writes fail instead.
    ImportProcess import(database_, file, fs::file_size(database_) + 256 * 1024);
    result = import.Wait();
    EXPECT_TRUE(result.rfind("ERR3026 (TABLE T):", 0) == 0 || result.rfind("ERR3043 (TABLE T):", 0) == 0)
        << result;
  }
  EXPECT_EQ(StoredRows(database), kOldRows) << result;
  EXPECT_EQ(IntegrityOf(database), "ok");
}

TEST_F(ImportFaultsTest, ExportReadsOneStateOfTheSource) {
  ASSERT_EQ(ImportAlone(database_, WriteFile("TB_T.txt", 200000, "source")), "ERR0");
  // Another program adds 1,000 rows in one transaction while the export runs.
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t writer = fork();
  if (writer == 0) {
    char byte = 0;
    if (read(go[0], &byte, 1) != 1) _exit(1);
    dbengine::Database db;
    db.Open(database_);
    db.BeginTrans();
    for (int key = 300001; key <= 301000; ++key) {
      db.Execute("INSERT INTO T values(" + std::to_string(key) + ", 'ajout')");
    }
    db.CommitTrans();
    db.Close();
    _exit(0);
  }
  dbengine::Database db;
  db.Open(database_);
  std::string separator;
  const std::string file = (root_ / "TB_export.txt").string();
  // The writer starts once the export has begun reading: the recordset's
  // first row is read when it opens, inside the export's first step.
  ASSERT_EQ(write(go[1], "g", 1), 1);
  EXPECT_EQ(ExportTableToText(db, "T", file, separator), "ERR0");
  int status = 0;
  waitpid(writer, &status, 0);
  EXPECT_EQ(status, 0);
  db.Close();
  std::ifstream in(file, std::ios::binary);
  std::size_t lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  EXPECT_TRUE(lines == 200000 || lines == 201000) << lines;
  EXPECT_EQ(StoredRows(database_).size(), 201000u);
}

// The size of the WAL file beside `database` (0 when there is none).
std::uintmax_t WalSize(const std::string& database) {
  std::error_code ignored;
  const std::uintmax_t size = fs::file_size(database + "-wal", ignored);
  return ignored ? 0 : size;
}

TEST_F(ImportFaultsTest, KilledImportLeavesTheOldRows) {
  const std::string file = WriteFile("TB_T.txt", 300000, "nouveau");
  // The whole import, on a copy, tells how far its WAL grows: the kills are
  // placed by that growth, whatever the machine's speed.
  const std::string copy = MakeDatabase(root_ / "copie.mdb");
  std::uintmax_t walAtEnd = 0;
  ImportProcess whole(copy, file);
  while (!whole.Finished()) {
    walAtEnd = std::max(walAtEnd, WalSize(copy));
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ASSERT_EQ(whole.Wait(), "ERR0");
  ASSERT_EQ(StoredRows(copy).size(), 300000u);
  ASSERT_GT(walAtEnd, 1u << 20);

  for (const double fraction : {0.05, 0.4, 0.75}) {
    SCOPED_TRACE(fraction);
    ImportProcess import(database_, file);
    while (!import.Finished() && WalSize(database_) < walAtEnd * fraction) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_FALSE(import.Finished()) << "the import ended before it could be killed";
    import.Kill();
    import.Wait();
    EXPECT_EQ(IntegrityOf(database_), "ok");
    dbengine::Database db;
    db.Open(database_);
    EXPECT_EQ(db.TableDefs("T").IndexCount(), 1);
    db.Close();
    EXPECT_FALSE(fs::exists(database_ + "-wal"));
    EXPECT_FALSE(fs::exists(database_ + "-shm"));
    EXPECT_EQ(StoredRows(database_), kOldRows);
  }
}

}  // namespace
