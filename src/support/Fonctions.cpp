// SPDX-License-Identifier: Apache-2.0
// The path probe (one stat() call, nothing opened) and the letter-case-blind
// lookup of a file in a folder.
#include "support/Fonctions.h"

#include <sys/stat.h>

#include <algorithm>
#include <system_error>
#include <vector>

namespace support {

bool PathExists(const std::string& path) {
  struct stat attributes {};
  // An embedded NUL would make stat() look at a shorter path than the one asked.
  if (path.find('\0') != std::string::npos) return false;
  return ::stat(path.c_str(), &attributes) == 0;
}

namespace {

bool IsRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// Letter-case-blind comparison limited to ASCII, independent of the process locale.
bool SameNameIgnoringCase(std::string_view left, std::string_view right) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(),
                    [&](char a, char b) { return lower(a) == lower(b); });
}

}  // namespace

std::optional<std::filesystem::path> FindFileIgnoringCase(const std::filesystem::path& folder,
                                                          std::string_view name) {
  const std::filesystem::path exact = folder / std::filesystem::path(name);
  if (IsRegularFile(exact)) return exact;

  std::vector<std::filesystem::path> variants;
  std::error_code error;
  std::filesystem::directory_iterator entry(folder, error);
  for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    const std::string entryName = entry->path().filename().string();
    if (SameNameIgnoringCase(entryName, name) && IsRegularFile(entry->path())) {
      variants.push_back(entry->path());
    }
  }
  if (variants.empty()) return std::nullopt;
  // Directory order is arbitrary; sorting keeps the choice stable from one run to the next.
  return *std::min_element(variants.begin(), variants.end());
}

}  // namespace support
