// SPDX-License-Identifier: Apache-2.0
// Decryption of the pages of an encrypted Access file (Access 2007 and later "agile",
// "standard" AES and RC4 CryptoAPI encryption, and Jet 4 page encoding), through OpenSSL's libcrypto.
// The reader gives it the header page as stored and the password from the connect string; it
// answers whether the file's pages are encrypted and, when they are and the password is right,
// an object that decrypts each page in place after it is read.
#ifndef JET_ENCRYPTION_H_
#define JET_ENCRYPTION_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace jet {

class PageDecryptor {
 public:
  virtual ~PageDecryptor() = default;
  // Decrypts page `pageNumber` (page 0 is never passed) in place; `page` is one whole page.
  virtual void DecryptPage(std::uint32_t pageNumber, std::span<std::uint8_t> page) const = 0;
};

enum class CipherRefusal {
  kNone,           // decryptor set (encrypted, password right) or null (pages not encrypted)
  kNoPassword,     // encrypted and no password given
  kWrongPassword,  // encrypted and the password does not match
  kUnsupported,    // an encryption this reader does not decrypt; `detail` names it
  kDamaged,        // the encryption header cannot be read; `detail` says what is wrong
};

struct CipherSetup {
  std::unique_ptr<PageDecryptor> decryptor;  // null when the pages are stored in clear
  CipherRefusal refusal = CipherRefusal::kNone;
  std::string detail;  // French, for the error description when refused
};

// `headerPage` is page 0 exactly as stored in the file (its whole page size: 2048 bytes for
// Jet 3, 4096 for Jet 4 and later); `password` is empty when none was given.
CipherSetup SetUpPageDecryption(std::span<const std::uint8_t> headerPage, std::string_view password);

}  // namespace jet

#endif  // JET_ENCRYPTION_H_
