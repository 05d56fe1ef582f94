// Support routines of the installer: the path probe used before opening the
// target databases.
#ifndef SUPPORT_FONCTIONS_H_
#define SUPPORT_FONCTIONS_H_

#include <string>

// True when `path` names an existing file or folder (of any kind, read-only or
// not), false otherwise. Costs one attribute query; never opens the file and
// never throws: a missing folder on the way, a denied access or a malformed
// name all give false.
bool PathExists(const std::string& path);

#endif  // SUPPORT_FONCTIONS_H_
