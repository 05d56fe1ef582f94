// SPDX-License-Identifier: Apache-2.0
// libFuzzer target: any byte string read as an Access file must give its
// tables and rows or fail with a numbered engine error: never crash, hang,
// read outside the file or print anything. Seeded with tests/data/jet/corpus
// and tests/data/jet/ace.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/jet.h"

namespace {

const std::string& FuzzPath() {
  static const std::string* path = [] {
    auto* made = new std::string(
        (std::filesystem::temp_directory_path() / ("jet_fuzz_" + std::to_string(::getpid()) + ".mdb")).string());
    std::atexit([] { std::filesystem::remove(FuzzPath()); });
    return made;
  }();
  return *path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = FuzzPath();
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  } else {
    std::abort();
  }
  try {
    jet::Reader reader(path);
    std::vector<core::Value> row;
    for (std::size_t table = 0; table < reader.TableCount(); ++table) {
      reader.OpenTable(table);
      while (reader.NextRow(row)) {
      }
    }
  } catch (const jet::Error&) {
  }
  return 0;
}
