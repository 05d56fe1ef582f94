// SPDX-License-Identifier: Apache-2.0
// Naming and clearing away the temporary files of processes that have ended
// (leftovers.h).
#include "support/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>

namespace support {
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

// A temporary's name leaves room for SQLite's longest companion suffix
// ("-journal") within the system's limit on a name.
constexpr std::size_t kMaxTemporaryName = NAME_MAX - 8;

// True when `name` is a temporary of `base` with `mark`:
// "<base><mark><host>.<pid>.<n>", any host, `base` cut short (TemporaryNameFor)
// when the whole would be too long.
bool IsTemporaryOf(std::string_view name, std::string_view base, std::string_view mark) {
  for (std::size_t at = name.find(mark); at != std::string_view::npos; at = name.find(mark, at + 1)) {
    if (at > base.size() || name.substr(0, at) != base.substr(0, at)) return false;
    if (at < base.size() && name.size() + 4 <= kMaxTemporaryName) continue;  // not cut short
    std::string_view rest = name.substr(at + mark.size());
    long long number = 0;
    bool named = true;
    for (int part = 0; part < 2 && named; ++part) {
      const std::size_t dot = rest.rfind('.');
      named = dot != std::string_view::npos && ParseDigits(rest.substr(dot + 1), number);
      if (named) rest = rest.substr(0, dot);
    }
    if (named && !rest.empty()) return true;  // and the host
  }
  return false;
}

// Removes from `folder` the regular files whose name `matches` accepts.
template <typename Match>
void RemoveFilesIn(const std::string& folder, Match matches) {
  DIR* directory = ::opendir(folder.c_str());
  if (directory == nullptr) return;
  const int folderFd = ::dirfd(directory);
  while (const dirent* entry = ::readdir(directory)) {
    if (!matches(std::string_view(entry->d_name))) continue;
    struct stat status {};
    if (::fstatat(folderFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)) {
      ::unlinkat(folderFd, entry->d_name, 0);
    }
  }
  ::closedir(directory);
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
  const std::string suffix =
      std::string(mark) + HostName() + "." + std::to_string(::getpid()) + "." + std::to_string(attempt);
  const std::size_t slash = path.rfind('/');
  const std::size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
  std::size_t baseLength = path.size() - baseStart;
  if (baseLength + suffix.size() > kMaxTemporaryName) {
    // Cut between two characters, not inside one's UTF-8 bytes.
    baseLength = kMaxTemporaryName > suffix.size() ? kMaxTemporaryName - suffix.size() : 1;
    while (baseLength > 1 && (static_cast<unsigned char>(path[baseStart + baseLength]) & 0xC0) == 0x80) --baseLength;
  }
  return path.substr(0, baseStart + baseLength) + suffix;
}

void RemoveTemporariesOfEndedProcesses(const std::string& folder, std::string_view mark) {
  RemoveFilesIn(folder, [mark](std::string_view name) {
    const pid_t maker = MakerOf(name, mark);
    if (maker == 0 || maker == ::getpid()) return false;
    return ::kill(maker, 0) != 0 && errno == ESRCH;  // ended; not one still running or not ours to ask
  });
}

void RemoveTemporariesOf(const std::string& path, std::string_view mark) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  RemoveFilesIn(folder, [&](std::string_view name) {
    if (!IsTemporaryOf(name, base, mark)) return false;
    const pid_t maker = MakerOf(name, mark);  // 0: another host's
    return maker == 0 || maker == ::getpid() || (::kill(maker, 0) != 0 && errno == ESRCH);
  });
}

}  // namespace support
