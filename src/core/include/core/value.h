// SPDX-License-Identifier: Apache-2.0
// Field types and typed values, as the engine stores them and the Access
// reader gives them. Their text forms are the engine's (dbengine/value.h).
#ifndef CORE_VALUE_H_
#define CORE_VALUE_H_

#include <cstdint>
#include <string>

namespace core {

// Field type codes, as reported by field definitions.
enum FieldType : std::int16_t {
  kBoolean = 1,
  kByte = 2,
  kInteger = 3,
  kLong = 4,
  kCurrency = 5,
  kSingle = 6,
  kDouble = 7,
  kDate = 8,
  kBinary = 9,
  kText = 10,
  kLongBinary = 11,
  kMemo = 12,
  kGuid = 15,
  kBigInt = 16,   // 64-bit integer
  kDecimal = 20,  // exact decimal number of up to 28 digits
};

// A field value. Which member holds the value depends on the type:
//   integer  Boolean (0 or 1), Byte, Integer, Long, BigInt, Currency (ten-thousandths)
//   real     Single, Double, Date (days since 30/12/1899, time as the fraction)
//   text     Text, Memo, GUID (UTF-8), Binary, Long binary (raw bytes), Decimal
//            (its text form: digits with a comma before the fraction, "-1110,554")
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
