// SPDX-License-Identifier: Apache-2.0
#include "dbengine/value.h"

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "support/print_value.h"


namespace {

using namespace dbengine;

struct FormatCase {
  Value value;
  const char* text;
};

std::vector<FormatCase> FormatCases() {
  constexpr std::int64_t kMinCurrency = std::numeric_limits<std::int64_t>::min();
  return {
      {Value::Integer(kBoolean, 1), "Vrai"},
      {Value::Integer(kBoolean, 0), "Faux"},
      {Value::Integer(kByte, 255), "255"},
      {Value::Integer(kInteger, -32768), "-32768"},
      {Value::Integer(kLong, 2147483647), "2147483647"},
      {Value::Integer(kCurrency, 125000), "12,5"},
      {Value::Integer(kCurrency, 30000), "3"},
      {Value::Integer(kCurrency, -1), "-0,0001"},
      {Value::Integer(kCurrency, 0), "0"},
      {Value::Integer(kCurrency, kMinCurrency), "-922337203685477,5808"},
      {Value::Real(kDouble, 0.1 + 0.2), "0,3"},
      {Value::Real(kDouble, -0.0), "0"},
      {Value::Real(kDouble, 1.5e20), "1,5E+20"},
      {Value::Real(kDouble, 1e-5), "1E-05"},
      {Value::Real(kDouble, 1e-4), "0,0001"},
      {Value::Real(kDouble, -0.000123), "-0,000123"},
      {Value::Real(kDouble, 123456789012345.0), "123456789012345"},
      {Value::Real(kDouble, 1e15), "1E+15"},
      {Value::Real(kDouble, 1234567890123456.0), "1,23456789012346E+15"},
      {Value::Real(kDouble, 1.0 / 3), "0,333333333333333"},
      {Value::Real(kDouble, 1e300), "1E+300"},
      {Value::Real(kDouble, -2.5e-300), "-2,5E-300"},
      // 15 digits round the largest Double past it; its text reads back as it.
      {Value::Real(kDouble, std::numeric_limits<double>::max()), "1,79769313486232E+308"},
      {Value::Real(kDouble, -std::numeric_limits<double>::max()), "-1,79769313486232E+308"},
      {Value::Real(kSingle, 12345678.0), "1,234568E+07"},
      {Value::Real(kSingle, 1234567.0), "1234567"},
      {Value::Real(kSingle, 0.1), "0,1"},
      {Value::Real(kSingle, 3.14159265358979), "3,141593"},
      {Value::Real(kSingle, std::numeric_limits<float>::max()), "3,402823E+38"},
      {Value::Real(kDate, DateSerial(2024, 2, 29)), "29/02/2024"},
      {Value::Real(kDate, DateSerial(2024, 2, 29, 13, 5, 9)), "29/02/2024 13:05:09"},
      {Value::Real(kDate, DateSerial(9999, 12, 31, 23, 59, 59)), "31/12/9999 23:59:59"},
      {Value::Real(kDate, DateSerial(100, 1, 1)), "01/01/0100"},
      {Value::Real(kDate, DateSerial(999, 3, 1, 8, 0, 0)), "01/03/0999 08:00:00"},
      {Value::Real(kDate, 1.0), "31/12/1899"},
      {Value::Real(kDate, -1.25), "29/12/1899 06:00:00"},
      {Value::Real(kDate, 36526.5), "01/01/2000 12:00:00"},
      {Value::Real(kDate, 0.75), "18:00:00"},
      {Value::Real(kDate, 0.0), "00:00:00"},
      {Value::Real(kDate, 1.0 - 0.1 / 86400), "31/12/1899"},  // 23:59:59.9 rounds into the next day
      {Value::Real(kDate, 2.0 + 1.4 / 86400), "01/01/1900 00:00:01"},
      {Value::Text(kText, "  l'été  "), "  l'été  "},
      {Value::Text(kBinary, std::string("\x00\x7f\xab\xff", 4)), "007FABFF"},
      {Value::Text(kGuid, "{0A1B2C3D-0000-1111-2222-ABCDEFABCDEF}"), "{0A1B2C3D-0000-1111-2222-ABCDEFABCDEF}"},
      {Value::Null(kDouble), ""},
      {Value::Null(kDate), ""},
  };
}

TEST(ValueText, WritesFixedFrenchForms) {
  for (const FormatCase& entry : FormatCases()) {
    EXPECT_EQ(ValueToText(entry.value), entry.text) << "type " << entry.value.type;
  }
}

TEST(ValueText, DateSerialCountsFromLastDayOf1899) {
  EXPECT_EQ(DateSerial(1899, 12, 30), 0.0);
  EXPECT_EQ(DateSerial(1900, 1, 1), 2.0);
  EXPECT_EQ(DateSerial(2000, 1, 1), 36526.0);
  EXPECT_EQ(DateSerial(1899, 12, 29, 6, 0, 0), -1.25);
  EXPECT_EQ(DateSerial(100, 1, 1), -657434.0);
  EXPECT_EQ(DateSerial(9999, 12, 31), 2958465.0);
}

struct ParseCase {
  const char* text;
  FieldType type;
  Value expected;
};

TEST(ValueText, ReadsTexts) {
  const std::vector<ParseCase> cases = {
      {"Vrai", kBoolean, Value::Integer(kBoolean, 1)},
      {"fAUX", kBoolean, Value::Integer(kBoolean, 0)},
      {"TRUE", kBoolean, Value::Integer(kBoolean, 1)},
      {"-1", kBoolean, Value::Integer(kBoolean, 1)},
      {"0", kBoolean, Value::Integer(kBoolean, 0)},
      {" 7 ", kBoolean, Value::Integer(kBoolean, 1)},
      {"255", kByte, Value::Integer(kByte, 255)},
      {"-0,4", kByte, Value::Integer(kByte, 0)},
      {"\t+12 ", kInteger, Value::Integer(kInteger, 12)},
      {"2,5", kInteger, Value::Integer(kInteger, 2)},
      {"3,5", kInteger, Value::Integer(kInteger, 4)},
      {"-2,5", kInteger, Value::Integer(kInteger, -2)},
      {"2,5000001", kInteger, Value::Integer(kInteger, 3)},
      {"-32768", kInteger, Value::Integer(kInteger, -32768)},
      {"32767,4", kInteger, Value::Integer(kInteger, 32767)},
      {"1,5E+3", kLong, Value::Integer(kLong, 1500)},
      {"-2147483648", kLong, Value::Integer(kLong, -2147483648LL)},
      {"12,5", kCurrency, Value::Integer(kCurrency, 125000)},
      {"-0,0001", kCurrency, Value::Integer(kCurrency, -1)},
      {"0,00005", kCurrency, Value::Integer(kCurrency, 0)},
      {"0,00015", kCurrency, Value::Integer(kCurrency, 2)},
      {"-922337203685477,5808", kCurrency, Value::Integer(kCurrency, std::numeric_limits<std::int64_t>::min())},
      {",5", kDouble, Value::Real(kDouble, 0.5)},
      {"1,5E+20", kDouble, Value::Real(kDouble, 1.5e20)},
      {"1e-05", kDouble, Value::Real(kDouble, 1e-5)},
      {"0,1", kDouble, Value::Real(kDouble, 0.1)},
      {"1E-400", kDouble, Value::Real(kDouble, 0.0)},
      {"1,7976931348623159E+308", kDouble, Value::Real(kDouble, std::numeric_limits<double>::max())},
      {"-179769313486232000E+291", kDouble, Value::Real(kDouble, -std::numeric_limits<double>::max())},
      {"0,1", kSingle, Value::Real(kSingle, static_cast<double>(0.1f))},
      {"3,402823E+38", kSingle, Value::Real(kSingle, 3.402823e38f)},
      {"31/12/9999 23:59:59", kDate, Value::Real(kDate, DateSerial(9999, 12, 31, 23, 59, 59))},
      {"1/2/2024", kDate, Value::Real(kDate, DateSerial(2024, 2, 1))},
      {" 29/02/2000  7:05 ", kDate, Value::Real(kDate, DateSerial(2000, 2, 29, 7, 5, 0))},
      {"01/01/0999", kDate, Value::Real(kDate, DateSerial(999, 1, 1))},
      {"12:30", kDate, Value::Real(kDate, 0.5 + 30.0 / 1440)},
      {"0:00:00", kDate, Value::Real(kDate, 0.0)},
      {"", kDouble, Value::Null(kDouble)},
      {"  ", kBoolean, Value::Null(kBoolean)},
      {"\t", kDate, Value::Null(kDate)},
      {"", kText, Value::Text(kText, "")},
      {" 1.5 ", kMemo, Value::Text(kMemo, " 1.5 ")},
      {"00ff7F", kBinary, Value::Text(kBinary, std::string("\x00\xff\x7f", 3))},
      {"", kLongBinary, Value::Text(kLongBinary, "")},
      {"0a1b2c3d-0000-1111-2222-abcdefabcdef", kGuid, Value::Text(kGuid, "{0A1B2C3D-0000-1111-2222-ABCDEFABCDEF}")},
      {"", kGuid, Value::Null(kGuid)},
      {"-9223372036854775808", kBigInt, Value::Integer(kBigInt, std::numeric_limits<std::int64_t>::min())},
      {"9223372036854775807", kBigInt, Value::Integer(kBigInt, std::numeric_limits<std::int64_t>::max())},
      {"-0050,3250", kDecimal, Value::Text(kDecimal, "-50,325")},
      {"1234567890123456789012345678", kDecimal, Value::Text(kDecimal, "1234567890123456789012345678")},
      {"0,00000000000000000000000000015", kDecimal, Value::Text(kDecimal, "0,0000000000000000000000000002")},
      {"99,99999999999999999999999999999", kDecimal, Value::Text(kDecimal, "100")},
      {"1,5E+3", kDecimal, Value::Text(kDecimal, "1500")},
      {"", kDecimal, Value::Null(kDecimal)},
  };
  for (const ParseCase& entry : cases) {
    Value value;
    EXPECT_EQ(TextToValue(entry.text, entry.type, value), Conversion::kOk) << entry.text;
    EXPECT_EQ(value, entry.expected) << "'" << entry.text << "' as type " << entry.type;
  }
}

struct FailCase {
  const char* text;
  FieldType type;
  Conversion expected;
};

TEST(ValueText, RefusesTexts) {
  constexpr Conversion kMismatch = Conversion::kMismatch;
  constexpr Conversion kOverflow = Conversion::kOverflow;
  const std::vector<FailCase> cases = {
      {"12.5", kDouble, kMismatch},    {"1 000", kLong, kMismatch},        {"12,5,3", kDouble, kMismatch},
      {"abc", kDouble, kMismatch},     {"1e", kDouble, kMismatch},         {"1E+", kDouble, kMismatch},
      {",", kDouble, kMismatch},       {"5,", kCurrency, kMismatch},       {"-", kInteger, kMismatch},
      {"+-1", kInteger, kMismatch},    {"- 1", kInteger, kMismatch},       {"1,5 E3", kDouble, kMismatch},
      {"0x10", kLong, kMismatch},      {"1.000,5", kCurrency, kMismatch},  {"12€", kCurrency, kMismatch},
      {"Oui", kBoolean, kMismatch},    {"Vrai!", kBoolean, kMismatch},     {"inf", kDouble, kMismatch},
      {"32768", kInteger, kOverflow},  {"-32768,6", kInteger, kOverflow},  {"256", kByte, kOverflow},
      {"-1", kByte, kOverflow},        {"2147483648", kLong, kOverflow},   {"1E+30", kLong, kOverflow},
      {"922337203685477,5808", kCurrency, kOverflow},                      {"1E+400", kDouble, kOverflow},
      {"1,797693134862321E+308", kDouble, kOverflow},                      {"-1,8E+308", kDouble, kOverflow},
      {"3,5E+38", kSingle, kOverflow}, {"-1E+39", kSingle, kOverflow},
      {"9223372036854775808", kBigInt, kOverflow}, {"12345678901234567890123456789", kDecimal, kOverflow},
      {"1.5", kDecimal, kMismatch},
      {"31/02/2024", kDate, kMismatch}, {"29/02/1900", kDate, kMismatch},  {"24:00:00", kDate, kMismatch},
      {"12:60", kDate, kMismatch},     {"12:00:60", kDate, kMismatch},     {"01/13/2024", kDate, kMismatch},
      {"00/01/2024", kDate, kMismatch}, {"01/01/99", kDate, kMismatch},    {"01/01/0099", kDate, kMismatch},
      {"01/01/10000", kDate, kMismatch}, {"001/01/2024", kDate, kMismatch}, {"01-01-2024", kDate, kMismatch},
      {"01/01/2024 12", kDate, kMismatch}, {"01/01/202412:00", kDate, kMismatch}, {"12", kDate, kMismatch},
      {"0F0", kBinary, kMismatch},     {"0G", kBinary, kMismatch},         {"{0A1B2C3D-0000-1111-2222-ABCDEFABCDEF", kGuid, kMismatch},
      {"0A1B2C3D00001111-2222-ABCDEFABCDEF0", kGuid, kMismatch},           {"0A1B2C3D-0000-1111-2222-ABCDEFABCDEG", kGuid, kMismatch},
  };
  for (const FailCase& entry : cases) {
    Value value;
    EXPECT_EQ(TextToValue(entry.text, entry.type, value), entry.expected) << "'" << entry.text << "' as type " << entry.type;
  }
}

TEST(ValueText, WrittenTextsReadBackExactly) {
  // Every written text reads back to a value that writes the same text.
  for (const FormatCase& entry : FormatCases()) {
    Value back;
    ASSERT_EQ(TextToValue(entry.text, entry.value.type, back), Conversion::kOk) << entry.text;
    EXPECT_EQ(ValueToText(back), entry.text);
  }
  // And values the forms can hold read back identical.
  std::vector<Value> values;
  // Doubles of at most 15 significant digits and floats of at most 7 read back the same.
  for (const char* text : {"0,3", "-123,456", "1E-05", "0,0001", "123456789012345", "1E+15", "9,99999999999999E+307",
                           "4,94065645841247E-324", "2,2250738585072E-308", "0,000123456789012345"}) {
    Value value;
    ASSERT_EQ(TextToValue(text, kDouble, value), Conversion::kOk) << text;
    values.push_back(value);
  }
  for (const char* text : {"0,1", "-8388607", "1,234568E+07", "3,402823E+38", "1,175494E-38", "1E-45", "9,999999E-05"}) {
    Value value;
    ASSERT_EQ(TextToValue(text, kSingle, value), Conversion::kOk) << text;
    values.push_back(value);
  }
  for (std::int64_t amount = -1'000'003; amount <= 1'000'003; amount += 77'777) {
    values.push_back(Value::Integer(kCurrency, amount));
  }
  values.push_back(Value::Integer(kCurrency, std::numeric_limits<std::int64_t>::max()));
  for (int year : {100, 999, 1000, 1752, 1899, 1900, 2024, 9999}) {
    values.push_back(Value::Real(kDate, DateSerial(year, 12, 31, 23, 59, 59)));
    values.push_back(Value::Real(kDate, DateSerial(year, 1, 1, 0, 0, 1)));
  }
  for (const Value& value : values) {
    const std::string text = ValueToText(value);
    Value back;
    ASSERT_EQ(TextToValue(text, value.type, back), Conversion::kOk) << text;
    EXPECT_EQ(back, value) << text;
    EXPECT_EQ(ValueToText(back), text);
  }
}

TEST(ValueText, DoublesAreWrittenRoundedToFifteenDigits) {
  // Amounts with a few decimals, their neighbours one unit in the last place
  // away and numbers of 16 or 17 digits: each text reads back as the number
  // rounded to 15 significant digits.
  std::vector<double> numbers;
  std::uint64_t seed = 12345;
  for (int index = 0; index < 20000; ++index) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    const double power[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7};
    const double number = static_cast<double>(seed >> (20 + index % 30)) / power[index % 8];
    numbers.insert(numbers.end(), {number, -number, std::nextafter(number, 0.0), std::nextafter(number, 1e300)});
  }
  for (const double number : numbers) {
    char digits[64];
    const auto end = std::to_chars(digits, digits + sizeof digits, number, std::chars_format::scientific, 14).ptr;
    double rounded = 0;
    std::from_chars(digits, end, rounded);
    Value back;
    const std::string text = ValueToText(Value::Real(kDouble, number));
    ASSERT_EQ(TextToValue(text, kDouble, back), Conversion::kOk) << text;
    ASSERT_EQ(back.real, rounded) << text << " for " << std::string(digits, end);
  }
}

TEST(ValueText, IgnoresTheProcessNumericLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  for (const char* name : {"fr_FR.UTF-8", "de_DE.UTF-8", "fr_FR.utf8", "de_DE.utf8"}) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr) break;
  }
  Value value;
  EXPECT_EQ(ValueToText(Value::Real(kDouble, 1234.5)), "1234,5");
  EXPECT_EQ(ValueToText(Value::Real(kSingle, 1.5e20)), "1,5E+20");
  EXPECT_EQ(TextToValue("1234,5", kDouble, value), Conversion::kOk);
  EXPECT_EQ(value.real, 1234.5);
  EXPECT_EQ(TextToValue("1234.5", kDouble, value), Conversion::kMismatch);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

}  // namespace
