// SPDX-License-Identifier: Apache-2.0
// The program's folder and the databases in a folder, over the path probe
// and the letter-case-blind lookup (Fonctions).
#include "support/program_files.h"

#include <array>
#include <system_error>

#include "support/Fonctions.h"

namespace support {

std::filesystem::path ProgramFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path(".") : program.parent_path();
}

std::string InstalledFilesFolder(std::string_view name) {
  const std::filesystem::path here = ProgramFolder();
  const std::array<std::filesystem::path, 3> candidates = {
      (here / ".." / "lib" / "installateur-conventions").lexically_normal(), here / "sample", here};
  for (const std::filesystem::path& folder : candidates) {
    if (FindFileIgnoringCase(folder, name)) return folder.string();
  }
  return candidates[0].string();
}

std::string WithSeparator(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  return folder;
}

std::optional<std::string> FindDatabase(const std::string& folder, std::string_view name) {
  const std::string built = folder + std::string(name);
  if (PathExists(built)) return built;
  if (const auto variant = FindFileIgnoringCase(folder, name)) return variant->string();
  return std::nullopt;
}

std::string DatabasePath(const std::string& folderText, std::string_view name) {
  const std::string folder = WithSeparator(folderText);
  return FindDatabase(folder, name).value_or(folder + std::string(name));
}

}  // namespace support
