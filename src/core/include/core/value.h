// SPDX-License-Identifier: Apache-2.0
// Field types and typed values, as the engine stores them and the Access
// reader gives them. Their text forms are the engine's (dbengine/value.h).
#ifndef CORE_VALUE_H_
#define CORE_VALUE_H_

#include <cstdint>
#include <string>

namespace core {

// Field type codes, as reported by field definitions, and the member of a
// Value that holds a value of each type.
enum FieldType : std::int16_t {
  kBoolean = 1,      // integer: 0 or 1
  kByte = 2,         // integer: 0 to 255
  kInteger = 3,      // integer: 16 bits
  kLong = 4,         // integer: 32 bits
  kCurrency = 5,     // integer: ten-thousandths
  kSingle = 6,       // real: a float's value
  kDouble = 7,       // real
  kDate = 8,         // real: days since 30/12/1899, time as the fraction
  kBinary = 9,       // text: the bytes
  kText = 10,        // text: UTF-8
  kLongBinary = 11,  // text: the bytes
  kMemo = 12,        // text: UTF-8
  kGuid = 15,        // text: UTF-8
  kBigInt = 16,      // integer: 64 bits
  kDecimal = 20,     // text: an exact number of up to 28 digits, a comma before the fraction ("-1110,554")
};

// A field value: its type, Null or not, and the value in the member its type
// names above.
// A streamed value is a long binary value the Access reader gives by its size
// alone (in `integer`), its bytes read apart (jet::Reader::ReadStreamed); no
// other value is streamed.
struct Value {
  FieldType type = kText;
  bool isNull = true;
  bool streamed = false;
  std::int64_t integer = 0;
  double real = 0.0;
  std::string text;

  static Value Null(FieldType type) { Value value; value.type = type; return value; }
  static Value Integer(FieldType type, std::int64_t number) {
    Value value; value.type = type; value.isNull = false; value.integer = number; return value;
  }
  static Value Real(FieldType type, double number) {
    Value value; value.type = type; value.isNull = false; value.real = number; return value;
  }
  static Value Text(FieldType type, std::string content) {
    Value value; value.type = type; value.isNull = false; value.text = std::move(content); return value;
  }
  bool operator==(const Value& other) const = default;
};

}  // namespace core

#endif  // CORE_VALUE_H_
