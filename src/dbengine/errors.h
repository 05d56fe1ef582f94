// SPDX-License-Identifier: Apache-2.0
// The engine's errors by name (internal): each number with its French text,
// written once here, so that every place that meets a failure throws the
// same words for it. The texts name what the failure is about (a table, a
// field, a file) as the caller gives it.
#ifndef DBENGINE_ERRORS_H_
#define DBENGINE_ERRORS_H_

#include <string>

#include "dbengine/error.h"

namespace dbengine::errors {

// A write to the database at `path` that failed with errno `error`: 3026
// when the disk is full (or the file at its size limit), 3043 for any
// other failure.
EngineError DiskWrite(int error, const std::string& path);

}  // namespace dbengine::errors

#endif  // DBENGINE_ERRORS_H_
