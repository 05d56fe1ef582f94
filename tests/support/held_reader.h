// SPDX-License-Identifier: Apache-2.0
// Test helper: another program reading a database. A child process opens the
// file with SQLite alone (as any other tool would), begins a read transaction,
// counts the rows of a table and holds the transaction until released; it
// then counts again inside the same transaction. The constructor returns once
// the child holds its transaction. Asked to hold the write lock (kWrite), the
// child begins its transaction with BEGIN IMMEDIATE: it is then another
// program in the middle of a write.
#ifndef TESTS_SUPPORT_HELD_READER_H_
#define TESTS_SUPPORT_HELD_READER_H_

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>

class HeldReader {
 public:
  enum Hold { kRead, kWrite };
  HeldReader(const std::string& path, const std::string& table, Hold hold = kRead) {
    int toChild[2];
    int toParent[2];
    if (pipe(toChild) != 0 || pipe(toParent) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      close(toChild[1]);
      close(toParent[0]);
      _exit(Keep(path, table, hold == kWrite, toChild[0], toParent[1]));
    }
    close(toChild[0]);
    close(toParent[1]);
    release_ = toChild[1];
    answers_ = toParent[0];
    if (read(answers_, &before_, sizeof before_) != sizeof before_) before_ = -1;
  }
  ~HeldReader() {
    if (child_ > 0) Release();
  }
  HeldReader(const HeldReader&) = delete;
  HeldReader& operator=(const HeldReader&) = delete;

  // Rows the reader counted when it began (-1 when it could not read).
  std::int64_t CountBefore() const { return before_; }

  // Ends the reader; returns what it counted at its end, inside its
  // transaction (-1 when it failed).
  std::int64_t Release() {
    if (child_ <= 0) return -1;
    const char go = 'g';
    std::int64_t after = -1;
    if (write(release_, &go, 1) != 1 || read(answers_, &after, sizeof after) != sizeof after) after = -1;
    close(release_);
    close(answers_);
    int status = 0;
    waitpid(child_, &status, 0);
    child_ = -1;
    return after;
  }

 private:
  static std::int64_t Count(sqlite3* db, const std::string& table) {
    sqlite3_stmt* statement = nullptr;
    const std::string sql = "SELECT count(*) FROM \"" + table + "\"";
    std::int64_t count = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      count = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    return count;
  }

  static int Keep(const std::string& path, const std::string& table, bool forWriting, int release, int answers) {
    sqlite3* db = nullptr;
    std::int64_t before = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
        sqlite3_exec(db, forWriting ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK) {
      before = Count(db, table);
    }
    if (write(answers, &before, sizeof before) != sizeof before) return 1;
    char go = 0;
    if (read(release, &go, 1) != 1) return 1;
    const std::int64_t after = before < 0 ? -1 : Count(db, table);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return write(answers, &after, sizeof after) == sizeof after ? 0 : 1;
  }

  pid_t child_ = -1;
  int release_ = -1;
  int answers_ = -1;
  std::int64_t before_ = -1;
};

#endif  // TESTS_SUPPORT_HELD_READER_H_
