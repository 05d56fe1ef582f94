// SPDX-License-Identifier: Apache-2.0
// Typed values from the stored bytes of one field: numbers, dates, texts,
// long values, Decimals (a sign and a 96-bit integer scaled by a power of
// ten, given as exact decimal text), the 64-bit integers and extended dates
// of Access 2016 and 2019, and the wrapped values of calculated columns.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state.h"

namespace jet {
namespace {

// Days from 01/01/0001 (day 0) to 30/12/1899, the Date type's day 0.
constexpr std::int64_t kDateEpochFromYearOne = 693593;
constexpr std::int64_t kTicksPerSecond = 10'000'000;  // extended dates count 100 ns
constexpr std::int64_t kSecondsPerDay = 86400;

// The exact decimal text of `magnitude` / 10^scale: a comma before the
// fraction, trailing zeros of the fraction dropped.
std::string DecimalText(bool negative, unsigned __int128 magnitude, int scale) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  if (scale > 0) {
    const auto places = static_cast<std::size_t>(scale);
    if (digits.size() <= places) digits.insert(0, places + 1 - digits.size(), '0');
    digits.insert(digits.size() - places, 1, ',');
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == ',') digits.pop_back();
  }
  if (negative && digits != "0") digits.insert(digits.begin(), '-');
  return digits;
}

// The decimal text with a dot, for strtod.
std::string DotDecimal(std::string text) {
  for (char& c : text) c = c == ',' ? '.' : c;
  return text;
}

// A floating number as the shortest decimal text that reads back as the
// same number of its own type (float or double), without exponent, a comma
// before the fraction.
template <typename Float>
std::string ShortestDecimalText(Float number) {
  if (!std::isfinite(number)) return "0";
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, number, std::chars_format::scientific);
  if (error != std::errc()) return "0";
  *end = '\0';  // -d.dddde+XX, as few digits as read back exactly
  std::string mantissa;
  const bool negative = text[0] == '-';
  const char* at = text + (negative ? 1 : 0);
  for (; *at != 'e'; ++at) {
    if (*at != '.') mantissa.push_back(*at);
  }
  const int exponent = std::atoi(at + 1);
  const int point = exponent + 1;  // digits before the comma
  std::string result;
  if (point <= 0) {
    result = "0," + std::string(static_cast<std::size_t>(-point), '0') + mantissa;
  } else if (point >= static_cast<int>(mantissa.size())) {
    result = mantissa + std::string(static_cast<std::size_t>(point) - mantissa.size(), '0');
  } else {
    result = mantissa.substr(0, static_cast<std::size_t>(point)) + "," + mantissa.substr(static_cast<std::size_t>(point));
  }
  if (result.find(',') != std::string::npos) {
    while (result.back() == '0') result.pop_back();
    if (result.back() == ',') result.pop_back();
  }
  if (negative && result != "0") result.insert(result.begin(), '-');
  return result;
}

// A little-endian two's complement integer of 1 to 8 bytes.
std::int64_t SignedOf(const unsigned char* bytes, std::size_t size) {
  std::uint64_t bits = 0;
  for (std::size_t at = size; at-- > 0;) bits = bits << 8 | bytes[at];
  if (size < 8 && (bytes[size - 1] & 0x80) != 0) bits |= ~std::uint64_t{0} << (8 * size);
  return static_cast<std::int64_t>(bits);
}

// Year, month and day of a day count from 01/01/0001 (proleptic Gregorian).
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
  const std::int64_t z = days + 306;  // from 01/03/0000
  const std::int64_t era = z / 146097;
  const auto dayOfEra = static_cast<unsigned>(z - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shifted = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  month = shifted < 10 ? shifted + 3 : shifted - 9;
  year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

// `out` made what Value::Integer, Value::Real or Value::Text would make, in
// place, without a temporary value for each field of each row.
void SetInteger(Value& out, FieldType type, std::int64_t number) {
  out.type = type;
  out.isNull = false;
  out.streamed = false;
  out.integer = number;
  out.real = 0.0;
  out.text.clear();
}

void SetReal(Value& out, FieldType type, double number) {
  SetInteger(out, type, 0);
  out.real = number;
}

void SetText(Value& out, FieldType type, std::string&& text) {
  SetInteger(out, type, 0);
  out.text = std::move(text);
}

}  // namespace

bool ParseExtendedDate(const unsigned char* bytes, std::size_t size, std::int64_t& days, std::int64_t& ticks) {
  // "DDDDDDDDDDDDDDDDDDD:TTTTTTTTTTTTTTTTTTT:P": days since 01/01/0001, then
  // the time of day in 100 ns, then the digits of precision.
  if (size < 41 || bytes[19] != ':' || bytes[39] != ':') return false;
  days = 0;
  ticks = 0;
  for (std::size_t at = 0; at < 19; ++at) {
    if (bytes[at] < '0' || bytes[at] > '9' || bytes[20 + at] < '0' || bytes[20 + at] > '9') return false;
    days = days * 10 + (bytes[at] - '0');
    ticks = ticks * 10 + (bytes[20 + at] - '0');
  }
  return days <= 3652058 && ticks < kSecondsPerDay * kTicksPerSecond;  // up to 31/12/9999
}

bool ExtendedDateFitsDate(std::int64_t days, std::int64_t ticks) {
  // The Date type holds years 100 to 9999 and whole seconds.
  std::int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  return year >= 100 && ticks % kTicksPerSecond == 0;
}

std::string ExtendedDateText(std::int64_t days, std::int64_t ticks) {
  std::int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  const std::int64_t seconds = ticks / kTicksPerSecond;
  char text[48];
  std::snprintf(text, sizeof text, "%02u/%02u/%04lld %02lld:%02lld:%02lld", day, month, static_cast<long long>(year),
                static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                static_cast<long long>(seconds % 60));
  std::string result = text;
  if (const std::int64_t fraction = ticks % kTicksPerSecond; fraction != 0) {
    std::snprintf(text, sizeof text, ",%07lld", static_cast<long long>(fraction));
    result += text;
    while (result.back() == '0') result.pop_back();
  }
  return result;
}

// A Decimal column: a sign byte, then a 96-bit (in 128) unsigned integer kept
// as four little-endian 32-bit words, most significant first, scaled by
// 10^scale.
Value Reader::State::Decimal(const unsigned char* bytes, int scale) const {
  unsigned __int128 mantissa = 0;
  for (int word = 0; word < 4; ++word) mantissa = mantissa << 32 | Le32(bytes + 1 + 4 * word);
  return Value::Text(kDecimal, DecimalText(bytes[0] != 0, mantissa, scale));
}

void Reader::State::CountLong(const std::string& field, std::uint64_t length) {
  rowLongBytes += length;
  if (rowLongBytes <= kLargestValue) return;
  Damaged("valeur du champ « " + field + " » plus grande que la plus grande valeur que le moteur stocke (" +
          std::to_string(kLargestValue) + " octets" +
          (length <= kLargestValue ? ", avec les autres valeurs longues de sa ligne" : "") + ")" + Where());
}

void Reader::State::Decode(const Column& column, FieldType type, const Slice& stored, Value& out) {
  if (column.type == kJetBoolean) {
    out = Value::Integer(kBoolean, stored.isNull ? 0 : 1);
    return;
  }
  if (stored.isNull) {
    out = Value::Null(type);
    return;
  }
  Slice slice = stored;
  std::string unwrapped;  // a calculated long text, once unwrapped
  auto need = [&](std::size_t size) {
    if (slice.size < size) Damaged("valeur tronquée du champ « " + column.name + " »" + Where());
  };
  if (column.calculated) {
    // A calculated value is wrapped: 16 bytes, a 32-bit length, the value.
    // A long text result is a long value holding the wrapped value.
    if (type == kMemo) {
      CountLong(column.name, LongValueLength(slice));
      unwrapped = LongValue(slice);
      slice = Slice{false, reinterpret_cast<const unsigned char*>(unwrapped.data()), unwrapped.size()};
    }
    need(20);
    const std::size_t length = Le32(slice.bytes + 16);
    if (length > slice.size - 20) Damaged("valeur calculée tronquée du champ « " + column.name + " »" + Where());
    if (length == 0) {
      // The field is present (its Null bit says so) and the wrapper empty:
      // for a text result, the empty text; a number has no empty form, Null.
      out = type == kText || type == kMemo ? Value::Text(type, {}) : Value::Null(type);
      return;
    }
    slice = Slice{false, slice.bytes + 20, length};
    const unsigned char* bytes = slice.bytes;
    switch (type) {
      case kByte:
      case kInteger:
      case kLong:
      case kBigInt:
      case kCurrency:
        // Integer results (Yes/No ones among them) keep only the bytes they need.
        if (length > 8) Damaged("valeur calculée illisible du champ « " + column.name + " »" + Where());
        out = Value::Integer(type, SignedOf(bytes, length));
        return;
      case kDecimal:
        if (length == 16) {
          // The 16-byte decimal of Windows: 2 unused, the scale, the sign
          // (0x80), the high 32 bits, then the low 64 bits.
          if (bytes[2] > 28) Damaged("valeur calculée illisible du champ « " + column.name + " »" + Where());
          const unsigned __int128 mantissa = static_cast<unsigned __int128>(Le32(bytes + 4)) << 64 | Le64(bytes + 8);
          out = Value::Text(kDecimal, DecimalText((bytes[3] & 0x80) != 0, mantissa, bytes[2]));
          return;
        }
        if (length == 4) {
          // A floating result given to a Numeric column: the shortest text
          // that gives back the stored Single (or Double, below) exactly.
          float single;
          const std::uint32_t bits = Le32(bytes);
          std::memcpy(&single, &bits, sizeof single);
          out = Value::Text(kDecimal, ShortestDecimalText(single));
          return;
        }
        if (length == 8) {
          double number;
          const std::uint64_t bits = Le64(bytes);
          std::memcpy(&number, &bits, sizeof number);
          out = Value::Text(kDecimal, ShortestDecimalText(number));
          return;
        }
        Damaged("valeur calculée illisible du champ « " + column.name + " »" + Where());
      case kDouble:
        if (length == 16) {
          const unsigned __int128 mantissa = static_cast<unsigned __int128>(Le32(bytes + 4)) << 64 | Le64(bytes + 8);
          out = Value::Real(kDouble, std::strtod(DotDecimal(DecimalText((bytes[3] & 0x80) != 0, mantissa,
                                                                        bytes[2] > 28 ? 0 : bytes[2])).c_str(),
                                                 nullptr));
          return;
        }
        if (length == 8) {
          // A Currency result kept in a Double column: as a double its bits
          // would be a subnormal number or no number, which no calculation gives.
          const std::uint64_t bits = Le64(bytes);
          const std::uint64_t exponent = bits >> 52 & 0x7FF;
          if ((exponent == 0 && (bits << 1) != 0) || exponent == 0x7FF) {
            out = Value::Real(kDouble, static_cast<double>(static_cast<std::int64_t>(bits)) / 10000);
            return;
          }
        }
        break;
      default:
        break;  // read as the column's own type, below
    }
  }
  const unsigned char* bytes = slice.bytes;
  switch (column.type) {
    case kJetByte:
      need(1);
      SetInteger(out, kByte, bytes[0]);
      break;
    case kJetInteger:
      need(2);
      SetInteger(out, kInteger, static_cast<std::int16_t>(Le16(bytes)));
      break;
    case kJetLong:
    case kJetComplex:  // the key of the row's values in the child table
      need(4);
      SetInteger(out, kLong, static_cast<std::int32_t>(Le32(bytes)));
      break;
    case kJetBigInt:
      need(8);
      out = Value::Integer(kBigInt, static_cast<std::int64_t>(Le64(bytes)));
      break;
    case kJetCurrency:  // ten-thousandths, as the engine keeps them
      need(8);
      out = Value::Integer(kCurrency, static_cast<std::int64_t>(Le64(bytes)));
      break;
    case kJetSingle: {
      need(4);
      const std::uint32_t bits = Le32(bytes);
      float number;
      std::memcpy(&number, &bits, sizeof number);
      SetReal(out, kSingle, number);
      break;
    }
    case kJetDouble:
    case kJetDate: {  // a date is days since 30/12/1899, as in the engine
      need(8);
      const std::uint64_t bits = Le64(bytes);
      double number;
      std::memcpy(&number, &bits, sizeof number);
      SetReal(out, type, number);
      break;
    }
    case kJetExtendedDate: {
      std::int64_t days = 0;
      std::int64_t ticks = 0;
      if (!ParseExtendedDate(bytes, slice.size, days, ticks)) {
        Damaged("date étendue illisible du champ « " + column.name + " »" + Where());
      }
      if (type == kDate) {
        const double time = static_cast<double>(ticks / kTicksPerSecond) / kSecondsPerDay;
        const std::int64_t serial = days - kDateEpochFromYearOne;
        out = Value::Real(kDate, serial >= 0 ? static_cast<double>(serial) + time : static_cast<double>(serial) - time);
      } else {
        out = Value::Text(kText, ExtendedDateText(days, ticks));
      }
      break;
    }
    case kJetDecimal:
      need(17);
      out = Decimal(bytes, column.scale);
      break;
    case kJetGuid:
      need(16);
      out = Value::Text(kGuid, GuidText(bytes));
      break;
    case kJetText:
      if (type == kMemo && !column.calculated) {
        CountLong(column.name, LongValueLength(slice));
        const std::string text = LongValue(slice);
        out = Value::Text(kMemo, Text(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
      } else {
        SetText(out, type, Text(bytes, slice.size));
      }
      break;
    case kJetMemo: {
      CountLong(column.name, LongValueLength(slice));
      const std::string text = LongValue(slice);
      out = Value::Text(kMemo, Text(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
      break;
    }
    case kJetOle: {
      const std::size_t length = LongValueLength(slice);
      CountLong(column.name, length);
      if (streamAbove != 0 && length > streamAbove) {
        out = Value::Text(kLongBinary, {});
        out.streamed = true;
        out.integer = static_cast<std::int64_t>(length);
      } else {
        out = Value::Text(kLongBinary, LongValue(slice));
      }
      break;
    }
    default:  // binary
      out = Value::Text(type, std::string(reinterpret_cast<const char*>(bytes), slice.size));
      break;
  }
}

}  // namespace jet
