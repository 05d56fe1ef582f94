// SPDX-License-Identifier: Apache-2.0
// Temporary files named after the process that writes them,
// "<final name><mark><host>.<pid>.<n>": a writer that is killed before it
// can remove its own leaves one behind, and a later writer into the same
// folder removes those whose process has ended. The host keeps a writer
// from judging, by its own process table, the files that another machine
// writes into a shared folder. The export's named temporaries and the
// copy's targets under construction are named this way, each with its own
// mark.
#ifndef SUPPORT_LEFTOVERS_H_
#define SUPPORT_LEFTOVERS_H_

#include <string>
#include <string_view>

namespace support {

// This machine's name as a part of a file name (no "/" in it), "-" when the
// system gives none.
const std::string& HostName();

// "<path><mark><host>.<pid>.<attempt>": the name of this process's
// temporary file for `path`. When that name, or a SQLite companion of it
// ("-journal"), would pass the system's limit on a name (NAME_MAX), the
// final name is cut short to fit; RemoveTemporariesOf still knows it.
std::string TemporaryNameFor(const std::string& path, std::string_view mark, unsigned attempt);

// Removes from `folder` the regular files named as temporaries with `mark`
// (or as the -journal, -wal or -shm companion of one) by a process of this
// host that has ended. What cannot be listed or removed is left for a later
// writer: none depends on it.
void RemoveTemporariesOfEndedProcesses(const std::string& folder, std::string_view mark);

// Removes the regular files named as temporaries of `path` with `mark`
// ("<path><mark><host>.<pid>.<n>"): for the owner of the name `path`, who
// knows that nothing is writing it. Those of this process, of an ended
// process of this host and of another host go; those of another running
// process of this host (a writer the owner does not know of) are left, and
// so are entries that cannot be removed.
void RemoveTemporariesOf(const std::string& path, std::string_view mark);

}  // namespace support

#endif  // SUPPORT_LEFTOVERS_H_
