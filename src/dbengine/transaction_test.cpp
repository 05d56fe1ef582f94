// SPDX-License-Identifier: Apache-2.0
// Explicit transactions, the journal mode kept in the file, waits for another
// program's write, and a database in a folder that cannot be written.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "dbengine/dbengine.h"
#include "support/child_process.h"
#include "support/held_reader.h"

namespace fs = std::filesystem;
using dbengine::Database;

namespace {

std::string Outcome(const std::function<void()>& action) {
  try {
    action();
  } catch (const dbengine::Error& error) {
    return std::to_string(error.Number());
  }
  return "ok";
}

// Runs `sql` through SQLite alone in a child process, as another program
// would, and leaves it without closing the file when `close` is false.
std::string OtherProgram(const std::string& path, const std::string& sql, bool close) {
  return testsupport::RunInChild([&] {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    if (close) sqlite3_close(db);
    return std::to_string(rc);
  }).report;
}

std::vector<std::string> Keys(Database& database, const std::string& table = "T") {
  std::vector<std::string> keys;
  dbengine::Recordset rows = database.OpenRecordset("SELECT * FROM [" + table + "] ORDER BY a");
  for (; !rows.IsEOF(); rows.MoveNext()) {
    std::string text;
    dbengine::AppendValueText(rows.FieldValue(0), text);
    keys.push_back(text);
  }
  return keys;
}

// The journal mode the file's header gives: 1 rollback journal, 2 WAL.
int HeaderJournalMode(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string header(100, '\0');
  in.read(header.data(), 100);
  return header[18] == header[19] ? header[18] : -1;
}

class TransactionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("transaction_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    path_ = (root_ / "base.mdb").string();
  }
  void TearDown() override {
    if (mounted_) umount2(mountPoint_.c_str(), MNT_DETACH);
    fs::remove_all(root_);
  }

  void CreateWithTable() {
    Database::Create(path_);
    Database database;
    database.Open(path_);
    database.Execute("CREATE TABLE T (a LONG, CONSTRAINT PrimaryKey PRIMARY KEY (a))");
    database.Close();
  }

  fs::path root_;
  std::string path_;
  fs::path mountPoint_;
  bool mounted_ = false;
};

TEST_F(TransactionTest, CommitRollbackFailingStatementsAndNesting) {
  CreateWithTable();
  Database database;
  database.Open(path_);
  EXPECT_EQ(Outcome([&] { database.CommitTrans(); }), "3034");
  EXPECT_EQ(Outcome([&] { database.Rollback(); }), "3034");

  // A failing statement undoes only itself.
  database.BeginTrans();
  database.Execute("INSERT INTO T values(1)");
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T values(1)"); }), "3022");
  database.Execute("INSERT INTO T values(2)");
  database.CommitTrans();
  EXPECT_EQ(Keys(database), (std::vector<std::string>{"1", "2"}));

  database.BeginTrans();
  database.Execute("INSERT INTO T values(3)");
  database.Execute("DELETE FROM T WHERE a=1");
  database.Execute("CREATE TABLE U (a LONG)");
  EXPECT_EQ(Keys(database), (std::vector<std::string>{"2", "3"}));
  database.Rollback();
  EXPECT_EQ(Keys(database), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(Outcome([&] { database.TableDefs("U"); }), "3265") << "the definition went with the rollback";

  // An inner level's rollback undoes its own work only; its commit joins the outer level.
  database.BeginTrans();
  database.Execute("INSERT INTO T values(4)");
  database.BeginTrans();
  database.Execute("INSERT INTO T values(5)");
  database.Rollback();
  database.BeginTrans();
  database.Execute("INSERT INTO T values(6)");
  database.CommitTrans();
  EXPECT_EQ(Keys(database), (std::vector<std::string>{"1", "2", "4", "6"}));
  database.Rollback();
  EXPECT_EQ(Keys(database), (std::vector<std::string>{"1", "2"}));

  for (int level = 0; level < 5; ++level) database.BeginTrans();
  EXPECT_EQ(Outcome([&] { database.BeginTrans(); }), "3003");
  for (int level = 0; level < 5; ++level) database.CommitTrans();
  EXPECT_EQ(Outcome([&] { database.CommitTrans(); }), "3034");

  // Close inside a transaction undoes it, as the handle's end does.
  database.BeginTrans();
  database.Execute("INSERT INTO T values(7)");
  database.Close();
  {
    Database again;
    again.Open(path_);
    again.BeginTrans();
    again.Execute("INSERT INTO T values(8)");
  }
  database.Open(path_);
  EXPECT_EQ(Keys(database), (std::vector<std::string>{"1", "2"}));
  database.Close();
  EXPECT_FALSE(fs::exists(path_ + "-wal"));
  EXPECT_EQ(HeaderJournalMode(path_), 2) << "the database stays in WAL";
}

TEST_F(TransactionTest, OtherProgramsReadOnAndTheirWritesWaitThenFailUnchanged) {
  CreateWithTable();
  Database writer;
  writer.Open(path_);
  writer.Execute("INSERT INTO T values(1)");
  writer.BeginTrans();
  writer.Execute("INSERT INTO T values(2)");

  Database other;
  other.Open(path_);
  EXPECT_EQ(Keys(other), std::vector<std::string>{"1"}) << "a reader sees the last commit, without waiting";
  EXPECT_EQ(Outcome([&] { other.BeginTrans(); }), "3050") << "after waiting for the writer";
  writer.CommitTrans();
  EXPECT_EQ(Keys(other), (std::vector<std::string>{"1", "2"}));
  other.Execute("INSERT INTO T values(3)");
  other.Close();
  writer.Close();
}

TEST_F(TransactionTest, OnceAWaitRanOutLaterWritesFailAtOnceWhenAsked) {
  CreateWithTable();
  Database database;
  int calls = 0;
  database.SetLockWaitCallback([&] { ++calls; });
  database.SetFailAtOnceAfterLockTimeout(true);
  database.Open(path_);
  HeldReader writer(path_, "T", HeldReader::kWrite);
  ASSERT_EQ(writer.CountBefore(), 0);
  using Clock = std::chrono::steady_clock;
  Clock::time_point start = Clock::now();
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T values(1)"); }), "3050");
  const Clock::duration wait = Clock::now() - start;
  EXPECT_GT(calls, 0) << "called while the write waited";
  start = Clock::now();
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T values(2)"); }), "3050");
  EXPECT_EQ(Outcome([&] { database.BeginTrans(); }), "3050");
  EXPECT_LT(Clock::now() - start, wait / 2) << "no new wait";
  EXPECT_EQ(writer.Release(), 0);
  // The other program done, writes go through again.
  database.Execute("INSERT INTO T values(3)");
  EXPECT_EQ(Keys(database), std::vector<std::string>{"3"});
  database.Close();
}

TEST_F(TransactionTest, RollbackJournalIsLeftForWalWhenNobodyReads) {
  // A database made by another SQLite tool, in rollback-journal mode.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA journal_mode=DELETE; CREATE TABLE T (a LONG)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_EQ(HeaderJournalMode(path_), 1);

  Database database;
  database.Open(path_);
  {
    // While another program reads, the switch cannot be had: the file keeps
    // its journal, and a write then waits for that reader.
    HeldReader reader(path_, "T");
    ASSERT_EQ(reader.CountBefore(), 0);
    EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T values(1)"); }), "3050");
    EXPECT_EQ(HeaderJournalMode(path_), 1);
    EXPECT_EQ(reader.Release(), 0);
  }
  database.Execute("INSERT INTO T values(2)");
  EXPECT_EQ(HeaderJournalMode(path_), 2);
  database.Close();
  EXPECT_EQ(HeaderJournalMode(path_), 2);
  EXPECT_FALSE(fs::exists(path_ + "-wal"));
  EXPECT_FALSE(fs::exists(path_ + "-shm"));
}

TEST_F(TransactionTest, DatabaseInAFolderThatCannotBeWrittenOpensForReading) {
  mountPoint_ = root_ / "lecture";
  fs::create_directories(mountPoint_);
  path_ = (mountPoint_ / "base.mdb").string();
  CreateWithTable();
  {
    Database database;
    database.Open(path_);
    database.Execute("INSERT INTO T values(1)");
  }
  // The folder is made read-only: a read-only bind mount as root (who may
  // write whatever the permissions say), its permissions otherwise.
  if (::geteuid() == 0) {
    ASSERT_EQ(::mount(mountPoint_.c_str(), mountPoint_.c_str(), nullptr, MS_BIND, nullptr), 0);
    mounted_ = true;
    ASSERT_EQ(::mount(nullptr, mountPoint_.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0);
  } else {
    fs::permissions(mountPoint_, fs::perms::owner_read | fs::perms::owner_exec);
  }
  Database database;
  database.Open(path_);
  EXPECT_EQ(Keys(database), std::vector<std::string>{"1"});
  EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T values(2)"); }), "3027");
  database.BeginTrans();
  EXPECT_EQ(Outcome([&] { database.Execute("DELETE FROM T"); }), "3027");
  database.CommitTrans();
  database.Close();
  if (!mounted_) fs::permissions(mountPoint_, fs::perms::owner_all);
  EXPECT_EQ(std::distance(fs::directory_iterator(mountPoint_), {}), 1) << "nothing was created beside it";
}

// The values of the first field of `table`'s rows, read whole in its order
// (in the pages of the file where that can be done).
std::vector<std::string> RowsRead(Database& database, const std::string& table) {
  std::vector<std::string> keys;
  database.ReadRows(table, [&](std::uint64_t ordinal, const std::vector<dbengine::Value>& row) {
    dbengine::AppendValueText(row[0], keys.emplace_back());
    return ordinal + 1;
  });
  return keys;
}

TEST_F(TransactionTest, ReaderBesideAWriterThatCheckpointsSeesOneStateOrSaysItChanged) {
  // The writer keeps tables A and B equal; each holds enough rows for pages of its own.
  for (const bool writerCloses : {true, false}) {
    for (const bool wholeTables : {false, true}) {
      SCOPED_TRACE(writerCloses ? "the writer closes" : "the writer ends without closing");
      SCOPED_TRACE(wholeTables ? "tables read whole" : "recordsets");
      auto read = [&](Database& database, const std::string& table) {
        return wholeTables ? RowsRead(database, table) : Keys(database, table);
      };
      fs::remove(path_);
      fs::remove(path_ + "-wal");
      fs::remove(path_ + "-shm");
      Database::Create(path_);
      {
        Database database;
        database.Open(path_);
        database.Execute("CREATE TABLE A (a LONG)");
        database.Execute("CREATE TABLE B (a LONG)");
        database.BeginTrans();
        for (int row = 0; row < 3000; ++row) {
          database.Execute("INSERT INTO A VALUES (0)");
          database.Execute("INSERT INTO B VALUES (0)");
        }
        database.CommitTrans();
      }
      Database reader;
      reader.Open(path_, {}, dbengine::OpenMode::kReadOnly);
      reader.BeginTrans();
      const std::vector<std::string> first = read(reader, "A");
      ASSERT_EQ(OtherProgram(path_,
                             "PRAGMA wal_autocheckpoint=0; BEGIN; UPDATE A SET a=1; UPDATE B SET a=1; COMMIT; "
                             "PRAGMA wal_checkpoint(TRUNCATE)",
                             writerCloses),
                "0");
      std::string outcome;
      try {
        outcome = read(reader, "B") == first ? "one state" : "two states";
      } catch (const dbengine::Error& error) {
        outcome = std::to_string(error.Number());
      }
      EXPECT_EQ(outcome, "3197");
      reader.Close();
      reader.Open(path_, {}, dbengine::OpenMode::kReadOnly);
      reader.BeginTrans();
      EXPECT_EQ(Keys(reader, "A"), Keys(reader, "B"));
      EXPECT_EQ(Keys(reader, "A").back(), "1");
    }
  }
}

TEST_F(TransactionTest, TableReadWholeWhileAnotherProgramWritesAndCheckpointsIsOneStateOrSaysItChanged) {
  // Read in the pages of the file, table A's rows all 0; after its first row
  // another program sets them all to 1 and writes its log back into the file.
  for (const bool heldOpen : {false, true}) {
    SCOPED_TRACE(heldOpen ? "a third program holds the file open: SQLite's locks" : "no one has it open: no locks");
    fs::remove(path_);
    Database::Create(path_);
    {
      Database database;
      database.Open(path_);
      database.Execute("CREATE TABLE A (a LONG)");
      database.BeginTrans();
      for (int row = 0; row < 20000; ++row) database.Execute("INSERT INTO A VALUES (0)");
      database.CommitTrans();
    }
    sqlite3* holder = nullptr;
    if (heldOpen) {
      ASSERT_EQ(sqlite3_open(path_.c_str(), &holder), SQLITE_OK);
      sqlite3_exec(holder, "SELECT count(*) FROM A", nullptr, nullptr, nullptr);
    }
    Database reader;
    reader.Open(path_, {}, dbengine::OpenMode::kReadOnly);
    std::set<std::string> seen;
    std::string outcome;
    try {
      reader.ReadRows("A", [&](std::uint64_t ordinal, const std::vector<dbengine::Value>& row) {
        if (ordinal == 0) {
          OtherProgram(path_, "UPDATE A SET a=1; PRAGMA wal_checkpoint(TRUNCATE)", true);
        }
        std::string text;
        dbengine::AppendValueText(row[0], text);
        seen.insert(text);
        return ordinal + 1;
      });
      outcome = seen == std::set<std::string>{"0"} ? "one state" : "two states";
    } catch (const dbengine::Error& error) {
      outcome = std::to_string(error.Number());
    }
    EXPECT_EQ(outcome, heldOpen ? "one state" : "3197");
    reader.Close();
    sqlite3_close(holder);
  }
}

TEST_F(TransactionTest, ReaderCreatesNothingBesideADatabaseLeftWithAWalAlone) {
  CreateWithTable();
  // A program ended without closing leaves -wal and -shm; the -shm is then lost.
  ASSERT_EQ(OtherProgram(path_, "PRAGMA wal_autocheckpoint=0; INSERT INTO T VALUES (7)", false), "0");
  ASSERT_TRUE(fs::remove(path_ + "-shm"));
  const auto walSize = fs::file_size(path_ + "-wal");
  Database reader;
  reader.Open(path_, {}, dbengine::OpenMode::kReadOnly);
  reader.BeginTrans();
  EXPECT_EQ(Keys(reader), std::vector<std::string>{"7"});
  reader.Close();
  EXPECT_FALSE(fs::exists(path_ + "-shm"));
  EXPECT_EQ(std::distance(fs::directory_iterator(root_), {}), 2);
  EXPECT_EQ(fs::file_size(path_ + "-wal"), walSize);
}

}  // namespace

std::string IndexesOf(Database& database, const std::string& table) {
  std::string text;
  const dbengine::TableDef def = database.TableDefs(table);
  for (std::int16_t index = 0; index < def.IndexCount(); ++index) {
    const dbengine::IndexDef& indexDef = def.Indexes(index);
    text += indexDef.name + (indexDef.primary ? " P" : "") + (indexDef.unique ? " U:" : ":");
    for (const std::string& field : indexDef.fields) text += field + ",";
  }
  return text;
}

TEST_F(TransactionTest, IndexesSetAsideKeepTheDefinitionAndComeBackWhole) {
  CreateWithTable();
  Database database;
  database.Open(path_);
  database.Execute("CREATE INDEX Second ON T (a)");
  database.Execute("INSERT INTO T values(1)");
  const std::string indexes = IndexesOf(database, "T");
  EXPECT_EQ(Outcome([&] { database.SetIndexesAside("T"); }), "3034");  // no transaction

  // How the level that set them aside ends, and what stays.
  struct Case {
    const char* end;
    std::string outcome;
  } const cases[] = {
      {"commit", "ok"},              // made again
      {"rollback", "ok"},            // brought back by SQLite
      {"again, duplicate", "3022"},  // what was done since undone
      {"commit, duplicate", "3022"},
  };
  for (const Case& test : cases) {
    const std::string end = test.end;
    database.BeginTrans();
    database.Execute("INSERT INTO T values(2)");
    EXPECT_TRUE(database.SetIndexesAside("T")) << end;
    EXPECT_FALSE(database.SetIndexesAside("T")) << end;  // already aside
    EXPECT_EQ(IndexesOf(database, "T"), indexes) << end;
    EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T values(3)"); }), "ok") << end;
    if (end.find("duplicate") != std::string::npos) database.Execute("INSERT INTO T values(1)");
    EXPECT_EQ(Outcome([&] {
                if (end == "commit" || end == "commit, duplicate") {
                  database.CommitTrans();
                } else if (end == "rollback") {
                  database.Rollback();
                } else {
                  database.MakeIndexesAgain();
                }
              }),
              test.outcome)
        << end;
    if (end == "again, duplicate") {
      EXPECT_EQ(Keys(database), (std::vector<std::string>{"1", "2"})) << end;  // the level goes on
      database.Rollback();
    }
    EXPECT_EQ(Outcome([&] { database.Execute("DELETE * FROM T WHERE a=3"); }), "ok") << end;
    if (end == "commit") database.Execute("DELETE * FROM T WHERE a=2");
    EXPECT_EQ(Keys(database), std::vector<std::string>{"1"}) << end;
    EXPECT_EQ(Outcome([&] { database.Execute("INSERT INTO T values(1)"); }), "3022") << end;
    EXPECT_EQ(IndexesOf(database, "T"), indexes) << end;
  }
}
