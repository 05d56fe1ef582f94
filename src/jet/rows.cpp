// SPDX-License-Identifier: Apache-2.0
// The rows of an Access table and their long values.
//
// A table's usage map lists the data pages holding its rows. A data page
// (type 1) lists its rows by offset, with a deleted flag and a moved-row flag;
// a row is a column count, the fixed columns, the variable ones, their
// offsets (Jet 3: one byte each, with a jump table for rows over 256 bytes)
// and a null mask. Long values (Memo, OLE) sit in the row, in one row of a
// long-value page or in a chain of such rows. Every chain is walked with a
// record of what it has visited: a damaged file fails with 3049 and never
// loops.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "state.h"

namespace jet {
namespace {

constexpr std::uint16_t kOffsetMask = 0x1FFF;
constexpr std::uint16_t kDeletedRow = 0x8000;
constexpr std::uint16_t kOverflowRow = 0x4000;
constexpr std::size_t kLongValueHeader = 12;  // length and flags, page and row, 4 unused

}  // namespace

// ---- rows -----------------------------------------------------------------

// The bounds of row `row` on data page `page` (flags kept in `flags`).
void Reader::State::RowBounds(const std::vector<unsigned char>& page, std::size_t row, std::size_t& start, std::size_t& end,
               std::uint16_t& flags) const {
  const Layout& l = *layout;
  const std::size_t count = Le16(page.data() + l.dataRowCount);
  const std::size_t offsetsEnd = l.dataRowCount + 2 + 2 * count;
  if (row >= count || offsetsEnd > PageSize()) Damaged("ligne absente de sa page" + Where());
  const std::uint16_t offset = Le16(page.data() + l.dataRowCount + 2 + 2 * row);
  flags = offset & ~kOffsetMask;
  start = offset & kOffsetMask;
  end = row == 0 ? PageSize() : Le16(page.data() + l.dataRowCount + 2 * row) & kOffsetMask;
  if (start < offsetsEnd || start > end || end > PageSize()) Damaged("position de ligne hors de sa page" + Where());
}

// The bytes of the row a pointer (page << 8 | row) designates, on a data page.
std::pair<const unsigned char*, std::size_t> Reader::State::PointedRow(std::uint32_t pointer, std::vector<unsigned char>& buffer) const {
  ReadPage(pointer >> 8, buffer);
  if (buffer[0] != 0x01) Damaged("page de données attendue en " + std::to_string(pointer >> 8) + Where());
  std::size_t start = 0;
  std::size_t end = 0;
  std::uint16_t flags = 0;
  RowBounds(buffer, pointer & 0xFF, start, end, flags);
  return {buffer.data() + start, end - start};
}

// The pages a usage map marks: inline (a first page and a bitmap) or by
// reference (the numbers of pages that are bitmaps themselves).
std::vector<std::uint32_t> Reader::State::UsedPages(std::uint32_t pointer) const {
  std::vector<unsigned char> buffer;
  const auto [map, size] = PointedRow(pointer, buffer);
  if (size < 1) Damaged("table des pages vide" + Where());
  std::vector<std::uint32_t> pages;
  auto mark = [&](std::uint64_t number) {
    if (number >= pageCount) Damaged("page " + std::to_string(number) + " hors du fichier" + Where());
    pages.push_back(static_cast<std::uint32_t>(number));
  };
  if (map[0] == 0) {
    if (size < 5) Damaged("table des pages tronquée" + Where());
    const std::uint64_t firstPage = Le32(map + 1);
    for (std::size_t byte = 5; byte < size; ++byte) {
      for (int bit = 0; bit < 8; ++bit) {
        if (map[byte] >> bit & 1) mark(firstPage + (byte - 5) * 8 + static_cast<unsigned>(bit));
      }
    }
  } else if (map[0] == 1) {
    std::vector<unsigned char> bitmap;
    const std::uint64_t perPage = (PageSize() - 4) * 8;
    for (std::size_t entry = 0; 1 + 4 * entry + 4 <= size; ++entry) {
      const std::uint32_t mapPage = Le32(map + 1 + 4 * entry);
      if (mapPage == 0) continue;
      ReadPage(mapPage, bitmap);
      if (bitmap[0] != 0x05) Damaged("page de table des pages attendue en " + std::to_string(mapPage) + Where());
      for (std::size_t byte = 4; byte < PageSize(); ++byte) {
        for (int bit = 0; bitmap[byte] != 0 && bit < 8; ++bit) {
          if (bitmap[byte] >> bit & 1) mark(entry * perPage + (byte - 4) * 8 + static_cast<unsigned>(bit));
        }
      }
    }
  } else {
    Damaged("table des pages de type inconnu" + Where());
  }
  return pages;
}

// Splits the row `bytes` into one slice per column of `table`; Boolean
// columns get a non-null slice of size 1 when their bit is set.
void Reader::State::Crack(const unsigned char* row, std::size_t size, const StoredTable& t, std::vector<Slice>& out) const {
  const Layout& l = *layout;
  auto damaged = [&] { Damaged("ligne illisible" + Where()); };
  const std::size_t countSize = l.jet4 ? 2 : 1;
  if (size < countSize) damaged();
  const std::size_t columnCount = l.jet4 ? Le16(row) : row[0];
  const std::size_t maskSize = (columnCount + 7) / 8;
  if (size < countSize + maskSize || columnCount > t.maxColumns) damaged();
  const unsigned char* mask = row + size - maskSize;
  // Offsets of the variable columns from the row's start; the last is the end of their data.
  // Kept from row to row, resized only: no allocation nor clearing per row.
  std::vector<std::size_t>& varOffsets = crackOffsets;
  std::size_t tableStart = size - maskSize;  // where the row's trailing tables begin
  if (t.varColumns > 0) {
    if (l.jet4) {
      if (tableStart < countSize + 2) damaged();
      const std::size_t varCount = Le16(row + tableStart - 2);
      if (tableStart < countSize + 2 + 2 * (varCount + 1)) damaged();
      varOffsets.resize(varCount + 1);
      for (std::size_t index = 0; index <= varCount; ++index) varOffsets[index] = Le16(row + tableStart - 4 - 2 * index);
      tableStart -= 2 + 2 * (varCount + 1);
    } else {
      if (tableStart < countSize + 1) damaged();
      const std::size_t varCount = row[tableStart - 1];
      // One jump entry per 256 bytes of row; the last may be a filler.
      std::size_t jumps = (size - 1) / 256;
      if (tableStart < countSize + 1 + jumps + varCount + 1) damaged();
      const std::size_t offsetsAt = tableStart - 1 - jumps;  // one past the first offset
      const std::size_t offsetsStart = offsetsAt - (varCount + 1);
      if (offsetsStart / 256 < jumps) --jumps;  // the last entry was a filler
      std::size_t jumpsUsed = 0;
      varOffsets.resize(varCount + 1);
      for (std::size_t index = 0; index <= varCount; ++index) {
        while (jumpsUsed < jumps && row[tableStart - 2 - jumpsUsed] == index) ++jumpsUsed;
        varOffsets[index] = row[offsetsAt - 1 - index] + 256 * jumpsUsed;
      }
      tableStart = offsetsStart;
    }
    for (std::size_t index = 0; index < varOffsets.size(); ++index) {
      if (varOffsets[index] > tableStart || (index > 0 && varOffsets[index] < varOffsets[index - 1])) damaged();
    }
  } else {
    varOffsets.clear();
  }
  out.assign(t.columns.size(), Slice{});
  for (std::size_t position = 0; position < t.columns.size(); ++position) {
    const Column& column = t.columns[position];
    Slice& slice = out[position];
    // A column the row has no place for was added after it was written
    // (its number is bounded by the definition).
    if (column.number >= columnCount) continue;
    const bool present = (mask[column.number / 8] >> (column.number % 8) & 1) != 0;
    if (column.type == kJetBoolean) {
      if (present) slice = Slice{false, mask, 1};
      continue;
    }
    if (!present) continue;
    if (column.Fixed()) {
      const std::size_t start = countSize + column.fixedOffset;
      if (start + column.length > tableStart) damaged();
      slice = Slice{false, row + start, column.length};
    } else {
      // Present in the row, the column has its place among the variable ones.
      if (column.varIndex + 1u >= varOffsets.size()) damaged();
      const std::size_t start = varOffsets[column.varIndex];
      const std::size_t end = varOffsets[column.varIndex + 1u];
      slice = Slice{false, row + start, end - start};
    }
  }
}

// The bytes of a Memo or OLE value: kept in the row, in one row of a long
// value page, or in a chain of such rows each starting with the next one's
// address. They go to `sink` part by part, in order, until it answers false.
std::size_t Reader::State::LongValueLength(const Slice& slice) const {
  if (slice.size < kLongValueHeader) Damaged("valeur longue tronquée" + Where());
  const std::size_t length = Le32(slice.bytes) & 0x3FFFFFFF;
  if (length > fileSize) Damaged("valeur longue plus grande que le fichier" + Where());
  return length;
}

void Reader::State::LongValueChunks(const Slice& slice, const ChunkSink& sink) {
  const std::size_t length = LongValueLength(slice);
  const std::uint32_t header = Le32(slice.bytes);
  if (header & 0x80000000u) {
    if (length > slice.size - kLongValueHeader) Damaged("valeur longue tronquée" + Where());
    sink(slice.bytes + kLongValueHeader, length);
    return;
  }
  std::uint32_t pointer = Le32(slice.bytes + 4);
  // Each row of a long-value page belongs to one value: what a table reads
  // from them together cannot exceed the file, however the rows point.
  auto count = [&](std::size_t size) {
    longBytes += size;
    if (longBytes > fileSize) Damaged("valeurs longues plus grandes que le fichier" + Where());
  };
  if (header & 0x40000000u) {
    const auto [bytes, size] = PointedRow(pointer, longPage);
    if (size < length) Damaged("valeur longue tronquée" + Where());
    count(length);
    sink(bytes, length);
    return;
  }
  std::size_t done = 0;
  std::set<std::uint32_t> visited;
  while (done < length) {
    if (pointer == 0) Damaged("valeur longue tronquée" + Where());
    if (!visited.insert(pointer).second) Damaged("valeur longue en boucle" + Where());
    const auto [bytes, size] = PointedRow(pointer, longPage);
    if (size <= 4) Damaged("valeur longue tronquée" + Where());
    count(size);
    pointer = Le32(bytes);
    const std::size_t part = std::min(size - 4, length - done);
    done += part;
    if (!sink(bytes + 4, part)) return;
  }
}

std::string Reader::State::LongValue(const Slice& slice) {
  std::string value;
  value.reserve(LongValueLength(slice));
  LongValueChunks(slice, [&](const unsigned char* bytes, std::size_t size) {
    value.append(reinterpret_cast<const char*>(bytes), size);
    return true;
  });
  return value;
}

// Starts reading the rows of the open table from its first data page.
void Reader::State::Rewind() {
  // A table read again (the rows' first reading, then theirs) keeps the
  // pages its usage map gave.
  if (pagesFrom != table.usedPages) {
    pagesFrom.reset();
    pages = UsedPages(table.usedPages);
    pagesFrom = table.usedPages;
  }
  pageIndex = 0;
  rowIndex = 0;
  rowsOnPage = 0;
  rowsRead = 0;
  longBytes = 0;
}

// The next row of the open table as slices; false after the last one.
bool Reader::State::NextSlices() {
  const Layout& l = *layout;
  rowLongBytes = 0;
  while (true) {
    while (rowIndex >= rowsOnPage) {
      // The row count a table's definition keeps may be stale, counting
      // fewer rows than stored (Access leaves it so at times), never more: a
      // row counted and not found is a row lost. The system tables' counts
      // (the catalog's) may stay above what remains after deletions.
      if (pageIndex >= pages.size()) {
        if (open && rowsRead < table.rowCount) {
          Damaged(std::to_string(rowsRead) + " lignes lues pour " + std::to_string(table.rowCount) + " comptées" +
                  Where());
        }
        return false;
      }
      const std::uint32_t number = pages[pageIndex++];
      ReadPage(number, page);
      // Every page a table's map lists holds its rows: any other is a map
      // or a page gone wrong.
      if (page[0] != 0x01 || Le32(page.data() + 4) != table.definitionPage) {
        Damaged("page " + std::to_string(number) + " listée qui ne tient pas les lignes" + Where());
      }
      rowIndex = 0;
      rowsOnPage = Le16(page.data() + l.dataRowCount);
    }
    std::size_t start = 0;
    std::size_t end = 0;
    std::uint16_t flags = 0;
    RowBounds(page, rowIndex++, start, end, flags);
    if (flags & kDeletedRow) continue;
    const unsigned char* row = page.data() + start;
    std::size_t size = end - start;
    // A row moved to another page leaves the address of its new place here;
    // it is read here, in its place, and is marked deleted where it now is.
    for (int hops = 0; flags & kOverflowRow; ++hops) {
      if (size < 4 || hops == 8) Damaged("ligne déplacée introuvable" + Where());
      const std::uint32_t pointer = Le32(row);
      ReadPage(pointer >> 8, overflow);
      if (overflow[0] != 0x01) Damaged("ligne déplacée introuvable" + Where());
      RowBounds(overflow, pointer & 0xFF, start, end, flags);
      row = overflow.data() + start;
      size = end - start;
    }
    ++rowsRead;
    Crack(row, size, table, slices);
    return true;
  }
}


Reader::Reader(const std::string& path, std::string_view password) : state_(std::make_unique<State>()) {
  state_->path = path;
  state_->Open(password);
}

Reader::~Reader() = default;

std::size_t Reader::TableCount() const { return state_->tables.size(); }

const std::string& Reader::TableName(std::size_t position) const { return state_->tables.at(position).name; }

const TableDef& Reader::OpenTable(std::size_t position) {
  State& state = *state_;
  State::CatalogEntry& entry = state.tables.at(position);
  state.open = false;
  state.table = entry.stored;
  state.def = &entry.def;
  state.openPosition = position;
  state.open = true;
  state.Rewind();
  if (!entry.settled) {
    // Settled from the rows, read once without being decoded: Access lets a
    // field become required without checking the rows already there, and
    // one holding a Null keeps the field not required, so that every row can
    // still be read as it is; an extended date column is a Date only when
    // every value fits the Date type exactly, else its values are texts.
    entry.settled = true;
    const std::vector<Column>& columns = state.table.columns;
    bool anyToSettle = false;
    for (std::size_t slot = 0; slot < columns.size(); ++slot) {
      anyToSettle = anyToSettle || entry.def.fields[slot].required || columns[slot].type == kJetExtendedDate;
    }
    if (anyToSettle) {
      while (state.NextSlices()) {
        for (std::size_t slot = 0; slot < state.slices.size(); ++slot) {
          const Slice& slice = state.slices[slot];
          Field& field = entry.def.fields[slot];
          if (slice.isNull && field.required) {
            field.required = false;
            field.requiredWithNull = true;
          }
          std::int64_t days = 0;
          std::int64_t ticks = 0;
          if (columns[slot].type == kJetExtendedDate && !slice.isNull && field.type == kDate &&
              (!ParseExtendedDate(slice.bytes, slice.size, days, ticks) || !ExtendedDateFitsDate(days, ticks))) {
            field.type = kText;
            field.size = kExtendedDateTextSize;
          }
        }
      }
      state.Rewind();
    }
  }
  return entry.def;
}

bool Reader::NextRow(std::vector<Value>& row) {
  State& state = *state_;
  if (!state.open || !state.NextSlices()) return false;
  row.resize(state.table.columns.size());
  const std::size_t data = state.tables[state.openPosition].attachmentData;  // an attachment's file: read once
  for (std::size_t slot = 0; slot < row.size(); ++slot) {
    if (slot + 1 == data && !state.slices[slot].isNull) {
      state.Attachment(state.slices[slot], row[slot]);
    } else {
      state.Decode(state.table.columns[slot], state.def->fields[slot].type, state.slices[slot], row[slot]);
    }
  }
  return true;
}

void Reader::StreamLongValues(std::size_t threshold) { state_->streamAbove = threshold; }

void Reader::ReadStreamed(std::size_t slot, const std::function<void(const char*, std::size_t)>& sink) {
  State& state = *state_;
  if (!state.open || slot >= state.slices.size() || state.slices[slot].isNull) return;
  if (state.tables[state.openPosition].attachmentData == slot + 1) {
    state.AttachmentChunks(state.slices[slot], false, sink);
    return;
  }
  state.LongValueChunks(state.slices[slot], [&](const unsigned char* bytes, std::size_t size) {
    sink(reinterpret_cast<const char*>(bytes), size);
    return true;
  });
}

bool Reader::SkipRow() {
  State& state = *state_;
  if (!state.open || !state.NextSlices()) return false;
  // Text cannot fail to decode but through iconv (a Jet 3 code page other
  // than Windows-1252), nor bytes: those are left as they are.
  const bool textChecked = !state.layout->jet4 && state.codePage != reinterpret_cast<iconv_t>(-1);
  const std::size_t data = state.tables[state.openPosition].attachmentData;
  Value value;
  Value attachment;
  for (std::size_t slot = 0; slot < state.slices.size(); ++slot) {
    const Column& column = state.table.columns[slot];
    const FieldType type = state.def->fields[slot].type;
    const bool plain = !column.calculated && ((column.type == kJetText && type != kMemo && !textChecked) ||
                                              column.type == kJetBinary);
    if (slot + 1 == data) {
      // An attachment's file is inflated (and checked) as a reading would.
      if (!state.slices[slot].isNull) state.Attachment(state.slices[slot], attachment);
      continue;
    }
    if (plain) continue;
    state.Decode(column, type, state.slices[slot], value);
  }
  return true;
}

}  // namespace jet
