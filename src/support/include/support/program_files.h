// SPDX-License-Identifier: Apache-2.0
// Where the program's own files and the databases named in a folder are
// found: the one way the installer window, the installation run and vidange
// find the program's folder and the source database in it.
#ifndef SUPPORT_PROGRAM_FILES_H_
#define SUPPORT_PROGRAM_FILES_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace support {

// The folder of the running program (its real path, links resolved), or "."
// when it cannot be read.
std::filesystem::path ProgramFolder();

// The folder holding the file `name` (any letter case) installed with the
// program: the package's program folder (lib/installateur-conventions beside
// the bin folder), the build tree's sample folder, or the program's own
// folder, the first that holds it; the package's when none does, so that a
// report names where it was looked for.
std::string InstalledFilesFolder(std::string_view name);

// `folder` with "/" appended unless it already ends with one.
std::string WithSeparator(std::string folder);

// The file named `name` in `folder` (ended by "/"): the path as built when
// something is there, else a letter-case variant of the name, else nothing.
std::optional<std::string> FindDatabase(const std::string& folder, std::string_view name);

// The file named `name` in the folder `folderText` (a separator added when
// it lacks one): as FindDatabase finds it, else the path as built.
std::string DatabasePath(const std::string& folderText, std::string_view name);

}  // namespace support

#endif  // SUPPORT_PROGRAM_FILES_H_
