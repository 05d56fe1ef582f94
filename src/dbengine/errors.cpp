// SPDX-License-Identifier: Apache-2.0
// The engine's errors by name: their numbers and French texts (errors.h).
#include "dbengine/errors.h"

#include <errno.h>

namespace dbengine::errors {

EngineError DiskWrite(int error, const std::string& path) {
  if (error == ENOSPC || error == EDQUOT || error == EFBIG) {
    return EngineError(3026, "Espace disque insuffisant pour écrire dans la base de données « " + path + " ».");
  }
  return EngineError(3043, "Erreur de disque ou de réseau sur « " + path + " ».");
}

}  // namespace dbengine::errors
