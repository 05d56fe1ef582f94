// SPDX-License-Identifier: Apache-2.0
// Table transfer: moves the rows of one table into a transfer file and the
// lines of a transfer file into a table (docs/transfer-format.md).
//
// ExportTable and ImportTable return a TransferResult and never throw: its
// number (0 success, -1 the import's warning that at least one line was
// refused by its INSERT, else the error that ended the routine), the table
// and the description. ExportTableToText and ImportTextIntoTable return the
// same result as its text (TransferResult::Text):
//   "ERR0"                                        success
//   "ERR<number> (TABLE <table>):<description>"   an error ended the routine
//   "ERR-1:Il est possible que la table exportée soit incomplète ou comporte des erreurs"
//                                                 import only: at least one line
//                                                 was refused by its INSERT
// The text forms take the separator in and out: an empty one is replaced by
// "|", which the caller's variable then keeps; the typed forms read an empty
// one as "|".
#ifndef TRANSFER_VIDANGETABLES_H_
#define TRANSFER_VIDANGETABLES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/dbengine.h"
#include "dbengine/progress.h"

namespace transfer {

inline constexpr char kTransferSuccess[] = "ERR0";
inline constexpr char kTransferWarning[] =
    "ERR-1:Il est possible que la table exportée soit incomplète ou comporte des erreurs";

// What the import does with the rows the table holds (the `deleteMode` of
// ImportTextIntoTable, whose numbers these are).
enum class ImportMode : std::int16_t {
  kClearFirst = -1,        // the table is emptied first
  kKeepExistingRows = 0,   // each line replaces the stored row with its primary key
  kAppend = 1,             // rows are only added (so is any other number)
};

// The mode a `deleteMode` number stands for.
ImportMode ImportModeOf(std::int16_t deleteMode);

// The outcome of one export or import.
struct TransferResult {
  static constexpr std::int32_t kSuccess = 0;
  static constexpr std::int32_t kWarning = -1;  // the import refused at least one line

  std::int32_t number = kSuccess;
  std::string table;        // the table the transfer was called for
  std::string description;  // French; empty on success

  static TransferResult Failure(std::int32_t number, std::string table, std::string description);
  bool Succeeded() const { return number == kSuccess; }
  // The result's text: "ERR0", the import's warning "ERR-1:<description>",
  // or "ERR<number> (TABLE <table>):<description>".
  std::string Text() const;
};

// Writes every row of `tableName` into the file at `filePath` (replaced), one
// line per row. The database stays open. The destination is refused, left as
// it is, when it is the database itself or one of its companion files (55)
// or exists and is not a regular file (75); a replaced file keeps its
// permissions; success is reported once the file and its name are on disk.
// When the export fails, a file left at `filePath` by an earlier export is
// removed (but for a file the export may not write), so that no stale rows
// are found there.
// `progress`, when given, is told the rows written.
TransferResult ExportTable(dbengine::Database& database, const std::string& tableName, const std::string& filePath,
                           std::string_view separator, dbengine::Progress* progress = nullptr);
std::string ExportTableToText(dbengine::Database& database, const std::string& tableName,
                              const std::string& filePath, std::string& separator,
                              dbengine::Progress* progress = nullptr);

// Loads the lines of the file at `filePath` into `tableName`. `mode`:
// kClearFirst empties the table first, kKeepExistingRows deletes per line the
// stored row with the same primary key (the delete and the line's row as one
// unit: a refused line leaves the stored row; a line short of a key field is
// refused before any delete), kAppend only adds rows. With kClearFirst the file is opened
// before the table is cleared and its definition read; otherwise the
// definition is read first, then the file opened; in every mode the
// definition is read again inside the transaction, which sees another
// program's changes to the table. The import is one
// transaction of `database` (which must not be inside one already), begun
// once the file is open: the refused lines are passed over and the rest is
// committed together; an error that ends the import, a failed commit
// included, leaves the table as it was and is the result. `progress`, when
// given, is told the lines read.
//
// Both routines refuse a table or field name holding a square bracket with
// 3125 before any statement is built.
TransferResult ImportTable(dbengine::Database& database, const std::string& tableName, const std::string& filePath,
                           ImportMode mode, std::string_view separator, dbengine::Progress* progress = nullptr);
// The same, its mode given by number (ImportModeOf).
std::string ImportTextIntoTable(dbengine::Database& database, const std::string& tableName,
                                const std::string& filePath, std::int16_t deleteMode,
                                std::string& separator, dbengine::Progress* progress = nullptr);

// Removes the transfer file at `filePath` and every copy of it that an
// export killed before renaming it left beside it ("<file>.~<host>.<pid>.<n>",
// whoever wrote it): for a caller that owns the name and has ended its own
// transfers. What cannot be removed (never written, or refused) is passed
// over without a report.
void RemoveTransferFile(const std::string& filePath);

// The statement deleting the stored rows whose primary-key fields (among the
// first `valueCount` fields) equal the line's `keyValues`, or nothing when no
// primary-key field lies among them. Throws EngineError 3125 when the table
// name or a field name holds a square bracket.
std::optional<std::string> BuildPrimaryKeyDelete(const std::string& tableName,
                                                 const std::vector<std::string>& keyValues,
                                                 std::int16_t valueCount,
                                                 const dbengine::TableDef& tableDef);

// True when `fieldName` (exact letter case) is a field of a primary index.
bool IsPrimaryKeyField(const std::string& fieldName, const dbengine::TableDef& tableDef);

}  // namespace transfer

#endif  // TRANSFER_VIDANGETABLES_H_
