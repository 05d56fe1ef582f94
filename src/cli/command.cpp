// SPDX-License-Identifier: Apache-2.0
// The reporting and output checks shared by vidange's commands: ERR lines on
// standard error, and standard output and error checked to the close, so
// that lost output (a full disk, a closed destination) is never a success.
#include "cli/command.h"

#include <cerrno>
#include <cstdio>

namespace cli {
namespace {

// The runtime's numbers for a write that did not reach its destination, as
// the transfer reports them for its files: 61 when the disk is full, 57 for
// any other failure (a closed or broken destination, an I/O error).
dbengine::RuntimeError WriteError(int errnoValue) {
  if (errnoValue == ENOSPC || errnoValue == EDQUOT) return dbengine::RuntimeError(61, "Disque plein");
  return dbengine::RuntimeError(57, "Erreur d'entrée/sortie de périphérique");
}

// Set when a command stops at a lost write to standard output and reports
// it itself.
bool outputLossRaised = false;

// Flushes and closes `stream`. Tells whether everything written to it
// reached its destination; on a failure `error` gets the errno (0 when an
// earlier write failed and the close went through). A descriptor that was
// never open and was given nothing is no failure.
bool Closed(std::FILE* stream, int& error) {
  const bool lostBefore = std::ferror(stream) != 0;
  error = 0;
  if (std::fflush(stream) != 0) {
    error = errno;
    std::fclose(stream);
    return false;
  }
  if (std::fclose(stream) != 0 && errno != EBADF) {
    error = errno;
    return false;
  }
  return !lostBefore;
}

}  // namespace

int Report(const dbengine::Error& error) {
  std::fprintf(stderr, "ERR%d:%s\n", static_cast<int>(error.Number()), error.Description().c_str());
  return 1;
}

dbengine::RuntimeError OutputLost(int errnoValue) {
  outputLossRaised = true;
  return WriteError(errnoValue);
}

void FlushOutput() {
  if (std::fflush(stdout) != 0) throw OutputLost(errno);
}

int CloseStandardStreams(int status) {
  int error = 0;
  if (!Closed(stdout, error)) {
    if (!outputLossRaised) Report(WriteError(error));
    if (status == 0) status = 1;
  }
  // Nothing is left to tell of a loss on standard error but the status.
  if (!Closed(stderr, error) && status == 0) status = 1;
  return status;
}

}  // namespace cli
