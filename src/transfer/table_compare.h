// SPDX-License-Identifier: Apache-2.0
// Comparison of two tables with the same fields, row by row as the transfer
// renders them: each row becomes its transfer line (the same text for the
// same value, fields joined by "|"), and the two tables are compared as
// multisets of lines. Rows of the first table whose line the second lacks
// are missing, lines of the second the first lacks are extra; when the first
// table (else the second) has a primary key, a missing and an extra row with
// the same key values are one different row instead.
//
// The rows are sorted on disk through a scratch SQLite database (as digests of
// their lines), never held together in memory, so two tables of millions of
// rows are compared in bounded memory. Nothing is written to either database;
// the tables are read twice when there are rows to show, so the caller keeps
// each database in one reading transaction for the two to agree.
#ifndef TRANSFER_TABLE_COMPARE_H_
#define TRANSFER_TABLE_COMPARE_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/dbengine.h"
#include "transfer/progress.h"

// How many rows of each kind a comparison keeps to show.
inline constexpr std::size_t kShownRows = 5;

struct RowDifferences {
  std::uint64_t missing = 0;
  std::uint64_t extra = 0;
  std::uint64_t different = 0;
  // The first kShownRows of each kind in table order (of the first table for
  // different rows): lines, and for a different row its line in the first
  // table, then in the second.
  std::vector<std::string> missingRows;
  std::vector<std::string> extraRows;
  std::vector<std::pair<std::string, std::string>> differentRows;

  bool Identical() const { return missing == 0 && extra == 0 && different == 0; }
};

// Compares table `firstTable` of `first` with `secondTable` of `second`
// (either may be an Access file opened by the engine). The fields are matched
// by name, in any letter case and any order; lines follow the first table's
// order. Throws dbengine::Error: 3265 when the two tables do not have the same
// fields (naming a field one of them lacks), the engines' errors on reading,
// 3026 / 3043 when the scratch database cannot be written. `progress`, when
// given, is told the rows read of each table.
RowDifferences CompareTables(dbengine::Database& first, const std::string& firstTable, dbengine::Database& second,
                             const std::string& secondTable, TransferProgress* progress = nullptr);

#endif  // TRANSFER_TABLE_COMPARE_H_
