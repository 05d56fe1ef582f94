// SPDX-License-Identifier: Apache-2.0
// The signals that end a process unless it handles them (SIGINT, SIGTERM,
// SIGHUP: Ctrl-C, kill, a closed terminal), handled for a while by a piece of
// work that must clean up before the process ends: only those left at their
// default action are taken, so that a process that handles or ignores them
// itself keeps its way.
#ifndef SUPPORT_ENDING_SIGNALS_H_
#define SUPPORT_ENDING_SIGNALS_H_

#include <signal.h>

#include <cstddef>
#include <iterator>

namespace support {

inline constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
inline constexpr std::size_t kEndingSignalCount = std::size(kEndingSignals);

// Gives each ending signal still at its default action to `handler`, every
// ending signal held while it runs; `previous` receives the actions replaced
// and `installed` which signals (by their place in kEndingSignals) were taken.
void HandleEndingSignals(void (*handler)(int), struct sigaction (&previous)[kEndingSignalCount],
                         bool (&installed)[kEndingSignalCount]);

// Puts back the actions HandleEndingSignals replaced; `installed` is cleared.
void RestoreEndingSignals(const struct sigaction (&previous)[kEndingSignalCount],
                          bool (&installed)[kEndingSignalCount]);

// The end of a handler: `signal` back to its default action and raised, so
// that the process ends as it would have. Safe in a signal handler.
void EndBySignal(int signal);

}  // namespace support

#endif  // SUPPORT_ENDING_SIGNALS_H_
