// SPDX-License-Identifier: Apache-2.0
// Copying a database (an Access file or an engine database) into a new
// engine database, all or nothing: the target is built under a temporary
// name beside it and takes its name only once complete and on disk.
#ifndef DBENGINE_DATABASE_COPY_H_
#define DBENGINE_DATABASE_COPY_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/progress.h"

namespace dbengine {

// Makes `targetPath` a new engine database holding the tables named in
// `tables` (any letter case; every user table of the source when empty), in
// that order, of the database at `sourcePath`: fields, indexes and every
// row, as the source stood at one moment. An Access table whose stored rows
// break its own rules keeps every row: a unique index or primary key holding
// duplicates or Nulls becomes a plain index, a required field holding a
// Null an optional one, a text field holding longer texts is widened (to a
// Memo past 255 characters); each is told through `progress.relaxed`, as is
// each bracket of a name turned into a parenthesis (no engine name holds one).
//
// The target is built in `targetPath`'s folder under the name
// `TARGET.~vc.HOST.PID.N` (TARGET cut short when too long for a name), in
// one transaction, then flushed, renamed to `targetPath` (never over a file
// that appeared there meanwhile) and the folder flushed. A copy that fails
// removes its temporary file, and so does one ended by SIGINT, SIGTERM or
// SIGHUP where the process leaves those signals to their default action
// (the copy handles them while it runs, then ends the process by the same
// signal); one killed otherwise (SIGKILL) leaves it, and the next copy into
// that folder removes those of processes that have ended. Once the target
// is built, those signals are held while it is published, their own actions
// back in place: when it is published, one that came meanwhile is discarded
// and the copy returns, done; when publishing fails, it ends the process once
// the temporary file is removed. So `targetPath` is either absent or
// complete, and a process ended by one of those signals has made none. One
// copy at a time in a process.
//
// An Access table's rows are copied as typed values, its indexes made after
// them. An engine database whose file holds exactly what the copy would make
// (every table copied, in the file's order, its schema, index catalog and
// settings as the engine writes them) is copied whole by SQLite (VACUUM INTO
// the temporary file: one state of the source, records and index entries
// moved as they are), then every value of that file is checked as every
// read checks it before it is published. Any other engine database is
// attached to the target for reading in that transaction: each table's
// values are checked in one scan as every read checks them (on a second
// reader of the same state, on another core, when there is one), then SQLite
// moves its records, and its indexes' entries in key order, without decoding
// them (a table holding a long binary value over 1 MiB is copied as typed
// values, that value streamed). Both make the same target.
//
// Throws the EngineError of the failure: 3204 when something (a file, a
// link, even a dangling one) is at `targetPath`, 3044 when its folder is
// missing, 3265 for a table the source does not have, 3026 when the disk is
// full, 3043 on a disk error, and the source's own errors. When the failure
// belongs to one table (two of its names alike once written, a row its
// definition refuses, 3125 for a table, field or index name of an engine
// database holding a bracket), `failedTable`, when given, receives its name.
// `sourceConnect` is the source's connect string (";PWD=secret" for an
// Access file with a database password).
// `progress`, when given, is told each table begun, every 1,000 rows and
// each rule relaxed.
void CopyDatabase(const std::string& sourcePath, const std::string& targetPath, const std::vector<std::string>& tables,
                  Progress* progress = nullptr, std::string* failedTable = nullptr,
                  std::string_view sourceConnect = {});
inline void CopyDatabase(const std::string& sourcePath, const std::string& targetPath,
                         const std::vector<std::string>& tables, Progress& progress,
                         std::string* failedTable = nullptr, std::string_view sourceConnect = {}) {
  CopyDatabase(sourcePath, targetPath, tables, &progress, failedTable, sourceConnect);
}

}  // namespace dbengine

#endif  // DBENGINE_DATABASE_COPY_H_
