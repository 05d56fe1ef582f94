// SPDX-License-Identifier: Apache-2.0
// The one converter between typed values and their fixed French text forms.
//
// Numbers go through std::to_chars / std::from_chars and hand-written digit
// loops only: the C library's printf, strtod and the streams follow LC_NUMERIC,
// which the Qt application object switches to the user's locale.
#include "dbengine/value.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace dbengine {
namespace {

// ---------------------------------------------------------------------------
// Calendar arithmetic (proleptic Gregorian, day 0 = 1970-01-01).

std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shifted = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  const unsigned month = shifted < 10 ? shifted + 3 : shifted - 9;
  const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day};
}

// Day 0 of the date values, 30/12/1899, counted from 1970-01-01.
constexpr std::int64_t kDateEpoch = -25569;
// Integer parts of 01/01/0100 and 31/12/9999, the range of writable dates.
constexpr std::int64_t kFirstDay = -657434;
constexpr std::int64_t kLastDay = 2958465;
constexpr int kSecondsPerDay = 86400;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// ---------------------------------------------------------------------------
// Writing.

// The two digits of each number below 100, for the digit loops below: a
// value's text is built in a small buffer and appended to the line at once.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the decimal digits of `number` so that they end just before `end`;
// returns where they start.
char* WriteDigits(std::uint64_t number, char* end) {
  while (number >= 100) {
    const std::size_t pair = static_cast<std::size_t>(number % 100) * 2;
    number /= 100;
    end -= 2;
    end[0] = kDigitPairs[pair];
    end[1] = kDigitPairs[pair + 1];
  }
  if (number >= 10) {
    end -= 2;
    end[0] = kDigitPairs[number * 2];
    end[1] = kDigitPairs[number * 2 + 1];
  } else {
    *--end = static_cast<char>('0' + number);
  }
  return end;
}

// Writes `number` (below 100) as two digits at `at`; returns the position after them.
char* WriteTwoDigits(unsigned number, char* at) {
  at[0] = kDigitPairs[number * 2];
  at[1] = kDigitPairs[number * 2 + 1];
  return at + 2;
}

void AppendSigned(std::int64_t number, std::string& out) {
  char buffer[24];
  char* const end = buffer + sizeof buffer;
  // Through the unsigned magnitude so that the most negative number works too.
  std::uint64_t magnitude = static_cast<std::uint64_t>(number);
  if (number < 0) magnitude = 0 - magnitude;
  char* start = WriteDigits(magnitude, end);
  if (number < 0) *--start = '-';
  out.append(start, static_cast<std::size_t>(end - start));
}

void AppendCurrency(std::int64_t tenThousandths, std::string& out) {
  char buffer[32];
  char* const end = buffer + sizeof buffer;
  // Through the unsigned magnitude so that the most negative amount works too.
  std::uint64_t magnitude = static_cast<std::uint64_t>(tenThousandths);
  if (tenThousandths < 0) magnitude = 0 - magnitude;
  // The fraction first, right to left, its trailing zeros dropped.
  char* start = end;
  if (auto fraction = static_cast<unsigned>(magnitude % 10000); fraction != 0) {
    int length = 4;
    while (fraction % 10 == 0) {
      fraction /= 10;
      --length;
    }
    for (int digit = 0; digit < length; ++digit) {
      *--start = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    *--start = ',';
  }
  start = WriteDigits(magnitude / 10000, start);
  if (tenThousandths < 0) *--start = '-';
  out.append(start, static_cast<std::size_t>(end - start));
}

// Writes a floating-point number rounded to `significant` digits, in fixed form
// while its decimal exponent lies in [-4, significant) and in exponent form
// ("1,5E+20", "1E-05") otherwise, as the classic Basic runtime does.
template <typename Float>
void AppendFloating(Float number, int significant, std::string& out) {
  if (std::isnan(number)) {
    out += "-1,#IND";
    return;
  }
  if (std::isinf(number)) {
    out += number < 0 ? "-1,#INF" : "1,#INF";
    return;
  }
  if (number == 0) {  // negative zero too
    out.push_back('0');
    return;
  }
  // The text is built in `text` (at most a sign, 17 digits, a comma, the
  // zeros of an exponent down to -4 or up to 15, or "E+308"), then appended.
  char text[48];
  char* at = text;
  if (number < 0) *at++ = '-';
  // The digits rounded to `significant`, and the decimal exponent of the first.
  char digits[24];
  int digitCount = 0;
  int exponent = 0;
  bool found = false;
  if constexpr (std::is_same_v<Float, double>) {
    // Any decimal of at most 15 digits that reads back as the number is
    // also the number rounded to 15 digits (a double's half unit in the last
    // place is under a fourth of half a unit in its 15th digit), trailing
    // zeros aside: most stored amounts and rates have a few decimals, found
    // without the general conversion.
    constexpr int kDecimals = 6;
    constexpr double kScale = 1e6;
    const double magnitude = std::fabs(number);
    if (significant == 15 && magnitude < 1e9 && magnitude >= 1e-4) {
      const double scaled = std::nearbyint(magnitude * kScale);
      if (scaled >= 1 && scaled / kScale == magnitude) {
        char whole[24];
        char* const end = whole + sizeof whole;
        const char* start = WriteDigits(static_cast<std::uint64_t>(scaled), end);
        digitCount = static_cast<int>(end - start);
        std::copy(start, static_cast<const char*>(end), digits);
        exponent = digitCount - 1 - kDecimals;
        found = true;
      }
    }
  }
  if (!found) {
    // "d.ddddde+XX" (or "-d.ddd..."): correctly rounded, locale-free.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::scientific, significant - 1);
    const char* cursor = buffer;
    if (*cursor == '-') ++cursor;
    while (*cursor != 'e') {
      if (*cursor != '.') digits[digitCount++] = *cursor;
      ++cursor;
    }
    ++cursor;  // 'e'
    std::from_chars(*cursor == '+' ? cursor + 1 : cursor, result.ptr, exponent);
  }
  while (digitCount > 1 && digits[digitCount - 1] == '0') --digitCount;

  if (exponent < -4 || exponent >= significant) {
    *at++ = digits[0];
    if (digitCount > 1) {
      *at++ = ',';
      at = std::copy(digits + 1, digits + digitCount, at);
    }
    *at++ = 'E';
    *at++ = exponent < 0 ? '-' : '+';
    const unsigned magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
    if (magnitude < 100) {
      at = WriteTwoDigits(magnitude, at);
    } else {
      char exponentDigits[8];
      const char* start = WriteDigits(magnitude, exponentDigits + sizeof exponentDigits);
      at = std::copy(start, static_cast<const char*>(exponentDigits + sizeof exponentDigits), at);
    }
  } else if (exponent < 0) {
    *at++ = '0';
    *at++ = ',';
    at = std::fill_n(at, -exponent - 1, '0');
    at = std::copy(digits, digits + digitCount, at);
  } else {
    const int integerDigits = exponent + 1;
    if (digitCount <= integerDigits) {
      at = std::copy(digits, digits + digitCount, at);
      at = std::fill_n(at, integerDigits - digitCount, '0');
    } else {
      at = std::copy(digits, digits + integerDigits, at);
      *at++ = ',';
      at = std::copy(digits + integerDigits, digits + digitCount, at);
    }
  }
  out.append(text, static_cast<std::size_t>(at - text));
}

// A date value is days since 30/12/1899 with the time of day as the fraction;
// before that day the integer part is negative and the time is the magnitude
// of the fraction (-1.25 is 29/12/1899 06:00:00). The time is rounded to the
// nearest second, carrying into the next day. A value whose day is 30/12/1899
// is a pure time and is written "hh:nn:ss" alone, midnight included: the value
// 0 writes "00:00:00", as the classic Basic runtime does. Values outside the
// years 100 to 9999 (or not finite) cannot be written as dates and are written
// as the number they hold.
void AppendDate(double serial, std::string& out) {
  if (!std::isfinite(serial) || serial < static_cast<double>(kFirstDay) - 1 ||
      serial > static_cast<double>(kLastDay) + 1) {
    AppendFloating(serial, 15, out);
    return;
  }
  const double wholeDays = std::trunc(serial);
  auto day = static_cast<std::int64_t>(wholeDays);
  auto seconds = static_cast<std::int64_t>(std::nearbyint(std::fabs(serial - wholeDays) * kSecondsPerDay));
  if (seconds >= kSecondsPerDay) {
    seconds -= kSecondsPerDay;
    ++day;
  }
  if (day < kFirstDay || day > kLastDay) {
    AppendFloating(serial, 15, out);
    return;
  }
  // "dd/mm/yyyy hh:nn:ss" at most, built here and appended at once.
  char text[20];
  char* at = text;
  if (day != 0) {
    const CivilDate date = CivilFromDays(day + kDateEpoch);
    const auto year = static_cast<unsigned>(date.year);  // 100 to 9999: four digits
    at = WriteTwoDigits(date.day, at);
    *at++ = '/';
    at = WriteTwoDigits(date.month, at);
    *at++ = '/';
    at = WriteTwoDigits(year / 100, at);
    at = WriteTwoDigits(year % 100, at);
    if (seconds != 0) *at++ = ' ';
  }
  if (day == 0 || seconds != 0) {
    const auto time = static_cast<unsigned>(seconds);
    at = WriteTwoDigits(time / 3600, at);
    *at++ = ':';
    at = WriteTwoDigits(time / 60 % 60, at);
    *at++ = ':';
    at = WriteTwoDigits(time % 60, at);
  }
  out.append(text, static_cast<std::size_t>(at - text));
}

void AppendHex(std::string_view bytes, std::string& out) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  out.reserve(out.size() + bytes.size() * 2);
  for (const char character : bytes) {
    const auto byte = static_cast<unsigned char>(character);
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
  }
}

// ---------------------------------------------------------------------------
// Reading.

bool IsBlank(char character) { return character == ' ' || character == '\t'; }
bool IsDigit(char character) { return character >= '0' && character <= '9'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char LowerAscii(char character) {
  return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a') : character;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view lowerWord) {
  if (text.size() != lowerWord.size()) return false;
  for (std::size_t index = 0; index < text.size(); ++index) {
    if (LowerAscii(text[index]) != lowerWord[index]) return false;
  }
  return true;
}

// A number read exactly: 0.digits x 10^pointPosition, with no leading or
// trailing zero in `digits` (empty for zero).
struct Decimal {
  bool negative = false;
  std::string digits;
  std::int64_t pointPosition = 0;
};

// Exponents are clamped here; anything this far out over- or underflows every type.
constexpr std::int64_t kExponentClamp = 1'000'000'000;

// Reads blanks? [+-]? digits? (',' digits)? (('E'|'e') [+-]? digits)? blanks?
// with at least one mantissa digit.
bool ParseDecimal(std::string_view text, Decimal& number) {
  text = TrimBlanks(text);
  std::size_t position = 0;
  const auto atDigit = [&] { return position < text.size() && IsDigit(text[position]); };
  if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
    number.negative = text[position] == '-';
    ++position;
  }
  const std::size_t integerStart = position;
  while (atDigit()) ++position;
  const auto integerDigits = static_cast<std::int64_t>(position - integerStart);
  std::string mantissa(text.substr(integerStart, position - integerStart));
  if (position < text.size() && text[position] == ',') {
    ++position;
    if (!atDigit()) return false;
    const std::size_t fractionStart = position;
    while (atDigit()) ++position;
    mantissa.append(text.substr(fractionStart, position - fractionStart));
  }
  if (mantissa.empty()) return false;
  std::int64_t exponent = 0;
  if (position < text.size() && (text[position] == 'E' || text[position] == 'e')) {
    ++position;
    bool negativeExponent = false;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
      negativeExponent = text[position] == '-';
      ++position;
    }
    if (!atDigit()) return false;
    while (atDigit()) {
      if (exponent < kExponentClamp) exponent = exponent * 10 + (text[position] - '0');
      ++position;
    }
    if (negativeExponent) exponent = -exponent;
  }
  if (position != text.size()) return false;

  std::size_t first = 0;
  while (first < mantissa.size() && mantissa[first] == '0') ++first;
  std::size_t last = mantissa.size();
  while (last > first && mantissa[last - 1] == '0') --last;
  number.digits = mantissa.substr(first, last - first);
  number.pointPosition = integerDigits - static_cast<std::int64_t>(first) + exponent;
  return true;
}

// Scales `number` by 10^scale and rounds it half to even to an integer whose
// magnitude may not pass maxPositive (or maxPositive + 1 when negative).
Conversion DecimalToInteger(const Decimal& number, int scale, std::uint64_t maxPositive, std::int64_t& result) {
  result = 0;
  if (number.digits.empty()) return Conversion::kOk;
  const std::int64_t point = number.pointPosition + scale;
  if (point > 19) return Conversion::kOverflow;
  const auto length = static_cast<std::int64_t>(number.digits.size());
  std::uint64_t magnitude = 0;
  for (std::int64_t index = 0; index < point; ++index) {
    const int digit = index < length ? number.digits[static_cast<std::size_t>(index)] - '0' : 0;
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(digit);  // 19 digits fit
  }
  if (point >= 0 && point < length) {
    const char roundingDigit = number.digits[static_cast<std::size_t>(point)];
    const bool more = point + 1 < length;  // trailing zeros were dropped, so these are not all zero
    if (roundingDigit > '5' || (roundingDigit == '5' && (more || magnitude % 2 == 1))) ++magnitude;
  }
  const std::uint64_t limit = number.negative ? maxPositive + 1 : maxPositive;
  if (magnitude > limit) return Conversion::kOverflow;
  result = number.negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return Conversion::kOk;
}

// Rounds `number` correctly to Float; underflow reads as zero.
template <typename Float>
Conversion DecimalToFloating(const Decimal& number, Float& result) {
  result = 0;
  if (number.digits.empty()) return Conversion::kOk;
  constexpr int kMaxPoint = std::numeric_limits<Float>::max_exponent10 + 1;
  constexpr int kMinPoint = std::numeric_limits<Float>::min_exponent10 - std::numeric_limits<Float>::max_digits10 - 2;
  if (number.pointPosition > kMaxPoint) return Conversion::kOverflow;
  if (number.pointPosition < kMinPoint) return Conversion::kOk;
  std::string plain;
  plain.reserve(number.digits.size() + 16);
  if (number.negative) plain.push_back('-');
  plain += "0.";
  plain += number.digits;
  plain.push_back('e');
  AppendSigned(number.pointPosition, plain);
  Float value = 0;
  const auto parsed = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (parsed.ec == std::errc::result_out_of_range) {
    return number.pointPosition > 0 ? Conversion::kOverflow : Conversion::kOk;
  }
  if (parsed.ec != std::errc() || parsed.ptr != plain.data() + plain.size()) return Conversion::kMismatch;
  if (!std::isfinite(value)) return Conversion::kOverflow;
  result = value;
  return Conversion::kOk;
}

// Whether `number` lies between the largest Double and its 15-digit text
// (1,79769313486232E+308), which is past it: the exported form of the
// largest Double, read back as that Double.
bool WithinWrittenLargestDouble(const Decimal& number) {
  static_assert(std::numeric_limits<double>::max_exponent10 == 308);
  constexpr std::string_view kWrittenDigits = "179769313486232";
  if (number.pointPosition != 309) return false;
  std::string_view digits = number.digits;  // no leading or trailing zeros
  // Compared as fractions 0.digits: the shorter one padded with zeros.
  const std::size_t length = std::max(digits.size(), kWrittenDigits.size());
  for (std::size_t index = 0; index < length; ++index) {
    const char mine = index < digits.size() ? digits[index] : '0';
    const char written = index < kWrittenDigits.size() ? kWrittenDigits[index] : '0';
    if (mine != written) return mine < written;
  }
  return true;
}

// Reads 1 or 2 digits at `position`.
bool ReadSmallNumber(std::string_view text, std::size_t& position, int& number) {
  if (position >= text.size() || !IsDigit(text[position])) return false;
  number = text[position++] - '0';
  if (position < text.size() && IsDigit(text[position])) number = number * 10 + (text[position++] - '0');
  return true;
}

bool ReadTime(std::string_view text, std::size_t& position, int& hour, int& minute, int& second) {
  second = 0;
  if (!ReadSmallNumber(text, position, hour)) return false;
  if (position >= text.size() || text[position] != ':') return false;
  ++position;
  if (!ReadSmallNumber(text, position, minute)) return false;
  if (position < text.size() && text[position] == ':') {
    ++position;
    if (!ReadSmallNumber(text, position, second)) return false;
  }
  return hour <= 23 && minute <= 59 && second <= 59;
}

// dd/mm/yyyy [hh:nn[:ss]] | hh:nn[:ss], blanks around allowed.
bool ParseDate(std::string_view text, double& serial) {
  std::size_t position = 0;
  int first = 0;
  if (!ReadSmallNumber(text, position, first)) return false;
  int hour = 0, minute = 0, second = 0;
  if (position < text.size() && text[position] == ':') {
    position = 0;
    if (!ReadTime(text, position, hour, minute, second) || position != text.size()) return false;
    serial = DateSerial(1899, 12, 30, hour, minute, second);
    return true;
  }
  const int day = first;
  int month = 0;
  if (position >= text.size() || text[position] != '/') return false;
  ++position;
  if (!ReadSmallNumber(text, position, month)) return false;
  if (position >= text.size() || text[position] != '/') return false;
  ++position;
  int year = 0;
  for (int count = 0; count < 4; ++count) {
    if (position >= text.size() || !IsDigit(text[position])) return false;
    year = year * 10 + (text[position++] - '0');
  }
  if (year < 100 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  if (position < text.size()) {
    if (!IsBlank(text[position])) return false;
    while (position < text.size() && IsBlank(text[position])) ++position;
    if (!ReadTime(text, position, hour, minute, second) || position != text.size()) return false;
  }
  serial = DateSerial(year, month, day, hour, minute, second);
  return true;
}

int HexDigitValue(char character) {
  if (character >= '0' && character <= '9') return character - '0';
  if (character >= 'a' && character <= 'f') return character - 'a' + 10;
  if (character >= 'A' && character <= 'F') return character - 'A' + 10;
  return -1;
}

bool ParseHex(std::string_view text, std::string& bytes) {
  if (text.size() % 2 != 0) return false;
  bytes.clear();
  bytes.reserve(text.size() / 2);
  for (std::size_t index = 0; index < text.size(); index += 2) {
    const int high = HexDigitValue(text[index]);
    const int low = HexDigitValue(text[index + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, braces optional; written back with
// braces and upper-case digits.
bool ParseGuid(std::string_view text, std::string& guid) {
  if (!text.empty() && text.front() == '{') {
    if (text.back() != '}') return false;
    text = text.substr(1, text.size() - 2);
  }
  if (text.size() != 36) return false;
  guid = "{";
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char character = text[index];
    if (index == 8 || index == 13 || index == 18 || index == 23) {
      if (character != '-') return false;
      guid.push_back('-');
    } else {
      if (HexDigitValue(character) < 0) return false;
      guid.push_back(character >= 'a' && character <= 'f' ? static_cast<char>(character - 'a' + 'A') : character);
    }
  }
  guid.push_back('}');
  return true;
}

// The Decimal text form of `number`: at most 28 digits, rounded half away
// from zero past them; more than 28 before the comma is an overflow.
Conversion DecimalToText(const Decimal& number, std::string& out) {
  constexpr std::int64_t kMaxDigits = 28;
  out.clear();
  std::string digits = number.digits;
  std::int64_t point = number.pointPosition;
  if (digits.empty()) {
    out = "0";
    return Conversion::kOk;
  }
  if (point > kMaxDigits) return Conversion::kOverflow;
  // Digits kept: 28 written in all, counting the zeros after the comma.
  const std::int64_t kept = point > 0 ? kMaxDigits : kMaxDigits + point;
  if (kept < static_cast<std::int64_t>(digits.size())) {
    const bool up = kept >= 0 && digits[static_cast<std::size_t>(kept)] >= '5';
    digits.resize(static_cast<std::size_t>(std::max<std::int64_t>(kept, 0)));
    if (up) {
      std::int64_t at = kept - 1;
      while (at >= 0 && digits[static_cast<std::size_t>(at)] == '9') digits[static_cast<std::size_t>(at--)] = '0';
      if (at < 0) {
        digits.insert(digits.begin(), '1');
        ++point;
        if (point > kMaxDigits) return Conversion::kOverflow;
      } else {
        ++digits[static_cast<std::size_t>(at)];
      }
    }
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    if (digits.empty()) {
      out = "0";
      return Conversion::kOk;
    }
  }
  if (number.negative) out.push_back('-');
  const auto size = static_cast<std::int64_t>(digits.size());
  if (point <= 0) {
    out += "0,";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (point >= size) {
    out += digits;
    out.append(static_cast<std::size_t>(point - size), '0');
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out.push_back(',');
    out.append(digits, static_cast<std::size_t>(point), std::string::npos);
  }
  return Conversion::kOk;
}

Conversion ReadNumber(std::string_view text, FieldType type, Value& out) {
  Decimal number;
  if (!ParseDecimal(text, number)) return Conversion::kMismatch;
  out.isNull = false;
  switch (type) {
    case kByte: {
      // Below zero only amounts that round to zero fit.
      const Conversion result = DecimalToInteger(number, 0, 255, out.integer);
      return result == Conversion::kOk && out.integer < 0 ? Conversion::kOverflow : result;
    }
    case kInteger:
      return DecimalToInteger(number, 0, 32767, out.integer);
    case kLong:
      return DecimalToInteger(number, 0, 2147483647, out.integer);
    case kCurrency:
      return DecimalToInteger(number, 4, std::numeric_limits<std::int64_t>::max(), out.integer);
    case kBigInt:
      return DecimalToInteger(number, 0, std::numeric_limits<std::int64_t>::max(), out.integer);
    case kDecimal:
      return DecimalToText(number, out.text);
    case kSingle: {
      float value = 0;
      const Conversion result = DecimalToFloating(number, value);
      out.real = value;
      return result;
    }
    default: {
      double value = 0;
      Conversion result = DecimalToFloating(number, value);
      if (result == Conversion::kOverflow && WithinWrittenLargestDouble(number)) {
        value = number.negative ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
        result = Conversion::kOk;
      }
      out.real = value;
      return result;
    }
  }
}

}  // namespace

void AppendValueText(const Value& value, std::string& out) {
  if (value.isNull) return;
  switch (value.type) {
    case kBoolean:
      out += value.integer != 0 ? "Vrai" : "Faux";
      break;
    case kByte:
    case kInteger:
    case kLong:
    case kBigInt:
      AppendSigned(value.integer, out);
      break;
    case kCurrency:
      AppendCurrency(value.integer, out);
      break;
    case kSingle:
      AppendFloating(static_cast<float>(value.real), 7, out);
      break;
    case kDouble:
      AppendFloating(value.real, 15, out);
      break;
    case kDate:
      AppendDate(value.real, out);
      break;
    case kBinary:
    case kLongBinary:
      AppendHex(value.text, out);
      break;
    default:  // Text, Memo, GUID, Decimal
      out += value.text;
      break;
  }
}

std::string ValueToText(const Value& value) {
  std::string text;
  AppendValueText(value, text);
  return text;
}

Conversion TextToValue(std::string_view text, FieldType type, Value& out) {
  out = Value::Null(type);
  switch (type) {
    case kText:
    case kMemo:
      out.isNull = false;
      out.text.assign(text);
      return Conversion::kOk;
    case kBinary:
    case kLongBinary:
      out.isNull = false;
      return ParseHex(text, out.text) ? Conversion::kOk : Conversion::kMismatch;
    case kGuid:
      // No GUID is empty: an empty text is a missing one.
      if (text.empty()) return Conversion::kOk;
      out.isNull = false;
      return ParseGuid(text, out.text) ? Conversion::kOk : Conversion::kMismatch;
    default:
      break;
  }
  const std::string_view trimmed = TrimBlanks(text);
  if (trimmed.empty()) {
    return type == kBoolean || type == kDate || IsNumericType(type) ? Conversion::kOk : Conversion::kMismatch;
  }
  switch (type) {
    case kBoolean: {
      out.isNull = false;
      if (EqualsIgnoringCase(trimmed, "vrai") || EqualsIgnoringCase(trimmed, "true")) {
        out.integer = 1;
        return Conversion::kOk;
      }
      if (EqualsIgnoringCase(trimmed, "faux") || EqualsIgnoringCase(trimmed, "false")) {
        out.integer = 0;
        return Conversion::kOk;
      }
      Decimal number;
      if (!ParseDecimal(trimmed, number)) return Conversion::kMismatch;
      out.integer = number.digits.empty() ? 0 : 1;
      return Conversion::kOk;
    }
    case kDate:
      out.isNull = false;
      return ParseDate(trimmed, out.real) ? Conversion::kOk : Conversion::kMismatch;
    case kByte:
    case kInteger:
    case kLong:
    case kCurrency:
    case kSingle:
    case kDouble:
    case kBigInt:
    case kDecimal:
      return ReadNumber(trimmed, type, out);
    default:
      return Conversion::kMismatch;
  }
}

std::string DescribeFieldType(FieldType type, std::int32_t size) {
  switch (type) {
    case kBoolean: return "Oui/Non";
    case kByte: return "Octet";
    case kInteger: return "Entier";
    case kLong: return "Entier long";
    case kCurrency: return "Monétaire";
    case kSingle: return "Réel simple";
    case kDouble: return "Réel double";
    case kDate: return "Date/Heure";
    case kBinary: return "Binaire (" + std::to_string(size) + ")";
    case kText: return "Texte (" + std::to_string(size) + ")";
    case kLongBinary: return "Binaire long";
    case kMemo: return "Mémo";
    case kGuid: return "GUID";
    case kBigInt: return "Grand entier";
    case kDecimal: return "Décimal";
  }
  return "type " + std::to_string(static_cast<int>(type));
}

double DateSerial(int year, int month, int day, int hour, int minute, int second) {
  // Months and times outside their ranges carry into the larger units.
  std::int64_t fullYear = year;
  std::int64_t monthIndex = static_cast<std::int64_t>(month) - 1;
  fullYear += monthIndex >= 0 ? monthIndex / 12 : (monthIndex - 11) / 12;
  monthIndex -= (monthIndex >= 0 ? monthIndex / 12 : (monthIndex - 11) / 12) * 12;
  std::int64_t seconds = static_cast<std::int64_t>(hour) * 3600 + static_cast<std::int64_t>(minute) * 60 + second;
  std::int64_t extraDays = seconds >= 0 ? seconds / kSecondsPerDay : (seconds - kSecondsPerDay + 1) / kSecondsPerDay;
  seconds -= extraDays * kSecondsPerDay;
  const std::int64_t days = DaysFromCivil(fullYear, static_cast<unsigned>(monthIndex + 1), 1) + (day - 1) +
                            extraDays - kDateEpoch;
  const double time = static_cast<double>(seconds) / kSecondsPerDay;
  // Before 30/12/1899 the time is added to the magnitude of the negative day.
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

std::size_t DecodeUtf8(const unsigned char* text, std::size_t size, char32_t& codePoint) {
  const unsigned char lead = text[0];
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (size < length) return 0;
  for (std::size_t index = 1; index < length; ++index) {
    if ((text[index] & 0xC0) != 0x80) return 0;
    codePoint = codePoint << 6 | (text[index] & 0x3F);
  }
  if (length == 3 && (codePoint < 0x800 || (codePoint >= 0xD800 && codePoint <= 0xDFFF))) return 0;
  if (length == 4 && (codePoint < 0x10000 || codePoint > 0x10FFFF)) return 0;
  return length;
}

}  // namespace dbengine
