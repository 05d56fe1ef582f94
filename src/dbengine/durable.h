// SPDX-License-Identifier: Apache-2.0
// Putting files on disk before saying they are there: a file's data, then
// the folder entry that names it, flushed so that a power cut after the
// caller reports success loses neither (and so that a write error that only
// shows at write-back, on a network file system, is seen and reported).
#ifndef DBENGINE_DURABLE_H_
#define DBENGINE_DURABLE_H_

#include <string>

#include "dbengine/error.h"

namespace dbengine {

// Flushes the data of the file open as `fd` to the disk. Returns 0, or the
// errno of the failure.
int SyncFile(int fd) noexcept;

// Flushes the file at `path` (opened for the purpose). Returns 0, or the
// errno of the failure.
int SyncPath(const std::string& path) noexcept;

// Flushes the folder that holds `path`, so that an entry created, linked or
// renamed there lasts. Returns 0, or the errno of the failure. A file system
// that cannot flush a folder (EINVAL) counts as done.
int SyncFolderOf(const std::string& path) noexcept;

// Flushes the file at `path`, then its folder: for a file written and
// closed by other code (a database SQLite has closed). Returns 0, or the
// errno of the first failure.
int SyncFileAndFolder(const std::string& path) noexcept;

// SyncFileAndFolder for a database file just completed and closed (a copy's
// target, once in place): throws EngineError 3026 when the disk is full, and
// 3043 for any other failure the disk reports.
void MakeDurable(const std::string& path);

// The engine's error for a write to the database at `path` that failed with
// errno `error`: 3026 when the disk is full (or the file at its size limit),
// 3043 for any other failure.
EngineError DiskWriteError(int error, const std::string& path);

}  // namespace dbengine

#endif  // DBENGINE_DURABLE_H_
