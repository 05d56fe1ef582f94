// SPDX-License-Identifier: Apache-2.0
// The copy into a new engine database is all or nothing: a copy ended in
// the middle, by any of the signals that end a command, leaves no target
// (and what SIGKILL leaves, the next copy into the folder removes); a full
// disk ends the copy with 3026 and leaves nothing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "dbengine/database_copy.h"
#include "dbengine/dbengine.h"
#include "support/child_process.h"

namespace fs = std::filesystem;
using dbengine::Database;

namespace {

constexpr int kRows = 5000;

class DatabaseCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("copy_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "cible");
    source_ = (root_ / "source.mdb").string();
    target_ = (root_ / "cible" / "copie.mdb").string();
    Database::Create(source_);
    Database database;
    database.Open(source_);
    database.BeginTrans();
    database.Execute("CREATE TABLE T (a LONG NOT NULL, b TEXT(40), CONSTRAINT PrimaryKey PRIMARY KEY (a))");
    for (int row = 0; row < kRows; ++row) {
      database.Execute("INSERT INTO T values(" + std::to_string(row) + ", 'ligne " + std::to_string(row) + "')");
    }
    database.CommitTrans();
    database.Close();
  }
  void TearDown() override {
    if (mounted_) umount2((root_ / "cible").c_str(), MNT_DETACH);
    fs::remove_all(root_);
  }

  // The names in the target's folder.
  std::vector<std::string> FolderNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_ / "cible")) names.push_back(entry.path().filename());
    return names;
  }

  fs::path root_;
  std::string source_;
  std::string target_;
  bool mounted_ = false;
};

TEST_F(DatabaseCopyTest, InterruptedCopyLeavesNoTargetAndTheNextCopyRemovesWhatItLeft) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    SCOPED_TRACE(strsignal(signal));
    // The child stops in the middle of the rows, its target open and half
    // written, and says so; it is then ended by the signal.
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(channel[0]);
      dbengine::Progress progress;
      progress.rows = [&](const std::string&, std::size_t rows) {
        if (rows != 3000) return;
        const char ready = 'r';
        if (::write(channel[1], &ready, 1) != 1) ::_exit(3);
        for (;;) ::pause();
      };
      try {
        dbengine::CopyDatabase(source_, target_, {}, progress);
      } catch (...) {
      }
      ::_exit(2);
    }
    ::close(channel[1]);
    char ready = 0;
    ASSERT_EQ(::read(channel[0], &ready, 1), 1) << "the child never reached the middle of the copy";
    ::close(channel[0]);
    ::kill(child, signal);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);

    EXPECT_FALSE(fs::exists(fs::symlink_status(target_)));
    // Only SIGKILL leaves the temporary file; the others let the copy remove it.
    ASSERT_EQ(FolderNames().size(), signal == SIGKILL ? 1u : 0u);

    dbengine::CopyDatabase(source_, target_, {});
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"copie.mdb"});
    Database copy;
    copy.Open(target_);
    dbengine::Recordset last = copy.OpenRecordset("SELECT * FROM T WHERE a=" + std::to_string(kRows - 1));
    EXPECT_FALSE(last.IsEOF());
    ASSERT_NE(copy.TableDefs("T").PrimaryIndex(), nullptr);
    copy.Close();
    fs::remove(target_);
  }
}

TEST_F(DatabaseCopyTest, FullDiskEndsWith3026AndLeavesNothing) {
  const auto copy = [&]() -> std::string {
    try {
      dbengine::CopyDatabase(source_, target_, {});
    } catch (const dbengine::Error& error) {
      return std::to_string(error.Number()) + ":" + error.Description();
    }
    return "copied";
  };
  const std::string full =
      "3026:Espace disque insuffisant pour écrire dans la base de données « " + target_ + " ».";
  if (::mount("tmpfs", (root_ / "cible").c_str(), "tmpfs", 0, "size=64k") == 0) {
    mounted_ = true;
    EXPECT_EQ(copy(), full);
  } else {
    // Without the right to mount, the process's file size limit makes the
    // writes fail instead: cut short (a full disk) or refused (a disk error).
    const std::string outcome = testsupport::RunInChild([&] {
                                  testsupport::LimitFileSize(64 * 1024, false);
                                  return copy();
                                }).report;
    EXPECT_TRUE(outcome == full || outcome == "3043:Erreur de disque ou de réseau sur « " + target_ + " ».")
        << outcome;
  }
  EXPECT_EQ(FolderNames(), std::vector<std::string>{});
}

// Another SQLite tool may store in an engine database what the engine would
// refuse; the copy refuses it too rather than carry it as another value, and
// names the table, the field and the row (the second: the first is sound).
TEST_F(DatabaseCopyTest, ValueStoredPastItsFieldByAnotherToolIsRefused) {
  struct Case {
    const char* column;
    const char* value;
    int number;
  };
  const Case cases[] = {{"t", "'six lettres'", 3421}, {"y", "300", 3421},     {"s", "40000", 3421},
                        {"l", "2147483648", 3421},    {"l", "-2147483649", 3421}, {"l", "1.7", 3421},
                        {"s", "'12abc'", 3421},       {"b", "'Vrai'", 3421},  {"b", "2", 3421},
                        {"d", "'hello'", 3421},       {"r", "0.1", 3421},     {"t", "X'41'", 3421}};
  for (const Case& tested : cases) {
    SCOPED_TRACE(tested.value);
    const std::string source = (root_ / "autre.mdb").string();
    fs::remove(source);
    Database::Create(source);
    {
      Database database;
      database.Open(source);
      database.Execute("CREATE TABLE V (t TEXT(5), y BYTE, s SHORT, l LONG, b BIT, d DATETIME, r SINGLE)");
      database.Execute("INSERT INTO V VALUES ('cinq!', 255, -32768, 2147483647, True, '01/02/2003', 0.5)");
      database.Close();
    }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(source.c_str(), &other), SQLITE_OK);
    const std::string insert = std::string("INSERT INTO V (") + tested.column + ") VALUES (" + tested.value + ")";
    ASSERT_EQ(sqlite3_exec(other, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    try {
      dbengine::CopyDatabase(source, target_, {}, {}, nullptr);
      ADD_FAILURE() << "copied";
    } catch (const dbengine::EngineError& error) {
      EXPECT_EQ(error.Number(), tested.number);
      EXPECT_NE(error.Description().find(std::string("table « V », le champ « ") + tested.column), std::string::npos)
          << error.Description();
      EXPECT_NE(error.Description().find("de la ligne 2 contient"), std::string::npos) << error.Description();
    }
    EXPECT_TRUE(FolderNames().empty());
  }
}

TEST_F(DatabaseCopyTest, NameHoldingABracketIsRefusedWith3125) {
  const char* const definitions[] = {"CREATE TABLE \"a]b\" (c INTEGER)", "CREATE TABLE a (\"c]d\" INTEGER)",
                                     "CREATE TABLE a (c INTEGER); CREATE INDEX \"i]x\" ON a (c)"};
  for (const char* definition : definitions) {
    SCOPED_TRACE(definition);
    const std::string source = (root_ / "autre.mdb").string();
    fs::remove(source);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(source.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, definition, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    std::string failedTable;
    try {
      dbengine::CopyDatabase(source, target_, {}, {}, &failedTable);
      ADD_FAILURE() << "copied";
    } catch (const dbengine::EngineError& error) {
      EXPECT_EQ(error.Number(), 3125);
    }
    EXPECT_EQ(failedTable.find('a'), 0u);
    EXPECT_TRUE(FolderNames().empty());
  }
}

TEST_F(DatabaseCopyTest, LongTargetNamesAreCopiedTo) {
  for (const std::string& name : {std::string(240, 'c'), std::string(250, 'c'), std::string(248, 'c') + "é"}) {
    SCOPED_TRACE(name.size());
    const std::string target = (root_ / "cible" / name).string();
    dbengine::CopyDatabase(source_, target, {}, {}, nullptr);
    EXPECT_EQ(FolderNames(), std::vector<std::string>{name});
    fs::remove(target);
  }
}

// Another tool's Null in a primary key field, or a misfit past the hundredth
// field of a wide table, is refused naming its field and row.
TEST_F(DatabaseCopyTest, NullKeyAndMisfitOfAWideTableAreRefused) {
  std::string wide = "CREATE TABLE W (k LONG";
  for (int field = 1; field < 130; ++field) wide += ", f" + std::to_string(field) + " SHORT";
  const std::string cases[][3] = {{"UPDATE W SET k = NULL", "3058", "« k »"},
                                  {"INSERT INTO W (k, f120) VALUES (2, 40000)", "3421", "« f120 » (Entier) de la ligne 2"}};
  for (const auto& [change, number, named] : cases) {
    SCOPED_TRACE(change);
    const std::string source = (root_ / ("autre" + number + ".mdb")).string();
    fs::copy_file(source_, source);
    {
      Database database;
      database.Open(source);
      database.Execute(wide + ", CONSTRAINT PrimaryKey PRIMARY KEY (k))");
      database.Execute("INSERT INTO W (k) VALUES (1)");
      database.Close();
    }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(source.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, change.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    try {
      dbengine::CopyDatabase(source, target_, {}, {}, nullptr);
      ADD_FAILURE() << "copied";
    } catch (const dbengine::EngineError& error) {
      EXPECT_EQ(std::to_string(error.Number()), number);
      EXPECT_NE(error.Description().find(named), std::string::npos) << error.Description();
    }
    EXPECT_TRUE(FolderNames().empty());
  }
}

// What a database holds, as the sqlite3 shell's .dump tells it: each table's
// definition and rows (every value with its type), then each index's.
std::string Dump(const std::string& path) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  std::string dump;
  sqlite3_stmt* schema = nullptr;
  sqlite3_prepare_v2(db, "SELECT type, name, sql FROM sqlite_schema ORDER BY type<>'table', rowid", -1, &schema, nullptr);
  while (sqlite3_step(schema) == SQLITE_ROW) {
    dump += reinterpret_cast<const char*>(sqlite3_column_text(schema, 2)) + std::string("\n");
    if (std::string(reinterpret_cast<const char*>(sqlite3_column_text(schema, 0))) != "table") continue;
    sqlite3_stmt* rows = nullptr;
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(schema, 1));
    sqlite3_prepare_v2(db, ("SELECT * FROM \"" + name + "\" ORDER BY rowid").c_str(), -1, &rows, nullptr);
    while (sqlite3_step(rows) == SQLITE_ROW) {
      for (int column = 0; column < sqlite3_column_count(rows); ++column) {
        const unsigned char* text = sqlite3_column_text(rows, column);
        dump += std::to_string(sqlite3_column_type(rows, column)) + ":" +
                (text ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(rows, column)) : "") + "|";
      }
      dump += "\n";
    }
    sqlite3_finalize(rows);
  }
  sqlite3_finalize(schema);
  sqlite3_close(db);
  return dump;
}

// A database laid out as the copy makes it is copied whole, then its values
// checked in the file's pages: its target holds what the copy table by table
// makes (a view, which no copy carries, sends the source that way), values at
// the edge of their fields, texts longer in bytes than in characters, a text
// past a long one (on an overflow page) included; and a value past its field is
// still refused, nothing left.
TEST_F(DatabaseCopyTest, WholeFileCopyHoldsWhatTheTableByTableCopyMakes) {
  const std::string source = (root_ / "bords.mdb").string();
  Database::Create(source);
  {
    Database database;
    database.Open(source);
    database.Execute("CREATE TABLE E (k LONG NOT NULL, y BYTE, s SHORT, t TEXT(5), m MEMO, d DOUBLE, r SINGLE, "
                     "c CURRENCY, b BIT, u TEXT(3), CONSTRAINT PrimaryKey PRIMARY KEY (k))");
    database.Execute("CREATE INDEX ParTexte ON E (t, s)");
    database.Execute("CREATE TABLE F (n TEXT(10) NOT NULL, CONSTRAINT Unique1 UNIQUE (n))");
    database.Execute("INSERT INTO F VALUES ('un')");
    database.Execute("CREATE TABLE G (m MEMO, u TEXT(3))");
    database.Execute("INSERT INTO G VALUES ('" + std::string(6000, 'x') + "', 'çàé')");
    database.Close();
  }
  const std::string rows[] = {
      "1, 255, -32768, 'ééééé', NULL, 9007199254740992, 0.5, 922337203685477, True, 'abc'",
      "2, 0, 32767, 'cinq!', '" + std::string(6000, 'x') + "', -2, -3, -922337203685477, False, 'abc'",
      "-2147483648, NULL, NULL, NULL, NULL, NULL, NULL, NULL, False, NULL",
      "2147483647, 1, 0, '', '', 0, 0, 0, True, ''"};
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(source.c_str(), &other), SQLITE_OK);
  for (const std::string& row : rows) {
    ASSERT_EQ(sqlite3_exec(other, ("INSERT INTO E VALUES (" + row + ")").c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  }
  dbengine::CopyDatabase(source, target_, {});
  const std::string whole = Dump(target_);
  fs::remove(target_);
  ASSERT_EQ(sqlite3_exec(other, "CREATE VIEW V AS SELECT k FROM E", nullptr, nullptr, nullptr), SQLITE_OK);
  dbengine::CopyDatabase(source, target_, {});
  EXPECT_EQ(Dump(target_), whole);
  EXPECT_NE(whole.find("çàé"), std::string::npos);
  fs::remove(target_);
  ASSERT_EQ(sqlite3_exec(other, "DROP VIEW V", nullptr, nullptr, nullptr), SQLITE_OK);

  // Judged in the page (E), or past a long text (G).
  const std::pair<const char*, const char*> refused[] = {{"E", "y = -1"},   {"E", "t = 'éééééé'"}, {"E", "s = 32768"},
                                                         {"E", "c = 0.5"},  {"E", "r = 0.1"},      {"E", "d = 1e999"},
                                                         {"G", "u = 'éèêë'"}};
  for (const auto& [table, change] : refused) {
    SCOPED_TRACE(change);
    const std::string update = std::string("UPDATE ") + table + " SET " + change + " WHERE rowid = 1";
    ASSERT_EQ(sqlite3_exec(other, update.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    std::string failedTable;
    try {
      dbengine::CopyDatabase(source, target_, {}, {}, &failedTable);
      ADD_FAILURE() << "copied";
    } catch (const dbengine::EngineError& error) {
      EXPECT_EQ(error.Number(), 3421);
      EXPECT_NE(error.Description().find("de la ligne 1 contient"), std::string::npos) << error.Description();
    }
    EXPECT_EQ(failedTable, table);
    EXPECT_TRUE(FolderNames().empty());
    const char* restore = "UPDATE E SET y = 255, t = 'ééééé', s = -32768, c = 922337203685477, r = 0.5, "
                          "d = 9007199254740992 WHERE k = 1; UPDATE G SET u = 'çàé'";
    ASSERT_EQ(sqlite3_exec(other, restore, nullptr, nullptr, nullptr), SQLITE_OK);
  }
  sqlite3_close(other);
}

}  // namespace
