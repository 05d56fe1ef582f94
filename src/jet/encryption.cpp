// Page decryption of encrypted Access files: this build decrypts none. A
// header whose page key is zero (its pages stored in clear) gives no
// decryptor; any other is refused as an encryption the reader does not read.
#include "jet/encryption.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace jet {

CipherSetup SetUpPageDecryption(std::span<const std::uint8_t> headerPage, std::string_view) {
  CipherSetup setup;
  if (headerPage.size() < 0x18 + 128) return setup;
  // The header area from 0x18 is encoded with RC4 under a fixed key; the page
  // key at 0x3E is zero when the pages are not encrypted.
  static constexpr std::uint8_t kKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
  std::uint8_t state[256];
  for (int index = 0; index < 256; ++index) state[index] = static_cast<std::uint8_t>(index);
  for (int index = 0, mixed = 0; index < 256; ++index) {
    mixed = (mixed + state[index] + kKey[index % 4]) & 0xFF;
    std::swap(state[index], state[mixed]);
  }
  std::uint32_t key = 0;
  for (int at = 0, first = 0, second = 0; at < 0x3E - 0x18 + 4; ++at) {
    first = (first + 1) & 0xFF;
    second = (second + state[first]) & 0xFF;
    std::swap(state[first], state[second]);
    const std::uint8_t byte = headerPage[0x18 + at] ^ state[(state[first] + state[second]) & 0xFF];
    if (at >= 0x3E - 0x18) key |= static_cast<std::uint32_t>(byte) << (8 * (at - (0x3E - 0x18)));
  }
  if (key != 0) {
    setup.refusal = CipherRefusal::kUnsupported;
    setup.detail = "pages chiffrées";
  }
  return setup;
}

}  // namespace jet
