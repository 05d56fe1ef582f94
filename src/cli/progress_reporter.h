// SPDX-License-Identifier: Apache-2.0
// The progress of vidange's long commands on standard error: one line,
// rewritten in place, naming the table and the rows done. Shown only when
// standard error is a terminal and --quiet was not given.
#ifndef CLI_PROGRESS_REPORTER_H_
#define CLI_PROGRESS_REPORTER_H_

#include <memory>

#include "dbengine/progress.h"

namespace cli {

// A reporter for a command, or nullptr when nothing is to be shown.
std::unique_ptr<dbengine::Progress> MakeProgressReporter(bool quiet);

}  // namespace cli

#endif  // CLI_PROGRESS_REPORTER_H_
