// SPDX-License-Identifier: Apache-2.0
// The engine's errors by name (internal): each number with its French text,
// written once here, so that every place that meets a failure throws the
// same words for it. Each returns the error for its caller to throw; the
// texts name what the failure is about (a table, a field, a file) as the
// caller gives it.
#ifndef DBENGINE_ERRORS_H_
#define DBENGINE_ERRORS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "dbengine/error.h"

namespace dbengine::errors {

// Files and folders (the 3343, 3051 and 3049 texts the Access reader gives
// too are core's, core/error.h).
EngineError FileNotFound(const std::string& path);                   // 3024
EngineError InvalidPath(const std::string& folder);                  // 3044
EngineError CannotOpen(const std::string& path);                     // 3051
EngineError NoTemporaryFolder(const std::string& path);              // 3051
EngineError ReadingCopyFailed(const std::string& path, const std::string& folder);  // 3051
EngineError CannotCreate(const std::string& path);                   // 3051
EngineError UnrecognizedFormat(const std::string& path);             // 3343
EngineError DatabaseExists(const std::string& path);                 // 3204
EngineError CreateThroughLink(const std::string& path);              // 3204
EngineError ReadOnlyDatabase(const std::string& path);               // 3027
EngineError Locked();                                                // 3050
EngineError ChangedWhileRead(const std::string& path);               // 3197
EngineError DiskFull(const std::string& path);                       // 3026
EngineError DiskError(const std::string& path);                      // 3043
// A write to the database at `path` that failed with errno `error`: 3026
// when the disk is full (or the file at its size limit), 3043 for any
// other failure.
EngineError DiskWrite(int error, const std::string& path);
// The folder of an Access file's working copy full (3026) or failing (3043).
EngineError WorkingCopyFull(const std::string& folder);
EngineError WorkingCopyDiskError(const std::string& folder);
// A long value of an Access file whose bytes do not add up to its length (3049).
EngineError StreamedValueLength(const std::string& path, const std::string& table, const std::string& column);
EngineError OutOfMemory();                                           // 3035
EngineError EngineFailure(const std::string& message);               // 3000

// Transactions.
EngineError NoTransaction();                                         // 3034
EngineError TooManyTransactions();                                   // 3003
// `error` once it has undone the whole explicit transaction (same number).
EngineError TransactionUndone(const EngineError& error);

// Tables, fields and indexes by name or position.
EngineError NoSuchTable(std::string_view name);                      // 3265
// The table a statement or recordset names is missing: `number` (3078 for a statement).
EngineError SourceNotFound(std::int32_t number, std::string_view name);
EngineError NoSuchItemAt(std::string_view what, int position);       // 3265
EngineError BadName(std::string_view name);                          // 3125
EngineError TableExists(const std::string& table);                   // 3010
EngineError TooManyFields();                                         // 3190
EngineError FieldDefinedTwice(const std::string& field);             // 3191
EngineError NoSuchFieldInTable(const std::string& field, const std::string& table);  // 3264
EngineError IndexExists(const std::string& table, const std::string& index);  // 3375
EngineError PrimaryKeyExists(const std::string& table);              // 3283
EngineError NoSuchConstraint(const std::string& name);               // 3371

// Statements.
EngineError UnknownVerb();                                           // 3129
EngineError TextAfterEnd(const std::string& near);                   // 3142
EngineError ExpressionSyntax(const std::string& near);               // 3075
EngineError MissingOperator(const std::string& near);                // 3075
EngineError InvalidFieldType(std::string_view typeName);             // 3259
EngineError StatementNotUtf8();                                      // 3464
EngineError SelectNotExecutable();                                   // 3065
EngineError OnlySelectOpensRecordset();                              // 3219
EngineError ValueCountMismatch();                                    // 3346
EngineError UnknownInsertField(const std::string& field);            // 3127
// A condition or ORDER BY naming a field the table lacks (3061).
EngineError TooFewParameters(const std::string& field, const std::string& table);

// Values and rows.
EngineError LiteralMismatch(const std::string& literal, const std::string& field);  // 3464
EngineError ConversionFailed(std::string_view text, const std::string& field);      // 3421
EngineError FieldTextNotUtf8(int position);                          // 3421
EngineError NumericOverflow(const std::string& field);               // 3349
EngineError FieldTooSmall(const std::string& field);                 // 3163
EngineError Duplicates();                                            // 3022
EngineError NullInIndex();                                           // 3058
EngineError NullInIndexField(const std::string& field);              // 3058
// `field` as the caller names it ("Table.Champ" for a row's check).
EngineError RequiredFieldNull(const std::string& field);             // 3314
// kErrStoredValue: `type` the field's type described, `stored` what is stored.
EngineError StoredValue(const std::string& table, const std::string& field, const std::string& type,
                        std::uint64_t row, const std::string& stored);

// Recordsets.
EngineError NoCurrentRecord();                                       // 3021
EngineError UpdateWithoutAddNew();                                   // 3020
EngineError ReadOnlyRecordset();                                     // 3251
EngineError DatabaseClosed();                                        // 3420
EngineError TableRedefined(const std::string& table);                // 3420

}  // namespace dbengine::errors

#endif  // DBENGINE_ERRORS_H_
