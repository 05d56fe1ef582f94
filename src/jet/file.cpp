// SPDX-License-Identifier: Apache-2.0
// The header and the pages of an Access file: which format the first bytes
// announce, the header page (version, code page, password, encryption) and
// the reading of one whole page by its number, checked against the file.
//
// The file is a sequence of pages of one size (2048 bytes for Jet 3, 4096 for
// Jet 4 and ACE). Page 0 holds the header, an area of it encoded with a fixed
// RC4 key. Every other page is read through ReadPage, which refuses a number
// beyond the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "state.h"

namespace jet {
namespace {

constexpr std::size_t kEncodedHeaderStart = 0x18;

// RC4 over `bytes` in place: the header area of page 0 is encoded with it.
void Rc4(const unsigned char* key, std::size_t keySize, unsigned char* bytes, std::size_t size) {
  unsigned char state[256];
  for (int index = 0; index < 256; ++index) state[index] = static_cast<unsigned char>(index);
  for (int index = 0, mixed = 0; index < 256; ++index) {
    mixed = (mixed + state[index] + key[static_cast<std::size_t>(index) % keySize]) & 0xFF;
    std::swap(state[index], state[mixed]);
  }
  int first = 0;
  int second = 0;
  for (std::size_t at = 0; at < size; ++at) {
    first = (first + 1) & 0xFF;
    second = (second + state[first]) & 0xFF;
    std::swap(state[first], state[second]);
    bytes[at] ^= state[(state[first] + state[second]) & 0xFF];
  }
}

}  // namespace

FileFormat FormatOfHeader(std::string_view header) {
  if (header.size() >= 16 && header.substr(0, 16) == std::string_view("SQLite format 3\0", 16)) {
    return FileFormat::kSqlite;
  }
  if (header.size() > 0x14 && (header.substr(4, 15) == "Standard Jet DB" || header.substr(4, 15) == "Standard ACE DB")) {
    return FileFormat::kJet;
  }
  return FileFormat::kOther;
}

Reader::State::~State() {
  if (file >= 0) ::close(file);
  if (codePage != reinterpret_cast<iconv_t>(-1)) iconv_close(codePage);
}

void Reader::State::Unrecognized(const std::string& detail) const {
  throw Error(core::UnrecognizedFormat(path, detail));
}

void Reader::State::Damaged(const std::string& detail) const {
  throw Error(core::DamagedFile(path, detail));
}

void Reader::State::Open(std::string_view password) {
  file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    throw Error(core::CannotOpenFile(path));
  }
  ReadHeader(password);
  ReadCatalog();
}

// Compares the password the header keeps (none: all zeros) with `given`.
void Reader::State::CheckPassword(const std::vector<unsigned char>& header, std::string_view given) const {
  unsigned char stored[40] = {};
  const std::size_t storedSize = layout->jet4 ? 40 : 20;
  std::memcpy(stored, header.data() + 0x42, storedSize);
  if (layout->jet4) {
    std::uint64_t bits = Le64(header.data() + 0x72);
    double created = 0;
    std::memcpy(&created, &bits, sizeof created);
    std::uint32_t mask = 0;
    if (created > -2147483648.0 && created < 2147483648.0) {
      mask = static_cast<std::uint32_t>(static_cast<std::int32_t>(created));
    }
    for (std::size_t at = 0; at < storedSize; ++at) stored[at] ^= static_cast<unsigned char>(mask >> (8 * (at % 4)));
  }
  // The stored password as text: Jet 4 keeps it in UTF-16 (20 characters),
  // Jet 3 in the file's code page (20 bytes); it is compared as UTF-8, exactly,
  // with the password given.
  std::size_t length = 0;
  if (layout->jet4) {
    while (length + 1 < storedSize && (stored[length] | stored[length + 1]) != 0) length += 2;
  } else {
    while (length < storedSize && stored[length] != 0) ++length;
  }
  if (length == 0) return;
  if (given.empty()) NoPassword();
  std::string expected;
  if (layout->jet4) {
    // Plain UTF-16: a first character U+FEFF is no mark of compressed text here.
    for (std::size_t at = 0; at + 1 < length; at += 2) {
      const char32_t unit = static_cast<char32_t>(stored[at] | stored[at + 1] << 8);
      const char32_t next = at + 3 < length ? static_cast<char32_t>(stored[at + 2] | stored[at + 3] << 8) : 0;
      if (unit >= 0xD800 && unit < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
        AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), expected);
        at += 2;
      } else {
        AppendUtf8(unit, expected);
      }
    }
  } else {
    expected = Text(stored, length);
  }
  if (std::string_view(expected) != given) WrongPassword();
}

void Reader::State::NoPassword() const {
  throw Error(3031, "Mot de passe non valide : la base de données « " + path +
                        " » est protégée par un mot de passe, et aucun n'a été donné.");
}

void Reader::State::WrongPassword() const {
  throw Error(3031, "Mot de passe non valide : ce n'est pas le mot de passe de la base de données « " + path + " ».");
}

void Reader::State::ReadPage(std::uint32_t number, std::vector<unsigned char>& into) const {
  if (number >= pageCount) Damaged("page " + std::to_string(number) + " hors du fichier");
  into.resize(PageSize());
  std::size_t done = 0;
  const auto at = static_cast<off_t>(static_cast<std::uint64_t>(number) * PageSize());
  while (done < into.size()) {
    const ssize_t got = ::pread(file, into.data() + done, into.size() - done, at + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) Damaged("lecture de la page " + std::to_string(number) + " impossible");
    done += static_cast<std::size_t>(got);
  }
  if (decryptor != nullptr && number != 0) decryptor->DecryptPage(number, std::span<std::uint8_t>(into.data(), into.size()));
}

void Reader::State::ReadHeader(std::string_view password) {
  struct stat status {};
  if (::fstat(file, &status) != 0) Unrecognized();
  fileSize = static_cast<std::uint64_t>(status.st_size);
  unsigned char head[0x15] = {};
  if (::pread(file, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) Unrecognized();
  const std::string_view signature(reinterpret_cast<const char*>(head + 4), 15);
  // Jet 3 (version 0), Jet 4 (1) and ACE, Access 2007 to 2019 (2 to 6), which
  // shares the Jet 4 page format.
  const unsigned version = head[0x14];
  if (signature == "Standard ACE DB") {
    if (version < 2 || version > 6) Unrecognized("version " + std::to_string(version) + " d'Access inconnue");
    ace = true;
  } else if (signature != "Standard Jet DB" || version > 1) {
    Unrecognized();
  }
  layout = version == 0 ? &kJet3 : &kJet4;
  // The catalog's definition is on page 2: a shorter file is no database.
  if (fileSize < 3 * PageSize()) Unrecognized();
  if (fileSize % PageSize() != 0) Damaged("taille qui n'est pas un nombre entier de pages");
  if (fileSize / PageSize() > 0xFFFFFF) Damaged("trop de pages");
  pageCount = static_cast<std::uint32_t>(fileSize / PageSize());

  std::vector<unsigned char> first;
  ReadPage(0, first);
  // Encrypted pages (Jet 4 page encoding, Office encryption of ACE files)
  // are answered for by the decryption, given the header page as stored.
  CipherSetup cipher = SetUpPageDecryption(std::span<const std::uint8_t>(first.data(), first.size()), password);
  switch (cipher.refusal) {
    case CipherRefusal::kNone:
      break;
    case CipherRefusal::kNoPassword:
      NoPassword();
    case CipherRefusal::kWrongPassword:
      WrongPassword();
    case CipherRefusal::kUnsupported:
      throw Error(3031, "Mot de passe non valide : la base de données « " + path +
                            " » est chiffrée d'une façon que le moteur ne lit pas (" + cipher.detail + ").");
    case CipherRefusal::kDamaged:
      Damaged("en-tête de chiffrement illisible : " + cipher.detail);
  }
  decryptor = std::move(cipher.decryptor);
  static constexpr unsigned char kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
  Rc4(kHeaderKey, sizeof kHeaderKey, first.data() + kEncodedHeaderStart, layout->encodedHeaderSize);
  // A Jet 3 or Jet 4 database password is kept from 0x42, under the fixed
  // mask of the header area; Jet 4 masks it further with the creation date
  // kept at 0x72. ACE keeps its password as the encryption's.
  if (!layout->jet4) {
    const unsigned number = Le16(first.data() + 0x3C);
    if (number != 0 && number != 1252) {
      codePage = iconv_open("UTF-8", ("CP" + std::to_string(number)).c_str());
    }
  }
  if (!ace) CheckPassword(first, password);
}

}  // namespace jet
