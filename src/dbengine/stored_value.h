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
#include <string_view>

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

// Takes `stored` as a value of `field` into `*out`, or with `out` null only
// tells whether it would. Returns false, `*out` then unspecified, when it is
// not a value of the field as the engine stores it (docs/database-format.md):
// another storage class, a number out of the field's range or not exact in
// its type, a text longer than the field.
[[gnu::always_inline]] inline bool TakeStored(const StoredValue& stored, const FieldDef& field, Value* out) {
  if (out != nullptr) {
    out->type = field.type;
    out->text.clear();
    out->integer = 0;
    out->real = 0.0;
    out->isNull = stored.kind == SQLITE_NULL;
  }
  if (stored.kind == SQLITE_NULL) return true;
  const std::string_view bytes(stored.bytes != nullptr ? stored.bytes : "", stored.length);
  switch (field.type) {
    case kBoolean:
      if (out != nullptr) out->integer = stored.integer;
      return stored.kind == SQLITE_INTEGER && (stored.integer == 0 || stored.integer == 1);
    case kByte:
    case kInteger:
    case kLong:
    case kCurrency:
    case kBigInt:
      if (out != nullptr) out->integer = stored.integer;
      return stored.kind == SQLITE_INTEGER && IntegerFits(field.type, stored.integer);
    case kSingle:
    case kDouble:
    case kDate: {
      double real;
      if (stored.kind == SQLITE_INTEGER) {
        // A whole number SQLite keeps as an integer (numeric affinity): exact
        // as a double only within 2^53.
        if (stored.integer < -(std::int64_t{1} << 53) || stored.integer > (std::int64_t{1} << 53)) return false;
        real = static_cast<double>(stored.integer);
      } else if (stored.kind == SQLITE_FLOAT) {
        real = stored.real;
      } else {
        return false;
      }
      if (out != nullptr) out->real = real;
      if (!std::isfinite(real)) return false;
      return field.type != kSingle || static_cast<double>(static_cast<float>(real)) == real;
    }
    case kBinary:
    case kLongBinary:
      if (stored.kind != SQLITE_BLOB) return false;
      if (out != nullptr) out->text.assign(bytes);
      return field.type != kBinary || bytes.size() <= static_cast<std::size_t>(field.size);
    default: {  // Text, Memo, GUID, Decimal
      if (stored.kind != SQLITE_TEXT) return false;
      if (out != nullptr) out->text.assign(bytes);
      switch (field.type) {
        case kText:
          return bytes.size() <= static_cast<std::size_t>(field.size) ||
                 Utf8Length(bytes) <= static_cast<std::size_t>(field.size);
        case kGuid:
        case kDecimal: {
          // Kept as stored once it reads as one of the field's values.
          Value parsed;
          return !bytes.empty() && TextToValue(bytes, field.type, parsed) == Conversion::kOk;
        }
        default:
          return true;
      }
    }
  }
}

// What SQLite stores in `value`.
inline StoredValue StoredOf(sqlite3_value* value) {
  StoredValue stored{sqlite3_value_type(value)};
  switch (stored.kind) {
    case SQLITE_INTEGER:
      stored.integer = sqlite3_value_int64(value);
      break;
    case SQLITE_FLOAT:
      stored.real = sqlite3_value_double(value);
      break;
    case SQLITE_TEXT:
      stored.bytes = reinterpret_cast<const char*>(sqlite3_value_text(value));
      stored.length = static_cast<std::size_t>(sqlite3_value_bytes(value));
      break;
    case SQLITE_BLOB:
      stored.bytes = static_cast<const char*>(sqlite3_value_blob(value));
      stored.length = static_cast<std::size_t>(sqlite3_value_bytes(value));
      break;
    default:
      break;
  }
  return stored;
}

}  // namespace dbengine

#endif  // DBENGINE_STORED_VALUE_H_
