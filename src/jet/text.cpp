// SPDX-License-Identifier: Apache-2.0
// Stored text made readable: Jet 4 and ACE text (UTF-16, possibly
// "compressed"), Jet 3 text in the code page of the file's header
// (Windows-1252 by default, others through iconv), and GUIDs in their
// braced form. Everything comes out as UTF-8.
#include <cerrno>

#include "state.h"

namespace jet {

void AppendUtf8(char32_t code, std::string& out) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

namespace {

// Writes `code` as UTF-8 at `out`, returning the end.
char* PutUtf8(char32_t code, char* out) {
  if (code < 0x80) {
    *out++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code >> 6));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code >> 12));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code >> 18));
    *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

}  // namespace

// Jet 4 text: UTF-16 little-endian, or, after the mark FF FE, "compressed":
// one byte per character (high byte zero) with each 00 byte switching to two
// bytes per character and back.
std::string DecodeJet4Text(const unsigned char* bytes, std::size_t size) {
  const bool marked = size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  if (marked) {
    // Compressed ASCII, the common case, is its own UTF-8.
    std::size_t ascii = 2;
    while (ascii < size && bytes[ascii] != 0 && bytes[ascii] < 0x80) ++ascii;
    if (ascii == size) return std::string(reinterpret_cast<const char*>(bytes) + 2, size - 2);
  }
  bool compressed = marked;
  std::size_t at = marked ? 2 : 0;
  // The UTF-16 units one at a time, straight from the bytes.
  auto next = [&](char16_t& unit) {
    while (at < size) {
      if (marked && bytes[at] == 0) {
        compressed = !compressed;
        ++at;
      } else if (compressed) {
        unit = bytes[at++];
        return true;
      } else if (at + 1 < size) {
        unit = static_cast<char16_t>(bytes[at] | bytes[at + 1] << 8);
        at += 2;
        return true;
      } else {
        break;
      }
    }
    at = size;
    return false;
  };
  // Written in place, the text then cut to its length: a stored byte gives
  // at most two bytes of UTF-8 (a compressed character below 0x100), two
  // stored bytes at most three (a character, or U+FFFD for a lone
  // surrogate), a surrogate pair's four bytes four.
  // A short text is written on the stack, so that a text the string holds
  // in itself costs no allocation.
  char shortText[64];
  std::string text;
  if (2 * size > sizeof shortText) text.resize(2 * size);
  char* const first = text.empty() ? shortText : text.data();
  char* out = first;
  char16_t unit = 0;
  bool have = next(unit);
  while (have) {
    if (unit < 0x80) {
      *out++ = static_cast<char>(unit);
    } else if (unit >= 0xD800 && unit < 0xDC00) {
      char16_t low = 0;
      const bool haveLow = next(low);
      if (haveLow && low >= 0xDC00 && low < 0xE000) {
        out = PutUtf8(0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00), out);
      } else {
        out = PutUtf8(0xFFFD, out);  // a lone surrogate
        if (haveLow) {
          unit = low;
          continue;
        }
        break;
      }
    } else if (unit >= 0xDC00 && unit < 0xE000) {
      out = PutUtf8(0xFFFD, out);  // a lone surrogate
    } else {
      out = PutUtf8(unit, out);
    }
    have = next(unit);
  }
  if (first == shortText) return std::string(first, out);
  text.resize(static_cast<std::size_t>(out - first));
  return text;
}

// Windows-1252 from 0x80 to 0x9F; the five bytes it leaves undefined map to
// the control characters of the same number, as Windows maps them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string DecodeCp1252(const unsigned char* bytes, std::size_t size) {
  // ASCII, the common case, is its own UTF-8.
  std::size_t ascii = 0;
  while (ascii < size && bytes[ascii] < 0x80) ++ascii;
  std::string text(reinterpret_cast<const char*>(bytes), ascii);
  if (ascii == size) return text;
  text.reserve(size + (size - ascii));
  for (std::size_t at = ascii; at < size; ++at) {
    const unsigned char byte = bytes[at];
    AppendUtf8(byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte, text);
  }
  return text;
}

std::string GuidText(const unsigned char* bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // The first three groups are little-endian numbers, the last two plain bytes.
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string text = "{";
  for (int position = 0; position < 16; ++position) {
    if (position == 4 || position == 6 || position == 8 || position == 10) text.push_back('-');
    const unsigned char byte = bytes[kOrder[position]];
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0F]);
  }
  text.push_back('}');
  return text;
}

std::string Reader::State::Text(const unsigned char* bytes, std::size_t size) const {
  if (layout->jet4) return DecodeJet4Text(bytes, size);
  if (codePage == reinterpret_cast<iconv_t>(-1)) return DecodeCp1252(bytes, size);
  std::string text;
  text.reserve(size);
  char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(bytes));
  std::size_t inLeft = size;
  iconv(codePage, nullptr, nullptr, nullptr, nullptr);
  char buffer[1024];
  while (inLeft > 0) {
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = iconv(codePage, &in, &inLeft, &out, &outLeft);
    const int error = rc == static_cast<std::size_t>(-1) ? errno : 0;
    text.append(buffer, static_cast<std::size_t>(out - buffer));
    if (error == EILSEQ || error == EINVAL) {  // a byte the code page leaves undefined
      AppendUtf8(0xFFFD, text);
      ++in;
      --inLeft;
    } else if (error != 0 && error != E2BIG) {
      Unrecognized("conversion du texte impossible");
    }
  }
  return text;
}

}  // namespace jet
