// SPDX-License-Identifier: Apache-2.0
// Test support, header only, shared by the test programs of the engine and of
// the transfer module (tests/support/ is on their include path): runs a piece of a test in a child process, to measure
// that piece's peak memory, to kill it at a chosen point, or to run it as an
// unprivileged user (permission bits do not bind the superuser, and the
// tests run as root on the build machines).
#ifndef TESTS_SUPPORT_CHILD_PROCESS_H_
#define TESTS_SUPPORT_CHILD_PROCESS_H_

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <functional>
#include <string>

namespace testsupport {

struct ChildResult {
  std::string report;  // what the body returned, or what it threw
  int signal = 0;      // the signal that ended the child, or 0
  int exitCode = -1;   // its exit status when it ended by itself
  long peakKib = 0;    // its peak resident memory
};

// Runs `body` in a forked child and returns what it reported. The child
// leaves through _exit, so that nothing of the parent (the test framework,
// its exit handlers) runs twice. A database must not be open across the
// fork: the child opens its own.
inline ChildResult RunInChild(const std::function<std::string()>& body) {
  ChildResult result;
  int channel[2];
  if (::pipe(channel) != 0) {
    result.report = "pipe failed";
    return result;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    std::string report;
    try {
      report = body();
    } catch (const std::exception& error) {
      report = std::string("exception: ") + error.what();
    } catch (...) {
      report = "exception";
    }
    const char* data = report.data();
    std::size_t left = report.size();
    while (left > 0) {
      const ssize_t written = ::write(channel[1], data, left);
      if (written <= 0) ::_exit(2);
      data += written;
      left -= static_cast<std::size_t>(written);
    }
    ::_exit(0);
  }
  ::close(channel[1]);
  if (child < 0) {
    ::close(channel[0]);
    result.report = "fork failed";
    return result;
  }
  char buffer[4096];
  for (ssize_t count; (count = ::read(channel[0], buffer, sizeof buffer)) != 0;) {
    if (count < 0) {
      if (errno == EINTR) continue;
      break;
    }
    result.report.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(channel[0]);
  int status = 0;
  struct rusage usage {};
  while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.peakKib = usage.ru_maxrss;
  return result;
}

// Makes the calling process (a child) the unprivileged user "nobody" when it
// runs as root. Returns an empty string, or why it could not.
inline std::string DropPrivileges() {
  if (::geteuid() != 0) return {};
  uid_t uid = 65534;
  gid_t gid = 65534;
  if (const passwd* nobody = ::getpwnam("nobody")) {
    uid = nobody->pw_uid;
    gid = nobody->pw_gid;
  }
  if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0 ||
      ::geteuid() == 0) {
    return "cannot become an unprivileged user";
  }
  return {};
}

// In a child: a write that would take a file past `bytes` fails there (EFBIG
// or a short write, as on a full disk), or with `killThere` ends the process
// with SIGKILL at that write.
inline void LimitFileSize(rlim_t bytes, bool killThere) {
  if (killThere) {
    ::signal(SIGXFSZ, [](int) { ::raise(SIGKILL); });
  } else {
    ::signal(SIGXFSZ, SIG_IGN);
  }
  struct rlimit limit {};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = bytes;
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

}  // namespace testsupport

#endif  // TESTS_SUPPORT_CHILD_PROCESS_H_
