// SPDX-License-Identifier: Apache-2.0
// Numbered errors. Every failure of the engine and of the runtime services the
// installer uses travels as one of these exceptions, carrying the number the
// original platform gave to that failure and a French description, up to the
// place that reports it.
#ifndef DBENGINE_ERROR_H_
#define DBENGINE_ERROR_H_

#include <cstdint>
#include <utility>

#include "core/error.h"

namespace dbengine {

// Common base: a number and a French description (possibly empty).
using core::Error;

// A failure of the database engine (numbers 3000 and up).
class EngineError : public Error {
 public:
  using Error::Error;
  // `error` (a text of core/error.h, a refusal of the Access reader) as the engine's.
  explicit EngineError(Error error) : Error(std::move(error)) {}
};

// A failure of a runtime service: files (53, 75, 76, 70), overflow (6),
// object never set (91).
class RuntimeError : public Error {
 public:
  using Error::Error;
};

// The number of the error that ends every read meeting a value stored in a
// field it does not fit (written there by another program: 1.7 in a Long
// field, 'Vrai' in a Yes/No one); its description names the table, the
// field, the row and what is stored.
inline constexpr std::int32_t kErrStoredValue = 3421;

}  // namespace dbengine

#endif  // DBENGINE_ERROR_H_
