// SPDX-License-Identifier: Apache-2.0
// Comparison of two tables with the same fields, row by row. Each row is
// reduced to the bytes of its values, each value telling its own length (so
// that no separator or text can make two rows of different values alike),
// and the two tables are compared as multisets of rows. By value (`vidange
// compare`), a value is its kind and its exact content: Null is not an empty
// text, 42 is not '42', two Doubles differ by any bit; only whole numbers
// are alike across the numeric types, and the fields whose types differ are
// reported apart. By transfer text (`vidange verify`), a value is the text
// the transfer file carries for it, as an installation promises the rows.
// Rows of the first table the second lacks are missing, rows of the second
// the first lacks are extra; when the first table (else the second) has a
// primary key, a missing and an extra row with the same key values are one
// different row instead.
//
// The rows go to a temporary file as digests of their bytes, never held
// together in memory; only those that differ are sorted (in memory, or on
// disk by sorted runs merged when there are many), so two tables
// of millions of rows are compared in bounded memory. Nothing is written to
// either database; the rows to show are read again (only they: the others
// are passed over), so the caller keeps each database in one reading
// transaction for the two readings to agree.
#ifndef TRANSFER_TABLE_COMPARE_H_
#define TRANSFER_TABLE_COMPARE_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/dbengine.h"
#include "dbengine/progress.h"

namespace transfer {

// How many rows of each kind a comparison keeps to show.
inline constexpr std::size_t kShownRows = 5;

// What makes two values the same.
enum class CompareMode {
  kValues,        // their kind and exact content (whole numbers alike across the numeric types)
  kTransferText,  // their text in a transfer file (Null and an empty text alike)
};

struct RowDifferences {
  std::uint64_t missing = 0;
  std::uint64_t extra = 0;
  std::uint64_t different = 0;
  // By value: each field whose type differs between the two tables,
  // "« N » : Entier long => Texte (10)", in the first table's order.
  std::vector<std::string> fieldTypes;
  // The first kShownRows of each kind in table order (of the first table for
  // different rows): lines, and for a different row its line in the first
  // table, then in the second. A line holds the fields' transfer texts joined
  // by "|", each with "\" written "\\", "|" written "\|", line breaks and
  // tabs "\n", "\r", "\t", other control characters "\xHH"; by value, Null
  // is "\N" and a number or date whose text is not exact is shown exactly.
  std::vector<std::string> missingRows;
  std::vector<std::string> extraRows;
  std::vector<std::pair<std::string, std::string>> differentRows;

  bool Identical() const { return missing == 0 && extra == 0 && different == 0 && fieldTypes.empty(); }
};

// Compares table `firstTable` of `first` with `secondTable` of `second`
// (either may be an Access file opened by the engine). The fields are matched
// by name, in any letter case and any order; lines follow the first table's
// order. Throws dbengine::Error: 3265 when the two tables do not have the same
// fields (naming a field one of them lacks), the engines' errors on reading
// (3421 for a stored value that does not fit its field), 3026 / 3043 when the
// temporary files cannot be written. `progress`, when given, is told the
// rows read of each table.
RowDifferences CompareTables(dbengine::Database& first, const std::string& firstTable, dbengine::Database& second,
                             const std::string& secondTable, dbengine::Progress* progress = nullptr,
                             CompareMode mode = CompareMode::kValues);

}  // namespace transfer

#endif  // TRANSFER_TABLE_COMPARE_H_
