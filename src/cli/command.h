// SPDX-License-Identifier: Apache-2.0
// What every command of vidange shares: how a command presents itself to
// the command line (its CLI11 subcommand, its usage line and its work), the
// options several commands take, how a failure is reported, and the check
// that its output reached its destination. Each command is a file of its
// own (sql_command.cpp, schema_command.cpp, transfer_command.cpp for export
// and import, copy_command.cpp, install_command.cpp for install and verify,
// compare_command.cpp) holding its Declare function, declared below, which
// vidange.cpp lists with the others.
#ifndef CLI_COMMAND_H_
#define CLI_COMMAND_H_

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include <CLI/CLI.hpp>

#include "dbengine/error.h"

namespace cli {

// A command as its Declare function leaves it: the subcommand that reads
// its arguments and options (with their help texts) into the structure its
// work takes, its usage line, and the work, run once the line is read.
// The work returns the call's status: 0 done, 1 failed.
struct Command {
  CLI::App* parser;
  std::string synopsis;  // after "vidange "
  std::function<int()> work;
};

// `text` as it may go to a terminal: each control character (C0, DEL, and
// C1 whether well encoded or a stray byte) and each byte that is not part of
// well-formed UTF-8 written as \xHH (C1 as \u00HH), so that a name or a path
// can neither move the cursor, ring, nor restyle the terminal. Every line
// that shows a name or a path (progress, results, errors) goes through it.
std::string Printable(std::string_view text);

// The command line's form of an error: "ERR<number>:<description>".
std::string ErrorText(std::int32_t number, std::string_view description);

// The one error reporter: prints ErrorText on standard error, the
// description made Printable; returns 1.
int Report(std::int32_t number, std::string_view description);
int Report(const dbengine::Error& error);

// Runs `body`, the work of a command on a database; an error it throws is
// reported after what standard output holds is flushed. Returns 0, or 1
// after an error.
int ReportingErrors(const std::function<void()>& body);

// Adds to `vidange` the command `name`, its help saying `description`,
// with its required arguments in order, each read into its string.
CLI::App* AddCommand(CLI::App& vidange, const std::string& name, const std::string& description,
                     std::initializer_list<std::pair<const char*, std::string*>> required);

// Declares --quiet on `command`, one of those that show their progress
// (progress_reporter.h): set, they keep silent.
void AddQuietOption(CLI::App* command, bool& quiet);

// Declares --password on `command`, one of those that open a database given
// on the command line: the database password of the Access files it opens
// (ignored for a database that has none).
void AddPasswordOption(CLI::App* command, std::string& password);

// Declares both on a command that reads databases and shows its progress.
void AddDatabaseOptions(CLI::App* command, std::string& password, bool& quiet);

// The connect string the engine takes for `password` (empty for none).
std::string Connect(const std::string& password);

// The commands, each declared on `vidange` by its own file.
Command DeclareSql(CLI::App& vidange);
Command DeclareSchema(CLI::App& vidange);
Command DeclareExport(CLI::App& vidange);
Command DeclareImport(CLI::App& vidange);
Command DeclareCopy(CLI::App& vidange);
Command DeclareInstall(CLI::App& vidange);
Command DeclareVerify(CLI::App& vidange);
Command DeclareCompare(CLI::App& vidange);

// The error to throw when a write to standard output failed with errno
// `errnoValue`: 61 (Disque plein) when the disk is full, 57 (Erreur
// d'entrée/sortie de périphérique) otherwise. The command that catches it
// reports it; the final check then does not report it again.
dbengine::RuntimeError OutputLost(int errnoValue);

// Flushes standard output; throws OutputLost when what it held did not get
// through. A command calls it before doing anything that should not follow
// lost output.
void FlushOutput();

// The last step of every call: standard output, then standard error,
// flushed, closed and checked. A loss on standard output not reported yet
// is reported as ERR61 or ERR57; either loss turns status 0 into 1 (a usage
// error keeps its 2). Returns the call's status.
int CloseStandardStreams(int status);

}  // namespace cli

#endif  // CLI_COMMAND_H_
