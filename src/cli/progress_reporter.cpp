// SPDX-License-Identifier: Apache-2.0
// The terminal progress line: "\r" and an erase to the end of the line
// before each update, so that the line is rewritten in place and leaves
// nothing behind once the table is done.
#include "progress_reporter.h"

#include "command.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace cli {
namespace {

class TerminalProgress : public dbengine::Progress {
 public:
  void Rows(std::string_view table, std::uint64_t rows) override {
    std::fprintf(stderr, "\r\033[K%s : %llu lignes", Printable(table).c_str(),
                 static_cast<unsigned long long>(rows));
    std::fflush(stderr);
  }
  void Done(std::string_view) override {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
};

}  // namespace

std::unique_ptr<dbengine::Progress> MakeProgressReporter(bool quiet) {
  if (quiet || ::isatty(STDERR_FILENO) != 1) return nullptr;
  return std::make_unique<TerminalProgress>();
}

}  // namespace cli
