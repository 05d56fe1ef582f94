// SPDX-License-Identifier: Apache-2.0
// Flushing a file and its folder entry to the disk (durable.h).
#include "support/durable.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace support {
namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

int SyncFile(int fd) noexcept {
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

int SyncFolderOf(const std::string& path) noexcept {
  const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return errno;
  int error = SyncFile(folder);
  if (error == EINVAL) error = 0;
  ::close(folder);
  return error;
}

int SyncPath(const std::string& path) noexcept {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = SyncFile(fd);
  ::close(fd);
  return error;
}

int SyncFileAndFolder(const std::string& path) noexcept {
  const int error = SyncPath(path);
  return error != 0 ? error : SyncFolderOf(path);
}

}  // namespace support
