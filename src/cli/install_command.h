// SPDX-License-Identifier: Apache-2.0
// vidange install and vidange verify: the installer's run without a window,
// and the check of an installation against its source.
#ifndef CLI_INSTALL_COMMAND_H_
#define CLI_INSTALL_COMMAND_H_

#include <optional>
#include <string>

struct InstallOptions {
  std::string dictionaryFolder;       // LEXBASE_FOLDER, as typed
  std::string dataFolder;             // PATBASE_FOLDER, as typed
  std::optional<std::string> source;  // --source FILE
  bool quiet = false;
};

// Runs the installation: its messages on standard error, one line each with
// its title. Returns 0 after a run without failure, 1 after a run that
// reported one, 2 when a check refused the folders (nothing opened).
int RunInstall(const InstallOptions& options);

// Verifies an installation: one line per table and per rebuilt key on
// standard output. Returns 0 when all is identical, 1 otherwise, 2 when a
// database cannot be opened or read (its error on standard error).
int RunVerify(const InstallOptions& options);

#endif  // CLI_INSTALL_COMMAND_H_
