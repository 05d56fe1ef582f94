// SPDX-License-Identifier: Apache-2.0
// Support routines of the installer: the path probe used before opening the
// target databases, and the letter-case-blind lookup of the databases' files.
#ifndef SUPPORT_FONCTIONS_H_
#define SUPPORT_FONCTIONS_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace support {

// True when `path` names an existing file or folder (of any kind, read-only or
// not), false otherwise. Costs one attribute query; never opens the file and
// never throws: a missing folder on the way, a denied access or a malformed
// name all give false.
bool PathExists(const std::string& path);

// The regular file (or link to one) named `name` in `folder`, whatever the letter case of the
// stored name: the exact spelling when it exists, otherwise the first case variant in byte
// order. ASCII letters only are matched without regard to case. Folders and other non-regular
// entries never match. Nothing when there is none or the folder cannot be read; never throws.
std::optional<std::filesystem::path> FindFileIgnoringCase(const std::filesystem::path& folder,
                                                          std::string_view name);

}  // namespace support

#endif  // SUPPORT_FONCTIONS_H_
