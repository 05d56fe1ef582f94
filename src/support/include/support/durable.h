// SPDX-License-Identifier: Apache-2.0
// Putting files on disk before saying they are there: a file's data, then
// the folder entry that names it, flushed so that a power cut after the
// caller reports success loses neither (and so that a write error that only
// shows at write-back, on a network file system, is seen and reported).
#ifndef SUPPORT_DURABLE_H_
#define SUPPORT_DURABLE_H_

#include <string>

namespace support {

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

}  // namespace support

#endif  // SUPPORT_DURABLE_H_
