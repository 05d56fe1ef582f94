// SPDX-License-Identifier: Apache-2.0
// The reader's inner state (internal to src/jet): the layout of each page
// format, stored column and table definitions, and the open file with the
// table being read. Its work is split by concern: file.cpp (header and
// pages), text.cpp (stored text), definitions.cpp (catalog and table
// definitions), rows.cpp (rows and long values), complex.cpp (the child
// tables of complex columns).
#ifndef JET_STATE_H_
#define JET_STATE_H_

#include <iconv.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "encryption.h"
#include "jet/jet.h"

namespace jet {

using core::FieldType;
using enum core::FieldType;
using core::IndexDef;
using core::Value;

inline std::uint16_t Le16(const unsigned char* bytes) { return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8); }

inline std::uint32_t Le32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline std::uint64_t Le64(const unsigned char* bytes) {
  return static_cast<std::uint64_t>(Le32(bytes)) | static_cast<std::uint64_t>(Le32(bytes + 4)) << 32;
}

// Column types as stored, and what a row holds of a value of each.
enum StoredType : std::uint8_t {
  kJetBoolean = 0x01,       // nothing: the row's null mask holds it, set for Yes
  kJetByte = 0x02,          // 1 byte
  kJetInteger = 0x03,       // 2 bytes, signed
  kJetLong = 0x04,          // 4 bytes, signed
  kJetCurrency = 0x05,      // 8 bytes, signed ten-thousandths
  kJetSingle = 0x06,        // 4-byte float
  kJetDouble = 0x07,        // 8-byte double
  kJetDate = 0x08,          // 8-byte double, days since 30/12/1899
  kJetBinary = 0x09,        // bytes, up to the column's length
  kJetText = 0x0A,          // text, up to the column's length
  kJetOle = 0x0B,           // a long value's reference: bytes
  kJetMemo = 0x0C,          // a long value's reference: text
  kJetGuid = 0x0F,          // 16 bytes
  kJetDecimal = 0x10,       // 17 bytes: a sign byte, then four 32-bit words
  kJetComplex = 0x12,       // 4 bytes: the key of its values in a child table
  kJetBigInt = 0x13,        // 8 bytes, signed
  kJetExtendedDate = 0x14,  // digits: days since 01/01/0001, then 100 ns of the day
};

// Text of stored bytes (text.cpp).
void AppendUtf8(char32_t code, std::string& out);
std::string DecodeJet4Text(const unsigned char* bytes, std::size_t size);
std::string DecodeCp1252(const unsigned char* bytes, std::size_t size);
std::string GuidText(const unsigned char* bytes);

// Extended dates (values.cpp): days since 01/01/0001 and 100 ns of the day.
bool ParseExtendedDate(const unsigned char* bytes, std::size_t size, std::int64_t& days, std::int64_t& ticks);
bool ExtendedDateFitsDate(std::int64_t days, std::int64_t ticks);
std::string ExtendedDateText(std::int64_t days, std::int64_t ticks);
constexpr std::int32_t kExtendedDateTextSize = 27;  // "dd/mm/yyyy hh:nn:ss,fffffff"

// Positions that differ between the two page formats (Jet 4 and ACE share one).
struct Layout {
  bool jet4;
  std::size_t pageSize;
  std::size_t encodedHeaderSize;   // bytes of page 0 encoded from 0x18
  std::size_t dataRowCount;        // data page: number of rows, then their offsets
  std::size_t tdefRowCount;        // table definition: stored row count
  std::size_t tdefVarColumns;      // number of variable columns
  std::size_t tdefColumnCount;     // number of columns
  std::size_t tdefLogicalIndexes;  // number of logical indexes, then of real ones
  std::size_t tdefUsedPages;       // pointer to the usage map of the table's pages
  std::size_t tdefEnd;             // first byte after the fixed block
  std::size_t realIndexEntry;      // per real index, right after the fixed block
  std::size_t columnEntry;         // per column
  std::size_t columnNumber, columnVarIndex, columnMisc, columnFlags, columnFixedOffset, columnLength;
  std::size_t realIndexDefinition;  // per real index: [unknown], 10 columns, pages, flags
  std::size_t realIndexColumns;     // where the 10 columns start in it
  std::size_t realIndexFlags;       // its flags (0x01 unique)
  std::size_t logicalIndexEntry;    // per logical index
  std::size_t logicalIndexReal;     // the number of the real index behind it
  std::size_t logicalIndexType;     // 1 primary, 2 reference of a relationship
};

inline constexpr Layout kJet3 = {false, 2048, 126, 0x08, 12, 23, 25, 27, 35, 43, 8,
                                 18, 1, 3, 9, 13, 14, 16, 39, 0, 38, 20, 4, 19};
inline constexpr Layout kJet4 = {true, 4096, 128, 0x0C, 16, 43, 45, 47, 55, 63, 12,
                                 25, 5, 7, 11, 15, 21, 23, 52, 4, 46, 28, 8, 23};

struct Column {
  std::string name;
  std::uint8_t type = 0;
  std::uint16_t number = 0;    // position in the null mask (deleted columns keep theirs)
  std::uint16_t varIndex = 0;  // position among the row's variable columns
  std::uint16_t fixedOffset = 0;
  std::uint16_t length = 0;
  std::uint8_t flags = 0;
  std::uint8_t precision = 0;
  std::uint8_t scale = 0;
  std::uint32_t complexId = 0;  // complex columns: their number in MSysComplexColumns
  bool calculated = false;      // ACE calculated column: each value wrapped
  bool Fixed() const { return (flags & 0x01) != 0; }
};

struct StoredTable {
  std::string name;
  std::uint32_t definitionPage = 0;
  std::uint32_t rowCount = 0;
  std::uint16_t varColumns = 0;
  std::uint16_t maxColumns = 0;  // columns a row may hold, deleted ones included
  std::uint32_t usedPages = 0;  // page << 8 | row of the usage map
  std::vector<Column> columns;  // in column number order
  std::vector<IndexDef> indexes;
};

// One field of a row as stored: Null, or its bytes on the page.
struct Slice {
  bool isNull = true;
  const unsigned char* bytes = nullptr;
  std::size_t size = 0;
};

struct Reader::State {
  std::string path;
  int file = -1;
  const Layout* layout = &kJet3;
  bool ace = false;  // "Standard ACE DB": Access 2007 and later
  std::uint32_t pageCount = 0;
  std::uint64_t fileSize = 0;
  iconv_t codePage = reinterpret_cast<iconv_t>(-1);  // Jet 3 text other than Windows-1252
  std::unique_ptr<PageDecryptor> decryptor;          // pages stored encrypted, or null
  struct CatalogEntry {
    std::string name;
    std::uint32_t definitionPage = 0;
    std::string properties;  // the catalog's LvProp: the table's and its fields' properties
    StoredTable stored;      // its definition as stored
    TableDef def;            // fields and indexes in the engine's terms
    bool settled = false;    // Required and extended dates checked against the rows
    std::size_t attachmentData = 0;  // a child table of attachments: its FileData field + 1
  };
  std::vector<CatalogEntry> tables;
  std::uint32_t complexColumnsPage = 0;  // definition of MSysComplexColumns, 0 when none

  // The open table and where its reading stands.
  StoredTable table;
  TableDef* def = nullptr;
  std::size_t openPosition = 0;
  bool open = false;
  std::vector<std::uint32_t> pages;  // its data pages, in file order
  std::optional<std::uint32_t> pagesFrom;  // the usage map `pages` was read from
  std::size_t pageIndex = 0;
  std::vector<unsigned char> page;   // the data page being read
  std::size_t rowIndex = 0;
  std::size_t rowsOnPage = 0;
  std::uint32_t rowsRead = 0;
  std::uint64_t longBytes = 0;  // read from long-value pages for the open table
  std::vector<unsigned char> overflow;  // the page of a row moved from its place
  std::vector<unsigned char> longPage;  // a page of a long value
  std::vector<Slice> slices;
  std::size_t streamAbove = 0;  // long binary values longer than this are streamed (0: none)
  std::uint64_t rowLongBytes = 0;  // long values of the row being read, as stored
  mutable std::vector<std::size_t> crackOffsets;  // Crack's offsets of variable columns

  ~State();

  std::size_t PageSize() const { return layout->pageSize; }
  [[noreturn]] void Unrecognized(const std::string& detail = {}) const;
  [[noreturn]] void Damaged(const std::string& detail) const;
  std::string Where() const { return open ? " de la table « " + table.name + " »" : " du catalogue"; }

  // file.cpp: the header and the pages.
  void Open(std::string_view password);
  void ReadHeader(std::string_view password);
  void ReadPage(std::uint32_t number, std::vector<unsigned char>& into) const;
  void CheckPassword(const std::vector<unsigned char>& header, std::string_view given) const;
  [[noreturn]] void NoPassword() const;
  [[noreturn]] void WrongPassword() const;

  // text.cpp
  std::string Text(const unsigned char* bytes, std::size_t size) const;

  // definitions.cpp: catalog and table definitions.
  std::vector<unsigned char> DefinitionBytes(std::uint32_t number, const std::string& name) const;
  StoredTable ReadDefinition(std::uint32_t number, const std::string& name) const;
  Field FieldOf(const Column& column, const std::string& tableName) const;
  void ReadCatalog();
  void ReadDefinitions();
  std::set<std::string> RequiredFields(const std::string& blob, const std::string& tableName) const;

  // complex.cpp: the child tables of complex columns.
  void AddComplexTables();
  // An attachment's FileData as stored (`stored`, not Null): the file's bytes into `out`, or,
  // when long values are streamed and it is long, its size only (out.streamed).
  void Attachment(const Slice& stored, Value& out);
  // The file's bytes of an attachment to `sink` (none when `sizeOnly`); returns their number.
  std::uint64_t AttachmentChunks(const Slice& stored, bool sizeOnly, const std::function<void(const char*, std::size_t)>& sink);

  // rows.cpp: rows and long values; values.cpp: typed values.
  void RowBounds(const std::vector<unsigned char>& page, std::size_t row, std::size_t& start, std::size_t& end,
                 std::uint16_t& flags) const;
  std::pair<const unsigned char*, std::size_t> PointedRow(std::uint32_t pointer,
                                                          std::vector<unsigned char>& buffer) const;
  std::vector<std::uint32_t> UsedPages(std::uint32_t pointer) const;
  void Crack(const unsigned char* row, std::size_t size, const StoredTable& t, std::vector<Slice>& out) const;
  // Parts of a long value, in order; the sink answers false to stop.
  using ChunkSink = std::function<bool(const unsigned char*, std::size_t)>;
  std::size_t LongValueLength(const Slice& slice) const;
  void LongValueChunks(const Slice& slice, const ChunkSink& sink);
  std::string LongValue(const Slice& slice);
  Value Decimal(const unsigned char* bytes, int scale) const;
  void Decode(const Column& column, FieldType type, const Slice& slice, Value& out);
  // Counts a long value of field `field` against the largest a row may hold (3049 past it).
  void CountLong(const std::string& field, std::uint64_t length);
  void Rewind();
  bool NextSlices();
};

}  // namespace jet

#endif  // JET_STATE_H_
