// SPDX-License-Identifier: Apache-2.0
// Tests of the page decryption over real encrypted Access files: the right password yields
// pages that read as Jet 4 pages, a wrong or missing one is refused, files in clear get no
// decryptor, and damaged or unknown encryption headers are refused by name without a crash.
#include "encryption.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace jet {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::string& name) {
  std::ifstream in(std::string(JET_FIXTURES) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

constexpr std::size_t kPage = 4096;
constexpr std::size_t kInfoLengthAt = 0x299;
const std::string kAgile = "ace/mdbreader_encryption_data_office-agile-4.4.accdb";
const std::string kV2010 = "ace/mdbreader_password_data_V2010_with-password.accdb";
const std::string kRc4 = "ace/mdbreader_encryption_data_office-rc4-cryptoapi-4.2.accdb";
const std::string kAesStandard = "ace/jackcessencrypt_db-nonstandard.accdb";

// Replaces `from` by `to` in the agile XML of page 0 and rewrites the structure's length.
std::function<void(Bytes&)> EditXml(std::string from, std::string to) {
  return [from, to](Bytes& page) {
    const std::size_t length = page[kInfoLengthAt] | page[kInfoLengthAt + 1] << 8;
    std::string info(page.begin() + kInfoLengthAt + 2, page.begin() + kInfoLengthAt + 2 + length);
    const std::size_t at = info.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    info.replace(at, from.size(), to);
    std::fill(page.begin() + kInfoLengthAt, page.end(), 0);
    page[kInfoLengthAt] = static_cast<std::uint8_t>(info.size());
    page[kInfoLengthAt + 1] = static_cast<std::uint8_t>(info.size() >> 8);
    std::copy(info.begin(), info.end(), page.begin() + kInfoLengthAt + 2);
  };
}
std::function<void(Bytes&)> SetLength(std::uint16_t length) {
  return [length](Bytes& page) {
    page[kInfoLengthAt] = static_cast<std::uint8_t>(length);
    page[kInfoLengthAt + 1] = static_cast<std::uint8_t>(length >> 8);
  };
}

struct Case {
  const char* name;
  std::string file;
  std::string password;
  CipherRefusal refusal;
  bool decrypts;                         // a decryptor is expected
  std::function<void(Bytes&)> damage{};  // applied to page 0 before setting up
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"agile, right password", kAgile, "password", CipherRefusal::kNone, true},
      {"2010 database password, right", kV2010, "password", CipherRefusal::kNone, true},
      {"RC4 CryptoAPI, right password", kRc4, "password", CipherRefusal::kNone, true},
      {"RC4 CryptoAPI, wrong password", kRc4, "passwort", CipherRefusal::kWrongPassword, false},
      {"AES standard header, right password", kAesStandard, "password", CipherRefusal::kNone, true},
      {"AES standard header, wrong password", kAesStandard, "Password", CipherRefusal::kWrongPassword, false},
      {"AES standard header, no password", kAesStandard, "", CipherRefusal::kNoPassword, false},
      {"wrong password", kAgile, "Password", CipherRefusal::kWrongPassword, false},
      {"no password", kV2010, "", CipherRefusal::kNoPassword, false},
      {"accdb in clear", "ace/jackcess_empty2016.accdb", "password", CipherRefusal::kNone, false},
      {"Jet 4 in clear", "corpus/V2000_test2V2000.mdb", "", CipherRefusal::kNone, false},
      {"Jet 3 in clear", "corpus/V1997_testV1997.mdb", "", CipherRefusal::kNone, false},
      {"length past the page", kAgile, "password", CipherRefusal::kDamaged, false, SetLength(0xFFFF)},
      {"length shorter than the version", kAgile, "password", CipherRefusal::kDamaged, false, SetLength(4)},
      {"XML cut before the key encryptor", kAgile, "password", CipherRefusal::kDamaged, false, SetLength(0x200)},
      {"salt not base64", kAgile, "password", CipherRefusal::kDamaged, false,
       EditXml("saltValue=\"DAyc", "saltValue=\"D!yc")},
      {"endless key derivation", kAgile, "password", CipherRefusal::kDamaged, false,
       EditXml("spinCount=\"100000\"", "spinCount=\"4000000000\"")},
      {"AES key of 100 bits", kAgile, "password", CipherRefusal::kDamaged, false,
       EditXml("keyBits=\"256\"", "keyBits=\"100\"")},
      {"verifier cut short", kAgile, "password", CipherRefusal::kDamaged, false,
       EditXml("encryptedVerifierHashValue=\"C67V", "encryptedVerifierHashValue=\"")},
      {"unknown hash", kAgile, "password", CipherRefusal::kUnsupported, false,
       EditXml("hashAlgorithm=\"SHA512\" saltValue=\"DAyc", "hashAlgorithm=\"MD4\" saltValue=\"DAyc")},
      {"older standard encryption", kAgile, "password", CipherRefusal::kUnsupported, false,
       [](Bytes& page) { page[kInfoLengthAt + 4] = 2; }},
      {"header page cut", kAgile, "password", CipherRefusal::kDamaged, false, [](Bytes& page) { page.resize(100); }},
  };
  return cases;
}

CipherSetup SetUpCase(const Case& testCase) {
  Bytes file = ReadFile(testCase.file);
  const std::size_t pageSize = !file.empty() && file.size() > 0x14 && file[0x14] == 0 ? 2048 : kPage;
  EXPECT_GE(file.size(), pageSize) << testCase.file;
  Bytes header(file.begin(), file.begin() + std::min(pageSize, file.size()));
  if (testCase.damage) testCase.damage(header);
  return SetUpPageDecryption(header, testCase.password);
}

TEST(PageDecryption, EveryCase) {
  for (const Case& testCase : Cases()) {
    SCOPED_TRACE(testCase.name);
    CipherSetup setup = SetUpCase(testCase);
    EXPECT_EQ(setup.refusal, testCase.refusal) << setup.detail;
    EXPECT_EQ(setup.decryptor != nullptr, testCase.decrypts);
    EXPECT_EQ(setup.detail.empty(), testCase.refusal == CipherRefusal::kNone) << setup.detail;
    if (!setup.decryptor) continue;
    // Every page after the header decrypts to a Jet 4 page: a known type (0x08 and 0x09 occur in
    // newer ACE files), then 0x01; page 2 is the catalog's table definition, a system table
    // ('S' at 0x28).
    const Bytes file = ReadFile(testCase.file);
    for (std::uint32_t pageNumber = 1; pageNumber < file.size() / kPage; ++pageNumber) {
      Bytes page(file.begin() + pageNumber * kPage, file.begin() + (pageNumber + 1) * kPage);
      setup.decryptor->DecryptPage(pageNumber, page);
      EXPECT_TRUE(page[0] >= 0x01 && page[0] <= 0x09 && page[1] == 0x01) << "page " << pageNumber;
      if (pageNumber == 2) {
        EXPECT_TRUE(page[0] == 0x02 && page[0x28] == 'S');
      }
    }
  }
}

// Every cut of the encryption structure is refused as damaged until all it needs is whole;
// no password is given, so that a whole structure answers without deriving keys.
TEST(PageDecryption, EveryCutOfTheStructureIsDamagedOrWhole) {
  const Bytes file = ReadFile(kAgile);
  const Bytes header(file.begin(), file.begin() + kPage);
  const std::size_t whole = header[kInfoLengthAt] | header[kInfoLengthAt + 1] << 8;
  std::size_t firstWhole = whole;
  for (std::size_t length = 0; length <= whole; ++length) {
    Bytes cut = header;
    SetLength(static_cast<std::uint16_t>(length))(cut);
    std::fill(cut.begin() + kInfoLengthAt + 2 + length, cut.end(), 0);
    const CipherSetup setup = SetUpPageDecryption(cut, "");
    if (setup.refusal == CipherRefusal::kNoPassword) {
      firstWhole = std::min(firstWhole, length);
    } else {
      ASSERT_EQ(setup.refusal, CipherRefusal::kDamaged) << "length " << length;
      ASSERT_LT(length, firstWhole) << "length " << length;  // no damage after a whole cut
    }
  }
  // The first whole cut ends with the password encryptor's element.
  const std::string text(header.begin() + kInfoLengthAt + 2, header.begin() + kInfoLengthAt + 2 + whole);
  EXPECT_EQ(firstWhole, text.find("</keyEncryptor>"));
}

// Nothing reaches the standard streams while keys are derived, and no refusal repeats the
// password it was given.
TEST(PageDecryption, KeyMaterialIsNeverPrinted) {
  for (const Case& testCase : Cases()) {
    SCOPED_TRACE(testCase.name);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    CipherSetup setup = SetUpCase(testCase);
    std::fflush(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    if (!testCase.password.empty()) {
      EXPECT_EQ(setup.detail.find(testCase.password), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace jet
