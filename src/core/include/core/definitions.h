// SPDX-License-Identifier: Apache-2.0
// A table's field and index as the engine defines them and the Access reader
// reads them from a file's table definitions.
#ifndef CORE_DEFINITIONS_H_
#define CORE_DEFINITIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "core/value.h"

namespace core {

struct FieldDef {
  std::string name;
  FieldType type = kText;
  std::int32_t size = 0;  // characters for Text, bytes for the fixed-size types
  bool required = false;  // NOT NULL
};

struct IndexDef {
  std::string name;
  bool primary = false;
  bool unique = false;
  std::vector<std::string> fields;  // in index order
};

}  // namespace core

#endif  // CORE_DEFINITIONS_H_
