// SPDX-License-Identifier: Apache-2.0
// A value as SQLite stores it, and the rules that take it as a value of its
// field (internal): one set of rules for every read, through SQLite's API
// (ReadColumn) or in the bytes of the file's pages (table_pages.h). Inline:
// every value read goes through them.
#ifndef DBENGINE_STORED_VALUE_H_
#define DBENGINE_STORED_VALUE_H_

#include <sqlite3.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "dbengine/dbengine.h"

namespace dbengine {

std::size_t Utf8Length(std::string_view text);

// Whether `number` is within the range of an integer field of type `type`
// (Byte, Integer, Long; any other type: true).
inline bool IntegerFits(FieldType type, std::int64_t number) {
  switch (type) {
    case kByte:
      return number >= 0 && number <= 255;
    case kInteger:
      return number >= INT16_MIN && number <= INT16_MAX;
    case kLong:
      return number >= INT32_MIN && number <= INT32_MAX;
    default:
      return true;
  }
}

// A value as SQLite stores it: its storage class (SQLITE_NULL, _INTEGER,
// _FLOAT, _TEXT, _BLOB) and its content.
struct StoredValue {
  int kind = SQLITE_NULL;
  std::int64_t integer = 0;
  double real = 0.0;
  const char* bytes = nullptr;  // a text's or a blob's
  std::size_t length = 0;
};

// Takes `stored` as a value of `field` into `out`. Returns false, `out` then
// unspecified, when it is not a value of the field as the engine stores it
// (docs/database-format.md): another storage class, a number out of the
// field's range or not exact in its type, a text longer than the field.
[[gnu::always_inline]] inline bool TakeStored(const StoredValue& stored, const FieldDef& field, Value& out) {
  out.type = field.type;
  out.text.clear();
  out.integer = 0;
  out.real = 0.0;
  out.isNull = stored.kind == SQLITE_NULL;
  if (out.isNull) return true;
  switch (field.type) {
    case kBoolean:
      out.integer = stored.integer;
      return stored.kind == SQLITE_INTEGER && (out.integer == 0 || out.integer == 1);
    case kByte:
    case kInteger:
    case kLong:
    case kCurrency:
    case kBigInt:
      out.integer = stored.integer;
      return stored.kind == SQLITE_INTEGER && IntegerFits(field.type, out.integer);
    case kSingle:
    case kDouble:
    case kDate: {
      if (stored.kind == SQLITE_INTEGER) {
        // A whole number SQLite keeps as an integer (numeric affinity): exact
        // as a double only within 2^53.
        out.real = static_cast<double>(stored.integer);
        if (stored.integer < -(std::int64_t{1} << 53) || stored.integer > (std::int64_t{1} << 53)) return false;
      } else if (stored.kind == SQLITE_FLOAT) {
        out.real = stored.real;
      } else {
        return false;
      }
      if (!std::isfinite(out.real)) return false;
      return field.type != kSingle || static_cast<double>(static_cast<float>(out.real)) == out.real;
    }
    case kBinary:
    case kLongBinary:
      if (stored.kind != SQLITE_BLOB) return false;
      out.text.assign(stored.bytes, stored.length);
      return field.type != kBinary || out.text.size() <= static_cast<std::size_t>(field.size);
    default: {  // Text, Memo, GUID, Decimal
      if (stored.kind != SQLITE_TEXT) return false;
      out.text.assign(stored.bytes, stored.length);
      switch (field.type) {
        case kText:
          return out.text.size() <= static_cast<std::size_t>(field.size) ||
                 Utf8Length(out.text) <= static_cast<std::size_t>(field.size);
        case kGuid:
        case kDecimal: {
          // Kept as stored once it reads as one of the field's values.
          Value parsed;
          return !out.text.empty() && TextToValue(out.text, field.type, parsed) == Conversion::kOk;
        }
        default:
          return true;
      }
    }
  }
}

}  // namespace dbengine

#endif  // DBENGINE_STORED_VALUE_H_
