// SPDX-License-Identifier: Apache-2.0
// Jet 4 text as UTF-8: plain and compressed UTF-16, surrogates paired and
// lone, and the texts that give the most UTF-8 for their stored bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state.h"

namespace {

struct TextCase {
  std::vector<unsigned char> stored;
  std::string text;
};

std::vector<unsigned char> Repeated(std::vector<unsigned char> head, std::vector<unsigned char> unit, int times) {
  for (int count = 0; count < times; ++count) head.insert(head.end(), unit.begin(), unit.end());
  return head;
}

std::string Times(const std::string& text, int times) {
  std::string whole;
  for (int count = 0; count < times; ++count) whole += text;
  return whole;
}

TEST(Jet4Text, DecodesEveryFormToUtf8) {
  const std::string replacement = "\xEF\xBF\xBD";
  const std::vector<TextCase> cases = {
      {{}, ""},
      {{0x41, 0x00, 0xE9, 0x00}, "A\xC3\xA9"},
      {{0xFF, 0xFE, 0x41, 0xE9}, "A\xC3\xA9"},
      {{0xFF, 0xFE, 0x61, 0x62, 0x7F}, "ab\x7F"},
      {{0xFF, 0xFE, 0x41, 0x00, 0x3D, 0xD8, 0x01, 0xDE, 0x00, 0x42}, "A\xF0\x9F\x98\x81" "B"},
      {{0x3D, 0xD8}, replacement},
      {{0x3D, 0xD8, 0x41, 0x00}, replacement + "A"},
      {{0x00, 0xDE, 0x41, 0x00, 0x42}, replacement + "A"},
      {Repeated({0xFF, 0xFE}, {0xE9}, 40), Times("\xC3\xA9", 40)},
      {Repeated({}, {0x00, 0xDE}, 30), Times(replacement, 30)},
      {Repeated({}, {0xAC, 0x20}, 30), Times("\xE2\x82\xAC", 30)},
  };
  for (const TextCase& textCase : cases) {
    EXPECT_EQ(jet::DecodeJet4Text(textCase.stored.data(), textCase.stored.size()), textCase.text);
  }
}

}  // namespace
