// SPDX-License-Identifier: Apache-2.0
// A table's rows read in the bytes of its SQLite file rather than through
// SQLite's API (internal): the table's b-tree walked from its root page in
// rowid order (interior pages, then each leaf's cells), each cell's record
// read value by value (serial types). SQLite's file format is all it knows;
// where the pages come from is its caller's business. Nothing read is
// trusted: a page, cell or record not as the format has it ends the walk as
// unexpected, and its caller reads through SQLite instead.
#ifndef DBENGINE_TABLE_PAGES_H_
#define DBENGINE_TABLE_PAGES_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dbengine/dbengine.h"
#include "stored_value.h"

namespace dbengine::pages {

// Reads a varint at `at` (moved past it), never past `end`.
inline bool Varint(const unsigned char*& at, const unsigned char* end, std::uint64_t& value) {
  value = 0;
  for (int byte = 0; byte < 9; ++byte) {
    if (at >= end) return false;
    const unsigned char c = *at++;
    if (byte == 8) {
      value = (value << 8) | c;
      return true;
    }
    value = (value << 7) | (c & 0x7F);
    if ((c & 0x80) == 0) return true;
  }
  return true;
}

// The layout of a file's pages, from the first 100 bytes of the file (its
// header) and its size. pageSize is 0 when the header is not one the walk reads.
struct Layout {
  std::size_t pageSize = 0;
  std::size_t usable = 0;  // the page less its reserved bytes
  std::uint64_t pageCount = 0;
  bool utf8 = false;  // texts are kept in UTF-8
  static Layout Of(const unsigned char* header, std::uint64_t fileSize);
};

// A leaf page of a table b-tree.
class Leaf {
 public:
  Leaf(const unsigned char* page, std::size_t header, std::size_t cells, const Layout& layout)
      : page_(page), header_(header), cells_(cells), layout_(&layout) {}
  std::size_t Cells() const { return cells_; }
  // Cell `index`: its rowid, and its record of `payload` bytes, the first
  // `local` of them at `record` (the rest on overflow pages). False when the
  // cell is not as the format has it.
  bool Cell(std::size_t index, std::uint64_t& rowid, const unsigned char*& record, std::size_t& local,
            std::uint64_t& payload) const;
  // Calls `onRecord(record, local, payload)` for each cell in order, as
  // Cell gives them; false when a cell is not as the format has it or
  // onRecord returns false.
  template <typename OnRecord>
  bool Records(OnRecord&& onRecord) const {
    for (std::size_t cell = 0; cell < cells_; ++cell) {
      std::uint64_t rowid = 0;
      std::uint64_t payload = 0;
      const unsigned char* record = nullptr;
      std::size_t local = 0;
      if (!Cell(cell, rowid, record, local, payload) || !onRecord(record, local, payload)) return false;
    }
    return true;
  }

 private:
  const unsigned char* page_;
  std::size_t header_;
  std::size_t cells_;
  const Layout* layout_;
};

enum class Walk { kDone, kStopped, kUnexpected };

// Walks the table b-tree whose root is page `root`, calling `onLeaf(leaf)`
// for each leaf in rowid order; onLeaf returns kDone to go on. `pageAt(number,
// depth)` gives the bytes of page `number` (layout.pageSize of them, valid
// until a page is asked for at the same depth), or nullptr when it cannot.
// Returns kUnexpected for a page not of a table b-tree, a child out of the
// file, a loop or a tree deeper than any SQLite makes.
template <typename PageAt, typename OnLeaf>
Walk WalkTable(const Layout& layout, std::uint64_t root, PageAt&& pageAt, OnLeaf&& onLeaf) {
  struct Step {
    const unsigned char* page;
    std::size_t header;  // where its header begins (100 on the first page)
    std::size_t cells;
    std::size_t next;
  };
  std::vector<Step> path;
  std::uint64_t visited = 0;
  auto enter = [&](std::uint64_t number) {
    if (number == 0 || number > layout.pageCount || ++visited > layout.pageCount || path.size() > 64) return false;
    const unsigned char* page = pageAt(number, path.size());
    if (page == nullptr) return false;
    const std::size_t header = number == 1 ? 100 : 0;
    if (page[header] != 5 && page[header] != 13) return false;
    const std::size_t cells = (std::size_t{page[header + 3]} << 8) | page[header + 4];
    if (header + (page[header] == 5 ? 12 : 8) + 2 * cells > layout.usable) return false;
    path.push_back({page, header, cells, 0});
    return true;
  };
  if (layout.pageSize == 0 || !enter(root)) return Walk::kUnexpected;
  while (!path.empty()) {
    Step& step = path.back();
    if (step.page[step.header] == 13) {
      const Walk walked = onLeaf(Leaf(step.page, step.header, step.cells, layout));
      if (walked != Walk::kDone) return walked;
      path.pop_back();
      continue;
    }
    if (step.next > step.cells) {
      path.pop_back();
      continue;
    }
    // Each cell's left child, then the right-most child.
    const std::size_t index = step.next++;
    const unsigned char* child = step.page + step.header + 8;
    if (index < step.cells) {
      const unsigned char* pointer = step.page + step.header + 12 + 2 * index;
      const std::size_t offset = (std::size_t{pointer[0]} << 8) | pointer[1];
      if (offset + 4 > layout.usable) return Walk::kUnexpected;
      child = step.page + offset;
    }
    const std::uint64_t number = (std::uint64_t{child[0]} << 24) | (std::uint64_t{child[1]} << 16) |
                                 (std::uint64_t{child[2]} << 8) | child[3];
    if (!enter(number)) return Walk::kUnexpected;
  }
  return Walk::kDone;
}

// A record's values in order. Each value: its serial type, its length and
// its bytes (nullptr when they are not all among the record's local bytes).
class Record {
 public:
  Record(const unsigned char* record, std::size_t local, std::uint64_t payload);
  // The next value; false after the last, or when the record is not as the
  // format has it (then Sound() is false).
  bool Next(std::uint64_t& type, const unsigned char*& bytes, std::uint64_t& length) {
    if (!sound_ || at_ >= types_) return false;
    type = *at_;
    if (type < 0x80) {
      ++at_;  // most serial types take one byte
    } else if (!Varint(at_, types_, type)) {
      return sound_ = false;
    }
    static constexpr std::uint8_t kLength[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
    if (type == 10 || type == 11) return sound_ = false;
    length = type >= 12 ? (type - 12) / 2 : kLength[type];
    const std::uint64_t next = body_ + length;
    if (next > payload_ || next < body_) return sound_ = false;
    bytes = next <= local_ ? record_ + body_ : nullptr;
    body_ = next;
    return true;
  }
  // Every value read, and the values end where the payload does.
  bool Complete() const { return sound_ && at_ == types_ && body_ == payload_; }
  bool Sound() const { return sound_; }

 private:
  const unsigned char* record_;
  const unsigned char* at_;
  const unsigned char* types_;
  std::size_t local_;
  std::uint64_t payload_;
  std::uint64_t body_ = 0;
  bool sound_ = true;
};

// The integer of serial type 1 to 6, 8 or 9, its bytes at `bytes`
// (big-endian, two's complement).
inline std::int64_t Integer(std::uint64_t type, const unsigned char* bytes) {
  switch (type) {
    case 1:
      return static_cast<std::int8_t>(bytes[0]);
    case 2:
      return static_cast<std::int16_t>((bytes[0] << 8) | bytes[1]);
    case 3:
      return (static_cast<std::int8_t>(bytes[0]) * 65536) | (bytes[1] << 8) | bytes[2];
    case 4: {
      std::uint32_t word;
      std::memcpy(&word, bytes, sizeof word);
      return static_cast<std::int32_t>(__builtin_bswap32(word));
    }
    case 5: {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes, 6);
      return static_cast<std::int64_t>(__builtin_bswap64(word)) >> 16;
    }
    case 6: {
      std::uint64_t word;
      std::memcpy(&word, bytes, sizeof word);
      return static_cast<std::int64_t>(__builtin_bswap64(word));
    }
    default:
      return static_cast<std::int64_t>(type) - 8;  // 8 and 9: the constants 0 and 1
  }
}
inline bool IsInteger(std::uint64_t type) { return (type >= 1 && type <= 6) || type == 8 || type == 9; }

// The value of serial type `type` (its `length` bytes at `bytes`, nullptr
// when not at hand) as SQLite stores it; false for a serial type no value
// has, or bytes not at hand.
[[gnu::always_inline]] inline bool StoredOf(std::uint64_t type, const unsigned char* bytes, std::uint64_t length,
                                              StoredValue& stored) {
  stored = StoredValue();
  if (type != 0 && bytes == nullptr && length > 0) return false;
  if (IsInteger(type)) {
    stored.kind = SQLITE_INTEGER;
    stored.integer = Integer(type, bytes);
  } else if (type == 7) {
    // Big-endian IEEE 754. A NaN, which SQLite reads as Null, is refused
    // by every field and so left to SQLite.
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    word = __builtin_bswap64(word);
    stored.kind = SQLITE_FLOAT;
    std::memcpy(&stored.real, &word, sizeof word);
  } else if (type >= 12) {
    stored.kind = type % 2 == 1 ? SQLITE_TEXT : SQLITE_BLOB;
    stored.bytes = reinterpret_cast<const char*>(bytes);
    stored.length = static_cast<std::size_t>(length);
  } else if (type != 0) {
    return false;
  }
  return true;
}

// Reads that value as a value of `field` into `*out`, as a read of the
// engine reads it through SQLite (ReadColumn); with `out` null, only tells
// whether it would. False when that cannot be said from these bytes
// alone: a value the field refuses, bytes not at hand, a whole number in a
// field of reals too large to be exact; a read through SQLite then judges it.
[[gnu::always_inline]] inline bool ValueOf(std::uint64_t type, const unsigned char* bytes, std::uint64_t length,
                                             const FieldDef& field, Value* out) {
  // A whole number beyond 2^53 in a field of reals is refused here, where
  // SQLite may read it as a real (a column of REAL affinity): left to it.
  StoredValue stored;
  return StoredOf(type, bytes, length, stored) && TakeStored(stored, field, out);
}

}  // namespace dbengine::pages

#endif  // DBENGINE_TABLE_PAGES_H_
