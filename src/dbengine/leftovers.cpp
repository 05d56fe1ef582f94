// SPDX-License-Identifier: Apache-2.0
// Naming and clearing away the temporary files of processes that have ended
// (leftovers.h).
#include "dbengine/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace dbengine {
namespace {

// True when `text` is one or more decimal digits, stored in `number`.
bool ParseDigits(std::string_view text, long long& number) {
  if (text.empty() || text.size() > 18) return false;
  number = 0;
  for (const char digit : text) {
    if (digit < '0' || digit > '9') return false;
    number = number * 10 + (digit - '0');
  }
  return true;
}

// The process of this host that named the temporary file (or companion)
// `name` with `mark`, or 0 when `name` is not one.
pid_t MakerOf(std::string_view name, std::string_view mark) {
  const std::size_t at = name.rfind(mark);
  if (at == std::string_view::npos || at == 0) return 0;
  std::string_view rest = name.substr(at + mark.size());
  for (const std::string_view companion : {"-journal", "-wal", "-shm"}) {
    if (rest.size() > companion.size() && rest.substr(rest.size() - companion.size()) == companion) {
      rest.remove_suffix(companion.size());
      break;
    }
  }
  long long number = 0;
  const std::size_t attemptDot = rest.rfind('.');
  if (attemptDot == std::string_view::npos || !ParseDigits(rest.substr(attemptDot + 1), number)) return 0;
  rest = rest.substr(0, attemptDot);
  const std::size_t pidDot = rest.rfind('.');
  if (pidDot == std::string_view::npos || !ParseDigits(rest.substr(pidDot + 1), number) || number <= 0 ||
      number > std::numeric_limits<pid_t>::max() || rest.substr(0, pidDot) != HostName()) {
    return 0;
  }
  return static_cast<pid_t>(number);
}

}  // namespace

const std::string& HostName() {
  static const std::string name = [] {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0') return std::string("-");
    std::string host(buffer);
    std::replace(host.begin(), host.end(), '/', '_');
    return host;
  }();
  return name;
}

std::string TemporaryNameFor(const std::string& path, std::string_view mark, unsigned attempt) {
  return path + std::string(mark) + HostName() + "." + std::to_string(::getpid()) + "." + std::to_string(attempt);
}

void RemoveTemporariesOfEndedProcesses(const std::string& folder, std::string_view mark) {
  DIR* directory = ::opendir(folder.c_str());
  if (directory == nullptr) return;
  const int folderFd = ::dirfd(directory);
  while (const dirent* entry = ::readdir(directory)) {
    const pid_t maker = MakerOf(entry->d_name, mark);
    if (maker == 0 || maker == ::getpid()) continue;
    if (::kill(maker, 0) == 0 || errno != ESRCH) continue;  // still running, or not ours to ask
    struct stat status {};
    if (::fstatat(folderFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)) {
      ::unlinkat(folderFd, entry->d_name, 0);
    }
  }
  ::closedir(directory);
}

}  // namespace dbengine
