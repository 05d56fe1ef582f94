// SPDX-License-Identifier: Apache-2.0
// The ending signals taken and given back.
#include "support/ending_signals.h"

namespace support {

void HandleEndingSignals(void (*handler)(int), struct sigaction (&previous)[kEndingSignalCount],
                         bool (&installed)[kEndingSignalCount]) {
  for (std::size_t index = 0; index < kEndingSignalCount; ++index) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int signal : kEndingSignals) sigaddset(&action.sa_mask, signal);
    installed[index] = ::sigaction(kEndingSignals[index], nullptr, &previous[index]) == 0 &&
                       previous[index].sa_handler == SIG_DFL &&
                       ::sigaction(kEndingSignals[index], &action, nullptr) == 0;
  }
}

void RestoreEndingSignals(const struct sigaction (&previous)[kEndingSignalCount],
                          bool (&installed)[kEndingSignalCount]) {
  for (std::size_t index = 0; index < kEndingSignalCount; ++index) {
    if (installed[index]) ::sigaction(kEndingSignals[index], &previous[index], nullptr);
    installed[index] = false;
  }
}

void EndBySignal(int signal) {
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace support
