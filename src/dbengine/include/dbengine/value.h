// SPDX-License-Identifier: Apache-2.0
// Typed field values and their fixed French text forms.
//
// One value type (core::Value) carries a field type and a Null flag. The text
// conversions never consult the process locale (the Qt application object
// changes LC_NUMERIC), so what the export writes the engine always reads back.
//
// Text forms written (ValueToText):
//   Boolean          "Vrai" | "Faux"
//   Byte/Integer/Long/BigInt  [-]digits
//   Currency         [-]digits[,d{1,4}]         trailing zeros dropped
//   Single/Double    [-]d[,ddd]  or  [-]d[,ddd]E(+|-)dd   7 / 15 significant
//                    digits; exponent form when the decimal exponent is
//                    >= 7 (Single) / >= 15 (Double) or < -4
//   Decimal          [-]digits[,digits]         exact, at most 28 digits, trailing
//                    zeros of the fraction dropped
//   Date             dd/mm/yyyy | dd/mm/yyyy hh:nn:ss | hh:nn:ss
//   Text/Memo        unchanged
//   Binary           two upper-case hexadecimal digits per byte
//   GUID             {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
//   Null             ""
//
// Texts read (TextToValue), by the field's type:
//   number   := blanks? [+-]? digits? (',' digits)? (('E'|'e') [+-]? digits)? blanks?
//               with at least one digit before the exponent; a dot, grouping or
//               any other character is a mismatch. Integer types round a
//               fractional part half to even. Out of range is an overflow.
//   Boolean  := "Vrai" | "Faux" | "True" | "False" (any case) | integer (non-zero
//               is true, so "-1" is true and "0" false)
//   Date     := dd/mm/yyyy [hh:nn[:ss]] | hh:nn[:ss]   (one- or two-digit day,
//               month, hour; years 100 to 9999)
//   Text, Memo: any text. Binary: hex pairs. GUID: the form above, braces optional.
//   An empty text for a number, Boolean or date gives Null.
#ifndef DBENGINE_VALUE_H_
#define DBENGINE_VALUE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "core/value.h"

namespace dbengine {

// The field types and the value (core/value.h), under the engine's names.
using core::FieldType;
using enum core::FieldType;
using core::Value;

enum class Conversion { kOk, kMismatch, kOverflow };

// Appends the French text form of `value` to `out` (nothing for Null).
void AppendValueText(const Value& value, std::string& out);
std::string ValueToText(const Value& value);

// The code point of the UTF-8 character, not ASCII, at the start of `text`,
// of which `size` bytes are available. Returns its length in bytes, or 0
// when no character starts there: malformed, truncated, overlong, a
// surrogate or beyond U+10FFFF.
std::size_t DecodeUtf8(const unsigned char* text, std::size_t size, char32_t& codePoint);

// Reads `text` as a value of `type` into `out`. Returns kMismatch when the text
// is not of the type's form and kOverflow when it is out of the type's range;
// `out` is then unspecified. Text lengths are not checked here.
Conversion TextToValue(std::string_view text, FieldType type, Value& out);

// Days since 30/12/1899 for a calendar date and time (no range check).
double DateSerial(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// The French name of a field type, with its size for Text and Binary:
// "Entier long", "Texte (50)".
std::string DescribeFieldType(FieldType type, std::int32_t size);

// Whether the code is one of the numeric types (Byte to Double, BigInt, Decimal).
inline bool IsNumericType(FieldType type) {
  return (type >= kByte && type <= kDouble) || type == kBigInt || type == kDecimal;
}

}  // namespace dbengine

#endif  // DBENGINE_VALUE_H_
