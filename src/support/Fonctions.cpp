// The path probe: one stat() call, nothing opened.
#include "support/Fonctions.h"

#include <sys/stat.h>

bool PathExists(const std::string& path) {
  struct stat attributes {};
  // An embedded NUL would make stat() look at a shorter path than the one asked.
  if (path.find('\0') != std::string::npos) return false;
  return ::stat(path.c_str(), &attributes) == 0;
}
