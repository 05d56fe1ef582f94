// SPDX-License-Identifier: Apache-2.0
// Table transfer: moves the rows of one table into a transfer file and the
// lines of a transfer file into a table (docs/transfer-format.md).
//
// Both routines return a transfer result and never throw:
//   "ERR0"                                        success
//   "ERR<number> (TABLE <table>):<description>"   an error ended the routine
//   "ERR-1:Il est possible que la table exportée soit incomplète ou comporte des erreurs"
//                                                 import only: at least one line
//                                                 was refused by its INSERT
// Both take the separator in and out: an empty one is replaced by "|", which
// the caller's variable then keeps.
#ifndef TRANSFER_VIDANGETABLES_H_
#define TRANSFER_VIDANGETABLES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/dbengine.h"
#include "transfer/progress.h"

inline constexpr char kTransferSuccess[] = "ERR0";
inline constexpr char kTransferWarning[] =
    "ERR-1:Il est possible que la table exportée soit incomplète ou comporte des erreurs";

// Writes every row of `tableName` into the file at `filePath` (replaced), one
// line per row. The database stays open. The destination is refused, left as
// it is, when it is the database itself or one of its companion files (55)
// or exists and is not a regular file (75); a replaced file keeps its
// permissions; success is reported once the file and its name are on disk.
// When the export fails, a file left at `filePath` by an earlier export is
// removed (but for a file the export may not write), so that no stale rows
// are found there.
// `progress`, when given, is told the rows written.
std::string ExportTableToText(dbengine::Database& database, const std::string& tableName,
                              const std::string& filePath, std::string& separator,
                              TransferProgress* progress = nullptr);

// Loads the lines of the file at `filePath` into `tableName`. `deleteMode`:
// -1 empties the table first, 0 deletes per line the stored row with the same
// primary key (the delete and the line's row as one unit: a refused line
// leaves the stored row; a line short of a key field is refused before any
// delete), any other value only adds rows. With -1 the file is opened
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
std::string ImportTextIntoTable(dbengine::Database& database, const std::string& tableName,
                                const std::string& filePath, std::int16_t deleteMode,
                                std::string& separator, TransferProgress* progress = nullptr);

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

#endif  // TRANSFER_VIDANGETABLES_H_
