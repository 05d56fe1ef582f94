// SPDX-License-Identifier: Apache-2.0
// Benchmark helper: runs a measured piece of work in a child process, so
// that the peak memory reported is that work's own.
#ifndef BENCH_IN_CHILD_H_
#define BENCH_IN_CHILD_H_

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "dbengine/error.h"

// Runs `body` (returning its seconds, or a negative number on failure) in a
// child; returns those seconds and the child's peak resident memory in KiB.
template <typename Body>
std::pair<double, long> InChild(Body body) {
  int channel[2];
  if (pipe(channel) != 0) return {-1, 0};
  const pid_t child = fork();
  if (child == 0) {
    double seconds = -1;
    try {
      seconds = body();
    } catch (const dbengine::Error& error) {
      std::fprintf(stderr, "ERR%d:%s\n", error.Number(), error.Description().c_str());
    }
    if (write(channel[1], &seconds, sizeof seconds) != sizeof seconds) _exit(1);
    _exit(0);
  }
  close(channel[1]);
  double seconds = -1;
  if (read(channel[0], &seconds, sizeof seconds) != sizeof seconds) seconds = -1;
  close(channel[0]);
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  return {seconds, usage.ru_maxrss};
}

#endif  // BENCH_IN_CHILD_H_
