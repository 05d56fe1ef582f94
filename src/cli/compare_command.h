// SPDX-License-Identifier: Apache-2.0
// How vidange compare shows the differences of two tables, which vidange
// verify shows for each installed table too.
#ifndef CLI_COMPARE_COMMAND_H_
#define CLI_COMPARE_COMMAND_H_

#include <cstdio>
#include <string>

#include "transfer/table_compare.h"

namespace cli {

// Writes the comparison's line (after `prefix`): "identique", or the counts
// of missing, extra and different rows (and of fields whose types differ),
// then those fields and at most five rows of each kind, indented.
void PrintDifferences(std::FILE* out, const std::string& prefix, const transfer::RowDifferences& differences);

}  // namespace cli

#endif  // CLI_COMPARE_COMMAND_H_
