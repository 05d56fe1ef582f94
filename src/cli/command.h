// SPDX-License-Identifier: Apache-2.0
// What every command of vidange shares: how a command presents itself to
// the command line (its CLI11 subcommand, its usage line and its work), how
// it reports a failure, and the check that its output reached its
// destination. A command kept in a file of its own includes this header and
// offers a Declare function that vidange.cpp lists with the others.
#ifndef CLI_COMMAND_H_
#define CLI_COMMAND_H_

#include <functional>
#include <string>
#include <string_view>

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

// Prints `error` on standard error as ERR<number>:<description>; returns 1.
int Report(const dbengine::Error& error);

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
