// SPDX-License-Identifier: Apache-2.0
// Decryption of encrypted Access pages. Page 0 keeps a 128-byte area masked with a fixed RC4
// key; once unmasked, its four bytes at 0x3E are the file's encoding key, zero when the pages
// are stored in clear. A Jet 3/4 file with a key has every later page RC4-encoded under
// (key XOR page number), no password involved. An Access 2007+ file with a key also carries,
// from 0x299, a 2-byte length and the Office EncryptionInfo structure: a version pair, flags,
// then (version 4.4, "agile") an XML description of the key derivation. Agile pages are
// AES-CBC under the secret key the password unlocks; each page's IV is the hash of the key
// data's salt followed by (encoding key XOR page number), cut to the cipher's block size.
// Versions 2.2 to 4.2 ("standard" and RC4 CryptoAPI, the "compatible" encryption of Access
// 2007) carry a binary header instead; their pages are RC4 or AES-ECB under a key of their own
// (below, SetUpStandard). All
// hashing and ciphering goes through OpenSSL's libcrypto; key material is wiped after use and
// never enters a message.
#include "encryption.h"

#include "libcrypto.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <initializer_list>
#include <new>
#include <optional>
#include <utility>
#include <vector>

namespace jet {
namespace {

constexpr std::size_t kMaskedStart = 0x18;
constexpr std::size_t kEncodingKeyAt = 0x3E;
constexpr std::size_t kCryptLengthAt = 0x299;  // 2-byte length, then EncryptionInfo
constexpr unsigned char kHeaderMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
// Upper bound on the agile key derivation's rounds (Office writes 100,000), so that a hostile
// header cannot make the opening hang.
constexpr std::uint32_t kMaxSpinCount = 10'000'000;

std::uint32_t Le32(const std::uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}
std::uint16_t Le16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8); }
std::array<std::uint8_t, 4> ToLe32(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// Bytes that are wiped when they go away: derived keys, hashes of the password.
struct Secret {
  std::vector<std::uint8_t> bytes;
  Secret() = default;
  explicit Secret(std::size_t size) : bytes(size) {}
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  Secret(Secret&&) = default;
  Secret& operator=(Secret&&) = default;
  ~Secret() {
    if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
  }
};

CipherSetup Refuse(CipherRefusal refusal, std::string detail) {
  CipherSetup setup;
  setup.refusal = refusal;
  setup.detail = std::move(detail);
  return setup;
}
CipherSetup Damaged(const std::string& what) {
  return Refuse(CipherRefusal::kDamaged, "en-tête de chiffrement illisible (" + what + ")");
}

// RC4 lives in OpenSSL's "legacy" provider, loaded once into a private library context. Both
// are kept for the whole process (never freed: decryptors may still use them during exit).
EVP_CIPHER* LegacyRc4() {
  static EVP_CIPHER* const rc4 = [] {
    OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
    if (context == nullptr || OSSL_PROVIDER_load(context, "legacy") == nullptr) return static_cast<EVP_CIPHER*>(nullptr);
    return EVP_CIPHER_fetch(context, "RC4", nullptr);
  }();
  return rc4;
}

// RC4 under the fixed mask key over the `size` bytes of the header area, in place.
void UnmaskHeader(std::uint8_t* bytes, std::size_t size) {
  std::uint8_t state[256];
  for (int index = 0; index < 256; ++index) state[index] = static_cast<std::uint8_t>(index);
  for (int index = 0, mixed = 0; index < 256; ++index) {
    mixed = (mixed + state[index] + kHeaderMaskKey[index % sizeof kHeaderMaskKey]) & 0xFF;
    std::swap(state[index], state[mixed]);
  }
  for (std::size_t at = 0, first = 0, second = 0; at < size; ++at) {
    first = (first + 1) & 0xFF;
    second = (second + state[first]) & 0xFF;
    std::swap(state[first], state[second]);
    bytes[at] ^= state[(state[first] + state[second]) & 0xFF];
  }
}

// Runs `cipher` (no padding) over `in` into `out`, both `size` bytes; false on any failure.
bool RunCipher(const EVP_CIPHER* cipher, const std::uint8_t* key, std::size_t keySize, const std::uint8_t* iv,
               const std::uint8_t* in, std::uint8_t* out, std::size_t size) {
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  if (context == nullptr) return false;
  int written = 0, last = 0;
  bool ok = EVP_DecryptInit_ex2(context, cipher, nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_set_key_length(context, static_cast<int>(keySize)) == 1 &&
            EVP_DecryptInit_ex2(context, nullptr, key, iv, nullptr) == 1 && EVP_CIPHER_CTX_set_padding(context, 0) == 1 &&
            EVP_DecryptUpdate(context, out, &written, in, static_cast<int>(size)) == 1 &&
            EVP_DecryptFinal_ex(context, out + written, &last) == 1 && static_cast<std::size_t>(written + last) == size;
  EVP_CIPHER_CTX_free(context);
  return ok;
}

// Jet 3/4 page encoding: RC4 under the encoding key XOR the page number.
class Rc4PageDecryptor final : public PageDecryptor {
 public:
  explicit Rc4PageDecryptor(std::uint32_t encodingKey) : encodingKey_(encodingKey) {}
  void DecryptPage(std::uint32_t pageNumber, std::span<std::uint8_t> page) const override {
    const auto key = ToLe32(encodingKey_ ^ pageNumber);
    // A failure here can only be a lack of memory; a zeroed page then reads as damaged.
    if (!RunCipher(LegacyRc4(), key.data(), key.size(), nullptr, page.data(), page.data(), page.size()))
      std::fill(page.begin(), page.end(), 0);
  }

 private:
  std::uint32_t encodingKey_;
};

// Access 2007+ agile encryption: AES-CBC under the secret key, one IV per page.
class AgilePageDecryptor final : public PageDecryptor {
 public:
  AgilePageDecryptor(const EVP_MD* hash, const EVP_CIPHER* cipher, std::vector<std::uint8_t> salt, Secret key,
                     std::uint32_t encodingKey)
      : hash_(hash), cipher_(cipher), salt_(std::move(salt)), key_(std::move(key)), encodingKey_(encodingKey) {}
  void DecryptPage(std::uint32_t pageNumber, std::span<std::uint8_t> page) const override {
    std::vector<std::uint8_t> input = salt_;
    const auto block = ToLe32(encodingKey_ ^ pageNumber);
    input.insert(input.end(), block.begin(), block.end());
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> iv{};
    unsigned int ivSize = 0;
    const std::size_t whole = page.size() / 16 * 16;  // pages are whole AES blocks
    if (EVP_Digest(input.data(), input.size(), iv.data(), &ivSize, hash_, nullptr) != 1 || ivSize < 16 ||
        !RunCipher(cipher_, key_.bytes.data(), key_.bytes.size(), iv.data(), page.data(), page.data(), whole))
      std::fill(page.begin(), page.end(), 0);  // only a lack of memory; a zeroed page reads as damaged
  }

 private:
  const EVP_MD* hash_;
  const EVP_CIPHER* cipher_;
  std::vector<std::uint8_t> salt_;
  Secret key_;
  std::uint32_t encodingKey_;
};

// --- The agile XML description ---------------------------------------------------------------
// The parts read are the attributes of two elements:
//   <keyData saltSize blockSize keyBits hashSize cipherAlgorithm cipherChaining hashAlgorithm
//            saltValue/>
//   <p:encryptedKey spinCount ...same... encryptedVerifierHashInput encryptedVerifierHashValue
//                   encryptedKeyValue/>   (the password's key encryptor: the one with spinCount)
// Values are base64, decimal numbers or names; no entity appears in them.

using Attributes = std::vector<std::pair<std::string_view, std::string_view>>;

// The attributes of the first element named `localName` (any namespace prefix) from `from`
// on that has `required` among them; nullopt when there is none or its tag is malformed.
std::optional<Attributes> FindElement(std::string_view xml, std::string_view localName, std::string_view required) {
  for (std::size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
    std::size_t nameEnd = xml.find_first_of(" \t\r\n/>", at + 1);
    if (nameEnd == std::string_view::npos) return std::nullopt;
    std::string_view name = xml.substr(at + 1, nameEnd - at - 1);
    if (std::size_t colon = name.find(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
    if (name != localName) continue;
    Attributes attributes;
    std::size_t cursor = nameEnd;
    for (;;) {
      cursor = xml.find_first_not_of(" \t\r\n", cursor);
      if (cursor == std::string_view::npos) return std::nullopt;
      if (xml[cursor] == '>' || (xml[cursor] == '/' && cursor + 1 < xml.size() && xml[cursor + 1] == '>')) break;
      std::size_t equals = xml.find('=', cursor);
      if (equals == std::string_view::npos || equals + 1 >= xml.size() || xml.find('>', cursor) < equals)
        return std::nullopt;
      const char quote = xml[equals + 1];
      std::size_t close = xml.find(quote, equals + 2);
      if ((quote != '"' && quote != '\'') || close == std::string_view::npos) return std::nullopt;
      std::string_view key = xml.substr(cursor, equals - cursor);
      while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
      attributes.emplace_back(key, xml.substr(equals + 2, close - equals - 2));
      cursor = close + 1;
    }
    for (const auto& attribute : attributes)
      if (attribute.first == required) return attributes;
  }
  return std::nullopt;
}

std::optional<std::string_view> Attribute(const Attributes& attributes, std::string_view name) {
  for (const auto& attribute : attributes)
    if (attribute.first == name) return attribute.second;
  return std::nullopt;
}

std::optional<std::uint32_t> Number(const Attributes& attributes, std::string_view name) {
  auto text = Attribute(attributes, name);
  std::uint32_t value = 0;
  if (!text || text->empty()) return std::nullopt;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

std::optional<std::vector<std::uint8_t>> Base64(const Attributes& attributes, std::string_view name) {
  auto text = Attribute(attributes, name);
  if (!text || text->empty() || text->size() % 4 != 0 || text->size() > 4096) return std::nullopt;
  std::vector<std::uint8_t> bytes(text->size() / 4 * 3);
  int size = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text->data()),
                             static_cast<int>(text->size()));
  if (size < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding as zero bytes.
  std::size_t padding = text->ends_with("==") ? 2 : text->ends_with('=') ? 1 : 0;
  bytes.resize(static_cast<std::size_t>(size) - padding);
  return bytes;
}

// One side (key data or password encryptor) of the agile description, checked.
struct AgileParameters {
  const EVP_MD* hash = nullptr;
  const EVP_CIPHER* cipher = nullptr;
  std::size_t keyBytes = 0, blockSize = 0, hashSize = 0;
  std::vector<std::uint8_t> salt;
};

// Reads and checks the common attributes; on failure returns the refusal to give.
std::optional<CipherSetup> ReadParameters(const Attributes& attributes, AgileParameters& out) {
  auto saltSize = Number(attributes, "saltSize"), blockSize = Number(attributes, "blockSize"),
       keyBits = Number(attributes, "keyBits"), hashSize = Number(attributes, "hashSize");
  auto algorithm = Attribute(attributes, "cipherAlgorithm"), chaining = Attribute(attributes, "cipherChaining"),
       hashName = Attribute(attributes, "hashAlgorithm");
  auto salt = Base64(attributes, "saltValue");
  if (!saltSize || !blockSize || !keyBits || !hashSize || !algorithm || !chaining || !hashName || !salt)
    return Damaged("description XML incomplète");
  if (*algorithm != "AES" || *chaining != "ChainingModeCBC")
    return Refuse(CipherRefusal::kUnsupported, "chiffrement « " + std::string(*algorithm) + " » en mode « " +
                                                   std::string(*chaining) + " » non pris en charge");
  if (*keyBits == 128) out.cipher = EVP_aes_128_cbc();
  else if (*keyBits == 192) out.cipher = EVP_aes_192_cbc();
  else if (*keyBits == 256) out.cipher = EVP_aes_256_cbc();
  else return Damaged("taille de clé AES " + std::to_string(*keyBits));
  if (*hashName == "SHA1") out.hash = EVP_sha1();
  else if (*hashName == "SHA256") out.hash = EVP_sha256();
  else if (*hashName == "SHA384") out.hash = EVP_sha384();
  else if (*hashName == "SHA512") out.hash = EVP_sha512();
  else return Refuse(CipherRefusal::kUnsupported, "hachage « " + std::string(*hashName) + " » non pris en charge");
  if (*blockSize != 16 || *hashSize != static_cast<std::uint32_t>(EVP_MD_get_size(out.hash)) ||
      salt->size() != *saltSize || salt->size() < 16)
    return Damaged("tailles de bloc, de hachage ou de sel incohérentes");
  out.keyBytes = *keyBits / 8;
  out.blockSize = *blockSize;
  out.hashSize = *hashSize;
  out.salt = std::move(*salt);
  return std::nullopt;
}

// Hash of the concatenation of `parts`.
Secret Hash(const EVP_MD* hash, std::initializer_list<std::span<const std::uint8_t>> parts) {
  Secret digest(static_cast<std::size_t>(EVP_MD_get_size(hash)));
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool ok = context != nullptr && EVP_DigestInit_ex2(context, hash, nullptr) == 1;
  for (auto part : parts) ok = ok && EVP_DigestUpdate(context, part.data(), part.size()) == 1;
  ok = ok && EVP_DigestFinal_ex(context, digest.bytes.data(), nullptr) == 1;
  EVP_MD_CTX_free(context);
  if (!ok) throw std::bad_alloc();  // the digests used cannot fail but for memory
  return digest;
}

// The password as UTF-16LE (from UTF-8); nullopt when it is not valid UTF-8.
std::optional<Secret> Utf16Le(std::string_view password) {
  Secret out;
  for (std::size_t at = 0; at < password.size();) {
    const auto lead = static_cast<unsigned char>(password[at]);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || at + length > password.size()) return std::nullopt;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t next = 1; next < length; ++next) {
      const auto byte = static_cast<unsigned char>(password[at + next]);
      if ((byte & 0xC0) != 0x80) return std::nullopt;
      code = code << 6 | (byte & 0x3F);
    }
    at += length;
    auto put = [&](char32_t unit) {
      out.bytes.push_back(static_cast<std::uint8_t>(unit));
      out.bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    };
    if (code >= 0x10000) {
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      put(code);
    }
  }
  return out;
}

CipherSetup SetUpAgile(std::string_view xml, std::string_view password, std::uint32_t encodingKey) {
  auto keyDataAttributes = FindElement(xml, "keyData", "saltValue");
  auto encryptorAttributes = FindElement(xml, "encryptedKey", "spinCount");
  if (!keyDataAttributes || !encryptorAttributes) return Damaged("description XML sans clé par mot de passe");
  AgileParameters keyData, encryptor;
  if (auto refusal = ReadParameters(*keyDataAttributes, keyData)) return std::move(*refusal);
  if (auto refusal = ReadParameters(*encryptorAttributes, encryptor)) return std::move(*refusal);
  auto spinCount = Number(*encryptorAttributes, "spinCount");
  auto verifierInput = Base64(*encryptorAttributes, "encryptedVerifierHashInput");
  auto verifierHash = Base64(*encryptorAttributes, "encryptedVerifierHashValue");
  auto keyValue = Base64(*encryptorAttributes, "encryptedKeyValue");
  if (!spinCount || *spinCount > kMaxSpinCount || !verifierInput || !verifierHash || !keyValue ||
      verifierInput->size() % 16 != 0 || verifierInput->size() < encryptor.salt.size() ||
      verifierHash->size() % 16 != 0 || verifierHash->size() < encryptor.hashSize || keyValue->size() % 16 != 0 ||
      keyValue->size() < keyData.keyBytes)
    return Damaged("vérificateur du mot de passe");
  if (password.empty()) return Refuse(CipherRefusal::kNoPassword, "la base de données est chiffrée par un mot de passe");
  auto utf16 = Utf16Le(password);
  if (!utf16) return Refuse(CipherRefusal::kWrongPassword, "mot de passe non valide");

  // H0 = H(salt + password); Hn = H(LE32(n - 1) + Hn-1), spinCount times.
  Secret rounds = Hash(encryptor.hash, {encryptor.salt, utf16->bytes});
  {
    // One context for every round: this loop is the whole cost of opening.
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool ok = context != nullptr;
    for (std::uint32_t round = 0; ok && round < *spinCount; ++round) {
      const auto counter = ToLe32(round);
      ok = EVP_DigestInit_ex2(context, encryptor.hash, nullptr) == 1 &&
           EVP_DigestUpdate(context, counter.data(), counter.size()) == 1 &&
           EVP_DigestUpdate(context, rounds.bytes.data(), rounds.bytes.size()) == 1 &&
           EVP_DigestFinal_ex(context, rounds.bytes.data(), nullptr) == 1;
    }
    EVP_MD_CTX_free(context);
    if (!ok) throw std::bad_alloc();
  }
  // Each of the three values has its own key: H(Hn + block key), cut or padded with 0x36.
  auto decryptValue = [&](std::array<std::uint8_t, 8> blockKey, const std::vector<std::uint8_t>& value) {
    Secret key = Hash(encryptor.hash, {rounds.bytes, blockKey});
    key.bytes.resize(encryptor.keyBytes, 0x36);
    Secret plain(value.size());
    if (!RunCipher(encryptor.cipher, key.bytes.data(), key.bytes.size(), encryptor.salt.data(), value.data(),
                   plain.bytes.data(), value.size()))
      throw std::bad_alloc();  // sizes are checked above: only memory can fail
    return plain;
  };
  Secret verifier = decryptValue({0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79}, *verifierInput);
  Secret expected = decryptValue({0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E}, *verifierHash);
  Secret actual = Hash(encryptor.hash, {std::span(verifier.bytes).first(encryptor.salt.size())});
  if (CRYPTO_memcmp(actual.bytes.data(), expected.bytes.data(), encryptor.hashSize) != 0)
    return Refuse(CipherRefusal::kWrongPassword, "mot de passe non valide");
  Secret secretKey = decryptValue({0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6}, *keyValue);
  secretKey.bytes.resize(keyData.keyBytes);

  CipherSetup setup;
  setup.decryptor = std::make_unique<AgilePageDecryptor>(keyData.hash, keyData.cipher, std::move(keyData.salt),
                                                         std::move(secretKey), encodingKey);
  return setup;
}

// --- Office "standard" encryption (version 2.2 to 4.2) -----------------------------------------
// After the version: flags, the header's size, the header (flags, extra size, cipher, hash,
// key bits, provider type, two reserved words, the provider's name), then the verifier: salt
// size (16), salt, encrypted verifier (16), verifier hash size (20), encrypted verifier hash
// (20 for RC4, 32 for AES). The password's hash H0 = SHA-1(salt + password) goes through no
// further rounds in an Access file; each page (block 0: the verifier) has its own key, from
// SHA-1(H0 + (encoding key XOR page number)): its first bytes for RC4 CryptoAPI (40 bits
// padded to 16 bytes with zeros), or for AES the two SHA-1s of it XORed with 0x36 and 0x5C
// bytes, which decrypt the page as AES-ECB.

constexpr std::uint32_t kFlagCryptoApi = 0x04, kFlagAes = 0x20;
constexpr std::uint32_t kAlgorithmRc4 = 0x6801, kAlgorithmAes128 = 0x660E, kAlgorithmAes256 = 0x6610;
constexpr std::uint32_t kHashSha1 = 0x8004;

class StandardKeys {
 public:
  StandardKeys(Secret passwordHash, const EVP_CIPHER* aes, std::size_t keyBytes)
      : passwordHash_(std::move(passwordHash)), aes_(aes), keyBytes_(keyBytes) {}
  const EVP_CIPHER* Cipher() const { return aes_ != nullptr ? aes_ : LegacyRc4(); }
  // The key of block `block`: of the cipher's size (16 bytes for 40-bit RC4).
  Secret Key(std::uint32_t block) const {
    const auto counter = ToLe32(block);
    Secret final = Hash(EVP_sha1(), {passwordHash_.bytes, counter});
    if (aes_ == nullptr) {
      final.bytes.resize(keyBytes_);
      if (keyBytes_ == 5) final.bytes.resize(16, 0);
      return final;
    }
    Secret derived;
    for (const std::uint8_t pad : {std::uint8_t{0x36}, std::uint8_t{0x5C}}) {
      Secret block64(64);
      for (std::size_t at = 0; at < 64; ++at)
        block64.bytes[at] = static_cast<std::uint8_t>(pad ^ (at < final.bytes.size() ? final.bytes[at] : 0));
      Secret half = Hash(EVP_sha1(), {block64.bytes});
      derived.bytes.insert(derived.bytes.end(), half.bytes.begin(), half.bytes.end());
    }
    derived.bytes.resize(keyBytes_);
    return derived;
  }
  // Decrypts `size` bytes (whole blocks for AES) of block `block` in place; false on failure.
  bool Decrypt(std::uint32_t block, std::uint8_t* bytes, std::size_t size) const {
    const Secret key = Key(block);
    return RunCipher(Cipher(), key.bytes.data(), key.bytes.size(), nullptr, bytes, bytes, size);
  }

 private:
  Secret passwordHash_;
  const EVP_CIPHER* aes_;  // null: RC4
  std::size_t keyBytes_;
};

class StandardPageDecryptor final : public PageDecryptor {
 public:
  StandardPageDecryptor(StandardKeys keys, std::uint32_t encodingKey, bool aes)
      : keys_(std::move(keys)), encodingKey_(encodingKey), aes_(aes) {}
  void DecryptPage(std::uint32_t pageNumber, std::span<std::uint8_t> page) const override {
    const std::size_t size = aes_ ? page.size() / 16 * 16 : page.size();
    if (!keys_.Decrypt(encodingKey_ ^ pageNumber, page.data(), size))
      std::fill(page.begin(), page.end(), 0);  // only a lack of memory; a zeroed page reads as damaged
  }

 private:
  StandardKeys keys_;
  std::uint32_t encodingKey_;
  bool aes_;
};

CipherSetup SetUpStandard(std::span<const std::uint8_t> info, std::uint16_t major, std::uint16_t minor,
                          std::string_view password, std::uint32_t encodingKey) {
  const std::string version = std::to_string(major) + "." + std::to_string(minor);
  if (info.size() < 12 + 32) return Damaged("en-tête Office de version " + version + " tronqué");
  const std::uint32_t flags = Le32(info.data() + 4);
  const std::uint32_t headerSize = Le32(info.data() + 8);
  if ((flags & kFlagCryptoApi) == 0)
    return Refuse(CipherRefusal::kUnsupported, "chiffrement Office de version " + version + " non pris en charge");
  if (headerSize < 32 || headerSize > info.size() - 12) return Damaged("en-tête Office de version " + version + " tronqué");
  const std::uint8_t* header = info.data() + 12;
  const std::uint32_t algorithm = Le32(header + 8), hash = Le32(header + 12);
  std::uint32_t keyBits = Le32(header + 16);
  const bool aes = algorithm >= kAlgorithmAes128 && algorithm <= kAlgorithmAes256;
  if (algorithm == kAlgorithmRc4 && keyBits == 0) keyBits = 40;
  if (aes && (flags & kFlagAes) != 0)
    return Refuse(CipherRefusal::kUnsupported, "chiffrement Office « standard » AES (version " + version +
                                                   ", dérivation de clé d'Office) non pris en charge");
  if ((!aes && algorithm != kAlgorithmRc4) || hash != kHashSha1)
    return Refuse(CipherRefusal::kUnsupported, "chiffrement Office de version " + version + " (algorithme 0x" +
                                                   [&] {
                                                     char text[24];
                                                     std::snprintf(text, sizeof text, "%X, hachage 0x%X", algorithm, hash);
                                                     return std::string(text);
                                                   }() + ") non pris en charge");
  const EVP_CIPHER* cipher = nullptr;
  if (aes) {
    cipher = keyBits == 128 ? EVP_aes_128_ecb() : keyBits == 192 ? EVP_aes_192_ecb() : keyBits == 256 ? EVP_aes_256_ecb() : nullptr;
    if (cipher == nullptr) return Damaged("taille de clé AES " + std::to_string(keyBits));
  } else if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0) {
    return Damaged("taille de clé RC4 " + std::to_string(keyBits));
  }
  // The verifier, right after the header.
  const auto verifier = info.subspan(12 + headerSize);
  const std::size_t hashBytes = aes ? 32 : 20;
  if (verifier.size() < 4 + 16 + 16 + 4 + hashBytes || Le32(verifier.data()) != 16 ||
      Le32(verifier.data() + 36) != 20)
    return Damaged("vérificateur du mot de passe");
  if (password.empty()) return Refuse(CipherRefusal::kNoPassword, "la base de données est chiffrée par un mot de passe");
  auto utf16 = Utf16Le(password);
  if (!utf16) return Refuse(CipherRefusal::kWrongPassword, "mot de passe non valide");
  StandardKeys keys(Hash(EVP_sha1(), {verifier.subspan(4, 16), utf16->bytes}), cipher, keyBits / 8);
  // Block 0 decrypts the verifier and its hash: RC4 as one stream, AES block by block.
  Secret plain(16 + hashBytes);
  std::copy_n(verifier.data() + 20, 16, plain.bytes.begin());
  std::copy_n(verifier.data() + 40, hashBytes, plain.bytes.begin() + 16);
  if (!keys.Decrypt(0, plain.bytes.data(), plain.bytes.size())) throw std::bad_alloc();
  Secret actual = Hash(EVP_sha1(), {std::span(plain.bytes).first(16)});
  if (CRYPTO_memcmp(actual.bytes.data(), plain.bytes.data() + 16, 20) != 0)
    return Refuse(CipherRefusal::kWrongPassword, "mot de passe non valide");
  CipherSetup setup;
  setup.decryptor = std::make_unique<StandardPageDecryptor>(std::move(keys), encodingKey, aes);
  return setup;
}

}  // namespace

CipherSetup SetUpPageDecryption(std::span<const std::uint8_t> headerPage, std::string_view password) {
  const bool jet3 = headerPage.size() > 0x14 && headerPage[0x14] == 0;
  const std::size_t maskedSize = jet3 ? 126 : 128;
  if (headerPage.size() < kMaskedStart + maskedSize) return Damaged("page d'en-tête tronquée");
  // Unmasked here without libcrypto, which a file stored in clear never
  // needs: starting OpenSSL and its legacy provider would cost more than
  // reading a small table.
  std::array<std::uint8_t, 128> unmasked{};
  std::copy_n(headerPage.data() + kMaskedStart, maskedSize, unmasked.data());
  UnmaskHeader(unmasked.data(), maskedSize);
  const std::uint32_t encodingKey = Le32(unmasked.data() + (kEncodingKeyAt - kMaskedStart));
  std::fill(unmasked.begin(), unmasked.end(), 0);  // it also holds the masked database password
  if (encodingKey == 0) return {};
  if (!LoadLibcrypto())
    return Refuse(CipherRefusal::kUnsupported, "bibliothèque libcrypto.so.3 d'OpenSSL introuvable");
  if (headerPage[0x14] <= 1) {
    if (LegacyRc4() == nullptr)
      return Refuse(CipherRefusal::kUnsupported, "RC4 indisponible (module « legacy » d'OpenSSL introuvable)");
    CipherSetup setup;
    setup.decryptor = std::make_unique<Rc4PageDecryptor>(encodingKey);
    return setup;
  }

  if (headerPage.size() < kCryptLengthAt + 2) return Damaged("page d'en-tête tronquée");
  const std::size_t infoSize = Le16(headerPage.data() + kCryptLengthAt);
  if (infoSize < 8 || kCryptLengthAt + 2 + infoSize > headerPage.size())
    return Damaged("longueur " + std::to_string(infoSize) + " hors de la page");
  const auto info = headerPage.subspan(kCryptLengthAt + 2, infoSize);
  const std::uint16_t major = Le16(info.data()), minor = Le16(info.data() + 2);
  if (major == 4 && minor == 4) {
    const auto xml = info.subspan(8);
    return SetUpAgile(std::string_view(reinterpret_cast<const char*>(xml.data()), xml.size()), password, encodingKey);
  }
  if (minor == 2 && major >= 2 && major <= 4) return SetUpStandard(info, major, minor, password, encodingKey);
  return Refuse(CipherRefusal::kUnsupported, "chiffrement Office de version " + std::to_string(major) + "." +
                                                 std::to_string(minor) + " non pris en charge");
}

}  // namespace jet
