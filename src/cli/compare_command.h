// SPDX-License-Identifier: Apache-2.0
// vidange compare: two tables with the same fields, row by row.
#ifndef CLI_COMPARE_COMMAND_H_
#define CLI_COMPARE_COMMAND_H_

#include <cstdio>
#include <string>

#include "transfer/table_compare.h"

struct CompareOptions {
  std::string base;
  std::string table;
  std::string otherBase;
  std::string otherTable;  // empty: the same name as `table`
  bool quiet = false;
  std::string connect;  // the connect string of both databases (";PWD=secret"), or empty
};

// Compares the tables value by value: "identique", or the counts of missing,
// extra and different rows (and of fields whose types differ) followed by
// those fields and at most five rows of each kind, indented, on standard
// output. Returns 0 when identical, 1 otherwise and when a stored value does
// not fit its field (3421), 2 when a database cannot be opened or the tables
// cannot be compared (the error on standard error).
int RunCompare(const CompareOptions& options);

// Writes the comparison's line (after `prefix`), its fields of another type
// and its indented rows.
void PrintDifferences(std::FILE* out, const std::string& prefix, const RowDifferences& differences);

#endif  // CLI_COMPARE_COMMAND_H_
