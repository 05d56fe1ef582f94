// SPDX-License-Identifier: Apache-2.0
// SQLite's file format, as far as a table's rows go: the header's page
// layout, a leaf's cells, a record's serial types, and a value read from its
// bytes as the engine reads it through SQLite.
#include "table_pages.h"

#include <cstring>


namespace dbengine::pages {

Layout Layout::Of(const unsigned char* header, std::uint64_t fileSize) {
  Layout layout;
  if (std::memcmp(header, "SQLite format 3", 16) != 0) return layout;
  std::size_t pageSize = (std::size_t{header[16]} << 8) | header[17];
  if (pageSize == 1) pageSize = 65536;
  if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0 || pageSize - header[20] < 480) return layout;
  layout.pageSize = pageSize;
  layout.usable = pageSize - header[20];
  layout.pageCount = fileSize / pageSize;
  layout.utf8 = header[56] == 0 && header[57] == 0 && header[58] == 0 && header[59] == 1;
  return layout;
}

bool Leaf::Cell(std::size_t index, std::uint64_t& rowid, const unsigned char*& record, std::size_t& local,
                std::uint64_t& payload) const {
  if (index >= cells_) return false;
  const unsigned char* pointer = page_ + header_ + 8 + 2 * index;
  const std::size_t offset = (std::size_t{pointer[0]} << 8) | pointer[1];
  const std::size_t usable = layout_->usable;
  if (offset >= usable) return false;
  const unsigned char* at = page_ + offset;
  const unsigned char* end = page_ + usable;
  if (!Varint(at, end, payload) || !Varint(at, end, rowid)) return false;
  // The part of the payload on this page (the rest on overflow pages).
  const std::uint64_t most = usable - 35;
  std::uint64_t kept = payload;
  if (payload > most) {
    const std::uint64_t least = (usable - 12) * 32 / 255 - 23;
    kept = least + (payload - least) % (usable - 4);
    if (kept > most) kept = least;
  }
  if (kept > static_cast<std::uint64_t>(end - at)) return false;
  record = at;
  local = static_cast<std::size_t>(kept);
  return true;
}

Record::Record(const unsigned char* record, std::size_t local, std::uint64_t payload)
    : record_(record), at_(record), types_(record), local_(local), payload_(payload) {
  std::uint64_t headerSize = 0;
  if (!Varint(at_, record + local, headerSize) || headerSize > local ||
      headerSize < static_cast<std::uint64_t>(at_ - record)) {
    sound_ = false;
    return;
  }
  types_ = record + headerSize;
  body_ = headerSize;
}

}  // namespace dbengine::pages
