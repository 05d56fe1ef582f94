// SPDX-License-Identifier: Apache-2.0
// The export's file is on the disk before the export says so: the test
// program stands in for the C library's fsync and rename (its own
// definitions win over the library's for the whole program), records the
// order of those calls, and makes fsync fail as a disk that reports a write
// error only at write-back would.
#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/durable.h"
#include "transfer/VidangeTables.h"

using namespace transfer;

namespace fs = std::filesystem;

namespace {

bool recording = false;
bool failFileSync = false;
std::vector<std::string> calls;  // "sync file", "sync folder", "rename NAME"

}  // namespace

extern "C" int fsync(int fd) {
  using Fsync = int (*)(int);
  static const auto real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
  if (recording) {
    struct stat status;
    const bool folder = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
    calls.push_back(folder ? "sync folder" : "sync file");
    if (failFileSync && !folder) {
      errno = EIO;
      return -1;
    }
  }
  return real(fd);
}

extern "C" int rename(const char* from, const char* to) {
  using Rename = int (*)(const char*, const char*);
  static const auto real = reinterpret_cast<Rename>(::dlsym(RTLD_NEXT, "rename"));
  if (recording) calls.push_back("rename " + fs::path(to).filename().string());
  return real(from, to);
}

namespace {

class ExportDurabilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("durable_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    const std::string path = (root_ / "base.mdb").string();
    dbengine::Database::Create(path);
    db_.Open(path);
    db_.Execute("CREATE TABLE T (N LONG)");
    db_.Execute("INSERT INTO T values(7)");
  }
  void TearDown() override {
    recording = false;
    failFileSync = false;
    db_.Close();
    fs::remove_all(root_);
  }
  std::string Export(const std::string& file) {
    calls.clear();
    recording = true;
    std::string separator;
    const std::string result = ExportTableToText(db_, "T", (root_ / file).string(), separator);
    recording = false;
    return result;
  }

  fs::path root_;
  dbengine::Database db_;
};

TEST_F(ExportDurabilityTest, FileThenNameThenFolderAreOnDiskBeforeSuccess) {
  ASSERT_EQ(Export("T.txt"), "ERR0");
  EXPECT_EQ(calls, (std::vector<std::string>{"sync file", "rename T.txt", "sync folder"}));
}

TEST_F(ExportDurabilityTest, FailedFlushIsTheResultAndLeavesNoFile) {
  std::ofstream(root_ / "T.txt") << "earlier\r\n";
  failFileSync = true;
  const std::string result = Export("T.txt");
  EXPECT_EQ(result.rfind("ERR57 (TABLE T):", 0), 0u) << result;
  // Never renamed into place; the earlier file goes as after any failed export.
  EXPECT_EQ(calls, std::vector<std::string>{"sync file"});
  EXPECT_FALSE(fs::exists(root_ / "T.txt"));
  for (const auto& entry : fs::directory_iterator(root_)) {
    EXPECT_EQ(entry.path().filename().string().rfind("base.mdb", 0), 0u) << entry.path();
  }
}

TEST(DurableTest, SyncFileAndFolderReportsAMissingFile) {
  EXPECT_EQ(support::SyncFileAndFolder("/nonexistent-folder/x.mdb"), ENOENT);
  const std::string file = fs::temp_directory_path() / ("durable_file_" + std::to_string(::getpid()));
  std::ofstream(file) << "x";
  calls.clear();
  recording = true;
  EXPECT_EQ(support::SyncFileAndFolder(file), 0);
  recording = false;
  EXPECT_EQ(calls, (std::vector<std::string>{"sync file", "sync folder"}));
  fs::remove(file);
}

}  // namespace
