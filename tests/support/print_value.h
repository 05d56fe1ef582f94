// SPDX-License-Identifier: Apache-2.0
// Readable failure messages of the engine's values in GoogleTest's output,
// for every test binary that compares values.
#ifndef TESTS_SUPPORT_PRINT_VALUE_H_
#define TESTS_SUPPORT_PRINT_VALUE_H_

#include <ostream>

#include "core/value.h"

namespace core {
inline void PrintTo(const Value& value, std::ostream* out) {
  *out << "{type " << value.type << (value.isNull ? ", Null" : "") << ", integer " << value.integer << ", real "
       << value.real << ", text '" << value.text << "'}";
}
}  // namespace core

#endif  // TESTS_SUPPORT_PRINT_VALUE_H_
