// SPDX-License-Identifier: Apache-2.0
#include "support/Fonctions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(PathExistsTest, AnswersForFilesFoldersAndMissingPaths) {
  const fs::path root = fs::temp_directory_path() / ("probe_" + std::to_string(::getpid()));
  fs::create_directories(root / "patbase.mdb");  // a folder with a database's name
  std::ofstream(root / "lexbase.mdb") << "x";
  const fs::path readOnly = root / "readonly.mdb";
  std::ofstream(readOnly) << "x";
  fs::permissions(readOnly, fs::perms::owner_read);

  struct Case {
    fs::path path;
    bool exists;
  } const cases[] = {
      {root / "lexbase.mdb", true},
      {root / "patbase.mdb", true},  // folders count too
      {readOnly, true},
      {root, true},
      {root / "absent.mdb", false},
      {root / "absent" / "lexbase.mdb", false},
      {root / "lexbase.mdb" / "inside", false},  // a file used as a folder
      {"", false},
  };
  for (const Case& probe : cases) {
    EXPECT_EQ(support::PathExists(probe.path.string()), probe.exists) << probe.path;
  }
  EXPECT_FALSE(support::PathExists(std::string("/tmp\0/x", 7)));
  fs::remove_all(root);
}
