// Reading Jet 3 and Jet 4 files page by page.
//
// The file is a sequence of pages of one size (2048 bytes for Jet 3, 4096 for
// Jet 4). Page 0 holds the header, an area of it encoded with a fixed RC4 key;
// page 2 holds the definition of the catalog table MSysObjects, whose rows name
// every object and give each table's definition page. A table definition may
// run over several pages; its usage map lists the data pages holding its rows.
// A data page lists its rows by offset; a row is a column count, the fixed
// columns, the variable ones, their offsets (Jet 3: one byte each, with a jump
// table for rows over 256 bytes) and a null mask. Long values (Memo, OLE) sit
// in the row, in one row of a long-value page or in a chain of such rows.
//
// Every page number, offset and length is checked before it is followed, and
// every chain is walked with a record of what it has visited: a damaged file
// fails with 3049, never loops, and never yields some of its rows as success,
// since the rows read must match the count the table's definition keeps.
#include "jet/jet.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

namespace dbengine {
namespace {

constexpr std::uint16_t kOffsetMask = 0x1FFF;
constexpr std::uint16_t kDeletedRow = 0x8000;
constexpr std::uint16_t kOverflowRow = 0x4000;
constexpr std::size_t kLongValueHeader = 12;  // length and flags, page and row, 4 unused
constexpr std::size_t kEncodedHeaderStart = 0x18;

// Column types as stored.
enum JetType : std::uint8_t {
  kJetBoolean = 0x01,
  kJetByte = 0x02,
  kJetInteger = 0x03,
  kJetLong = 0x04,
  kJetCurrency = 0x05,
  kJetSingle = 0x06,
  kJetDouble = 0x07,
  kJetDate = 0x08,
  kJetBinary = 0x09,
  kJetText = 0x0A,
  kJetOle = 0x0B,
  kJetMemo = 0x0C,
  kJetGuid = 0x0F,
  kJetDecimal = 0x10,
};

std::uint16_t Le16(const unsigned char* bytes) { return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8); }

std::uint32_t Le32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint64_t Le64(const unsigned char* bytes) {
  return static_cast<std::uint64_t>(Le32(bytes)) | static_cast<std::uint64_t>(Le32(bytes + 4)) << 32;
}

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

// Jet 4 text: UTF-16 little-endian, or, after the mark FF FE, "compressed":
// one byte per character (high byte zero) with each 00 byte switching to two
// bytes per character and back.
std::string DecodeJet4Text(const unsigned char* bytes, std::size_t size) {
  std::u16string units;
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    bool compressed = true;
    std::size_t at = 2;
    while (at < size) {
      if (bytes[at] == 0) {
        compressed = !compressed;
        ++at;
      } else if (compressed) {
        units.push_back(bytes[at++]);
      } else if (at + 1 < size) {
        units.push_back(static_cast<char16_t>(bytes[at] | bytes[at + 1] << 8));
        at += 2;
      } else {
        break;
      }
    }
  } else {
    for (std::size_t at = 0; at + 1 < size; at += 2) {
      units.push_back(static_cast<char16_t>(bytes[at] | bytes[at + 1] << 8));
    }
  }
  std::string text;
  text.reserve(units.size());
  for (std::size_t at = 0; at < units.size(); ++at) {
    const char16_t unit = units[at];
    if (unit >= 0xD800 && unit < 0xDC00 && at + 1 < units.size() && units[at + 1] >= 0xDC00 &&
        units[at + 1] < 0xE000) {
      AppendUtf8(0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (units[at + 1] - 0xDC00), text);
      ++at;
    } else if (unit >= 0xD800 && unit < 0xE000) {
      AppendUtf8(0xFFFD, text);  // a lone surrogate
    } else {
      AppendUtf8(unit, text);
    }
  }
  return text;
}

// Windows-1252 from 0x80 to 0x9F; the five bytes it leaves undefined map to
// the control characters of the same number, as Windows maps them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string DecodeCp1252(const unsigned char* bytes, std::size_t size) {
  std::string text;
  text.reserve(size);
  for (std::size_t at = 0; at < size; ++at) {
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

// Positions that differ between the two generations.
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

constexpr Layout kJet3 = {false, 2048, 126, 0x08, 12, 23, 25, 27, 35, 43, 8,
                          18, 1, 3, 9, 13, 14, 16, 39, 0, 38, 20, 4, 19};
constexpr Layout kJet4 = {true, 4096, 128, 0x0C, 16, 43, 45, 47, 55, 63, 12,
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
  bool Fixed() const { return (flags & 0x01) != 0; }
};

struct Table {
  std::string name;
  std::uint32_t definitionPage = 0;
  std::uint32_t rowCount = 0;
  std::uint16_t varColumns = 0;
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

struct JetReader::State {
  std::string path;
  int file = -1;
  const Layout* layout = &kJet3;
  std::uint32_t pageCount = 0;
  std::uint64_t fileSize = 0;
  iconv_t codePage = reinterpret_cast<iconv_t>(-1);  // Jet 3 text other than Windows-1252
  struct CatalogEntry {
    std::string name;
    std::uint32_t definitionPage = 0;
    std::string properties;  // the catalog's LvProp: the table's and its fields' properties
  };
  std::vector<CatalogEntry> tables;

  // The open table and where its reading stands.
  Table table;
  JetTableDef def;
  bool open = false;
  std::vector<std::uint32_t> pages;  // its data pages, in file order
  std::size_t pageIndex = 0;
  std::vector<unsigned char> page;   // the data page being read
  std::size_t rowIndex = 0;
  std::size_t rowsOnPage = 0;
  std::uint32_t rowsRead = 0;
  std::uint64_t longBytes = 0;  // read from long-value pages for the open table
  std::vector<unsigned char> overflow;  // the page of a row moved from its place
  std::vector<unsigned char> longPage;  // a page of a long value
  std::vector<Slice> slices;

  ~State() {
    if (file >= 0) ::close(file);
    if (codePage != reinterpret_cast<iconv_t>(-1)) iconv_close(codePage);
  }

  std::size_t PageSize() const { return layout->pageSize; }

  [[noreturn]] void Unrecognized(const std::string& detail = {}) const {
    throw EngineError(3343, "Format de base de données « " + path + " » non reconnu" +
                                (detail.empty() ? "." : " : " + detail + "."));
  }
  [[noreturn]] void Damaged(const std::string& detail) const {
    throw EngineError(3049, "Impossible d'ouvrir la base de données « " + path +
                                " » : le fichier est endommagé (" + detail + ").");
  }
  std::string Where() const { return open ? " de la table « " + table.name + " »" : " du catalogue"; }

  void ReadPage(std::uint32_t number, std::vector<unsigned char>& into) const {
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
  }

  // ---- the header ---------------------------------------------------------

  void ReadHeader() {
    struct stat status {};
    if (::fstat(file, &status) != 0) Unrecognized();
    fileSize = static_cast<std::uint64_t>(status.st_size);
    unsigned char head[0x15] = {};
    if (::pread(file, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) Unrecognized();
    const std::string_view signature(reinterpret_cast<const char*>(head + 4), 15);
    if (signature == "Standard ACE DB" || (signature == "Standard Jet DB" && head[0x14] >= 2 && head[0x14] <= 5)) {
      Unrecognized("fichier Access 2007 ou ultérieur (.accdb), que le moteur ne lit pas");
    }
    if (signature != "Standard Jet DB" || head[0x14] > 1) Unrecognized();
    layout = head[0x14] == 0 ? &kJet3 : &kJet4;
    // The catalog's definition is on page 2: a shorter file is no database.
    if (fileSize < 3 * PageSize()) Unrecognized();
    if (fileSize % PageSize() != 0) Damaged("taille qui n'est pas un nombre entier de pages");
    if (fileSize / PageSize() > 0xFFFFFF) Damaged("trop de pages");
    pageCount = static_cast<std::uint32_t>(fileSize / PageSize());

    std::vector<unsigned char> first;
    ReadPage(0, first);
    static constexpr unsigned char kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4(kHeaderKey, sizeof kHeaderKey, first.data() + kEncodedHeaderStart, layout->encodedHeaderSize);
    if (Le32(first.data() + 0x3E) != 0) {
      throw EngineError(3031, "Mot de passe non valide : la base de données « " + path +
                                  " » est chiffrée, et le moteur ne lit pas les bases chiffrées.");
    }
    // The password, when there is one, is kept from 0x42; Jet 4 masks it
    // further with the creation date kept at 0x72.
    unsigned char password[40] = {};
    const std::size_t passwordSize = layout->jet4 ? 40 : 20;
    std::memcpy(password, first.data() + 0x42, passwordSize);
    if (layout->jet4) {
      std::uint64_t bits = Le64(first.data() + 0x72);
      double created = 0;
      std::memcpy(&created, &bits, sizeof created);
      std::uint32_t mask = 0;
      if (created > -2147483648.0 && created < 2147483648.0) mask = static_cast<std::uint32_t>(static_cast<std::int32_t>(created));
      for (std::size_t at = 0; at < passwordSize; ++at) password[at] ^= static_cast<unsigned char>(mask >> (8 * (at % 4)));
    }
    if (password[0] != 0 || (layout->jet4 && password[1] != 0)) {
      throw EngineError(3031, "Mot de passe non valide : la base de données « " + path +
                                  " » est protégée par un mot de passe, que le moteur ne peut pas donner.");
    }
    if (!layout->jet4) {
      const unsigned number = Le16(first.data() + 0x3C);
      if (number != 0 && number != 1252) {
        codePage = iconv_open("UTF-8", ("CP" + std::to_string(number)).c_str());
      }
    }
  }

  std::string Text(const unsigned char* bytes, std::size_t size) const {
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

  // ---- table definitions --------------------------------------------------

  // The definition of the table whose first definition page is `number`: the
  // first page whole, then from byte 8 of each following page of the chain.
  std::vector<unsigned char> DefinitionBytes(std::uint32_t number, const std::string& name) const {
    std::vector<unsigned char> bytes;
    std::vector<unsigned char> buffer;
    std::set<std::uint32_t> visited;
    for (std::uint32_t next = number; next != 0;) {
      if (!visited.insert(next).second) Damaged("définition de la table « " + name + " » en boucle");
      ReadPage(next, buffer);
      if (buffer[0] != 0x02) Damaged("définition de la table « " + name + " » absente");
      bytes.insert(bytes.end(), buffer.begin() + (bytes.empty() ? 0 : 8), buffer.end());
      next = Le32(buffer.data() + 4);
    }
    return bytes;
  }

  Table ReadDefinition(std::uint32_t number, const std::string& name) const {
    const std::vector<unsigned char> bytes = DefinitionBytes(number, name);
    const Layout& l = *layout;
    auto need = [&](std::size_t end) {
      if (end > bytes.size()) Damaged("définition de la table « " + name + " » tronquée");
    };
    const unsigned char* at = bytes.data();
    need(l.tdefEnd);
    Table table;
    table.name = name;
    table.definitionPage = number;
    table.rowCount = Le32(at + l.tdefRowCount);
    table.varColumns = Le16(at + l.tdefVarColumns);
    const std::size_t columnCount = Le16(at + l.tdefColumnCount);
    const std::size_t logicalCount = Le32(at + l.tdefLogicalIndexes);
    const std::size_t realCount = Le32(at + l.tdefLogicalIndexes + 4);
    table.usedPages = Le32(at + l.tdefUsedPages);
    // Counts beyond what the definition's bytes could hold are damage, checked
    // before anything is sized from them.
    if (columnCount > bytes.size() / l.columnEntry || realCount > bytes.size() / l.realIndexDefinition ||
        logicalCount > bytes.size() / l.logicalIndexEntry) {
      Damaged("définition de la table « " + name + " » incohérente");
    }
    std::size_t cursor = l.tdefEnd + realCount * l.realIndexEntry;
    need(cursor + columnCount * l.columnEntry);
    std::vector<Column> columns(columnCount);
    for (Column& column : columns) {
      const unsigned char* entry = at + cursor;
      column.type = entry[0];
      column.number = Le16(entry + l.columnNumber);
      column.varIndex = Le16(entry + l.columnVarIndex);
      column.precision = entry[l.columnMisc];
      column.scale = entry[l.columnMisc + 1];
      column.flags = entry[l.columnFlags];
      column.fixedOffset = Le16(entry + l.columnFixedOffset);
      column.length = Le16(entry + l.columnLength);
      cursor += l.columnEntry;
    }
    auto readName = [&](const std::string& what) {
      std::size_t size = 0;
      if (l.jet4) {
        need(cursor + 2);
        size = Le16(at + cursor);
        cursor += 2;
      } else {
        need(cursor + 1);
        size = at[cursor];
        cursor += 1;
      }
      need(cursor + size);
      if (size == 0) Damaged("nom vide dans la définition de la table « " + name + " » (" + what + ")");
      std::string text = Text(at + cursor, size);
      cursor += size;
      return text;
    };
    for (Column& column : columns) column.name = readName("champ");
    std::stable_sort(columns.begin(), columns.end(),
                     [](const Column& left, const Column& right) { return left.number < right.number; });
    for (std::size_t index = 1; index < columns.size(); ++index) {
      if (columns[index].number == columns[index - 1].number) {
        Damaged("deux champs de même numéro dans la table « " + name + " »");
      }
    }
    table.columns = std::move(columns);

    // Real indexes: up to ten column numbers each (0xFFFF: none), and flags.
    struct RealIndex {
      std::vector<std::uint16_t> columns;
      std::uint8_t flags = 0;
    };
    std::vector<RealIndex> reals(realCount);
    need(cursor + realCount * l.realIndexDefinition);
    for (RealIndex& real : reals) {
      const unsigned char* entry = at + cursor + l.realIndexColumns;
      for (int slot = 0; slot < 10; ++slot) {
        const std::uint16_t columnNumber = Le16(entry + 3 * slot);
        if (columnNumber != 0xFFFF) real.columns.push_back(columnNumber);
      }
      real.flags = at[cursor + l.realIndexFlags];
      cursor += l.realIndexDefinition;
    }
    // Logical indexes: each names the real index holding its keys.
    struct LogicalIndex {
      std::uint32_t real = 0;
      std::uint8_t type = 0;
    };
    std::vector<LogicalIndex> logicals(logicalCount);
    need(cursor + logicalCount * l.logicalIndexEntry);
    for (LogicalIndex& logical : logicals) {
      logical.real = Le32(at + cursor + l.logicalIndexReal);
      logical.type = at[cursor + l.logicalIndexType];
      cursor += l.logicalIndexEntry;
    }
    for (const LogicalIndex& logical : logicals) {
      IndexDef index;
      index.name = readName("index");
      if (logical.real >= reals.size()) {
        Damaged("index « " + index.name + " » de la table « " + name + " » sans définition");
      }
      // Type 2 is the reference a relationship leaves on its table: no index of its own.
      if (logical.type == 2) continue;
      const RealIndex& real = reals[logical.real];
      index.primary = logical.type == 1;
      index.unique = index.primary || (real.flags & 0x01) != 0;
      for (const std::uint16_t columnNumber : real.columns) {
        auto found = std::find_if(table.columns.begin(), table.columns.end(),
                                  [&](const Column& column) { return column.number == columnNumber; });
        if (found == table.columns.end()) {
          Damaged("index « " + index.name + " » de la table « " + name + " » sur un champ absent");
        }
        index.fields.push_back(found->name);
      }
      if (index.fields.empty()) Damaged("index « " + index.name + " » de la table « " + name + " » sans champ");
      table.indexes.push_back(std::move(index));
    }
    return table;
  }

  // ---- rows -----------------------------------------------------------------

  // The bounds of row `row` on data page `page` (flags kept in `flags`).
  void RowBounds(const std::vector<unsigned char>& page, std::size_t row, std::size_t& start, std::size_t& end,
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
  std::pair<const unsigned char*, std::size_t> PointedRow(std::uint32_t pointer, std::vector<unsigned char>& buffer) const {
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
  std::vector<std::uint32_t> UsedPages(std::uint32_t pointer) const {
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
          for (int bit = 0; bit < 8; ++bit) {
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
  void Crack(const unsigned char* row, std::size_t size, const Table& t, std::vector<Slice>& out) const {
    const Layout& l = *layout;
    auto damaged = [&] { Damaged("ligne illisible" + Where()); };
    const std::size_t countSize = l.jet4 ? 2 : 1;
    if (size < countSize) damaged();
    const std::size_t columnCount = l.jet4 ? Le16(row) : row[0];
    const std::size_t maskSize = (columnCount + 7) / 8;
    if (size < countSize + maskSize) damaged();
    const unsigned char* mask = row + size - maskSize;
    // Offsets of the variable columns from the row's start; the last is the end of their data.
    std::vector<std::size_t> varOffsets;
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
    }
    out.assign(t.columns.size(), Slice{});
    for (std::size_t position = 0; position < t.columns.size(); ++position) {
      const Column& column = t.columns[position];
      Slice& slice = out[position];
      if (column.number >= columnCount) continue;  // added after the row was written
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
        if (column.varIndex + 1u >= varOffsets.size()) continue;
        const std::size_t start = varOffsets[column.varIndex];
        const std::size_t end = varOffsets[column.varIndex + 1u];
        slice = Slice{false, row + start, end - start};
      }
    }
  }

  // The bytes of a Memo or OLE value: kept in the row, in one row of a long
  // value page, or in a chain of such rows each starting with the next one's
  // address.
  std::string LongValue(const Slice& slice) {
    if (slice.size < kLongValueHeader) Damaged("valeur longue tronquée" + Where());
    const std::uint32_t header = Le32(slice.bytes);
    const std::size_t length = header & 0x3FFFFFFF;
    if (length > fileSize) Damaged("valeur longue plus grande que le fichier" + Where());
    if (header & 0x80000000u) {
      if (length > slice.size - kLongValueHeader) Damaged("valeur longue tronquée" + Where());
      return std::string(reinterpret_cast<const char*>(slice.bytes + kLongValueHeader), length);
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
      return std::string(reinterpret_cast<const char*>(bytes), length);
    }
    std::string value;
    std::set<std::uint32_t> visited;
    while (value.size() < length) {
      if (pointer == 0) Damaged("valeur longue tronquée" + Where());
      if (!visited.insert(pointer).second) Damaged("valeur longue en boucle" + Where());
      const auto [bytes, size] = PointedRow(pointer, longPage);
      if (size <= 4) Damaged("valeur longue tronquée" + Where());
      count(size);
      pointer = Le32(bytes);
      value.append(reinterpret_cast<const char*>(bytes + 4), std::min(size - 4, length - value.size()));
    }
    return value;
  }

  // A Decimal: a sign byte, then a 96-bit (in 128) unsigned integer kept as
  // four little-endian 32-bit words, most significant first, scaled by
  // 10^scale. Converted to the nearest Double through its decimal text.
  Value Decimal(const unsigned char* bytes, int scale) const {
    unsigned __int128 mantissa = 0;
    for (int word = 0; word < 4; ++word) mantissa = mantissa << 32 | Le32(bytes + 1 + 4 * word);
    std::string digits;
    do {
      digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(mantissa % 10)));
      mantissa /= 10;
    } while (mantissa != 0);
    if (scale > 0) {
      const auto places = static_cast<std::size_t>(scale);
      if (digits.size() <= places) digits.insert(0, places + 1 - digits.size(), '0');
      digits.insert(digits.size() - places, 1, ',');
    }
    if (bytes[0] != 0) digits.insert(digits.begin(), '-');
    Value value;
    if (TextToValue(digits, kDouble, value) != Conversion::kOk) Damaged("valeur décimale illisible" + Where());
    return value;
  }

  void Decode(const Column& column, FieldType type, const Slice& slice, Value& out) {
    if (column.type == kJetBoolean) {
      out = Value::Integer(kBoolean, slice.isNull ? 0 : 1);
      return;
    }
    if (slice.isNull) {
      out = Value::Null(type);
      return;
    }
    const unsigned char* bytes = slice.bytes;
    auto need = [&](std::size_t size) {
      if (slice.size < size) Damaged("valeur tronquée du champ « " + column.name + " »" + Where());
    };
    switch (column.type) {
      case kJetByte:
        need(1);
        out = Value::Integer(kByte, bytes[0]);
        break;
      case kJetInteger:
        need(2);
        out = Value::Integer(kInteger, static_cast<std::int16_t>(Le16(bytes)));
        break;
      case kJetLong:
        need(4);
        out = Value::Integer(kLong, static_cast<std::int32_t>(Le32(bytes)));
        break;
      case kJetCurrency:  // ten-thousandths, as the engine keeps them
        need(8);
        out = Value::Integer(kCurrency, static_cast<std::int64_t>(Le64(bytes)));
        break;
      case kJetSingle: {
        need(4);
        const std::uint32_t bits = Le32(bytes);
        float number;
        std::memcpy(&number, &bits, sizeof number);
        out = Value::Real(kSingle, number);
        break;
      }
      case kJetDouble:
      case kJetDate: {  // a date is days since 30/12/1899, as in the engine
        need(8);
        const std::uint64_t bits = Le64(bytes);
        double number;
        std::memcpy(&number, &bits, sizeof number);
        out = Value::Real(type, number);
        break;
      }
      case kJetDecimal:
        need(17);
        out = Decimal(bytes, column.scale);
        break;
      case kJetGuid:
        need(16);
        out = Value::Text(kGuid, GuidText(bytes));
        break;
      case kJetText:
        out = Value::Text(kText, Text(bytes, slice.size));
        break;
      case kJetMemo: {
        const std::string stored = LongValue(slice);
        out = Value::Text(kMemo, Text(reinterpret_cast<const unsigned char*>(stored.data()), stored.size()));
        break;
      }
      case kJetOle:
        out = Value::Text(kLongBinary, LongValue(slice));
        break;
      default:  // binary
        out = Value::Text(type, std::string(reinterpret_cast<const char*>(bytes), slice.size));
        break;
    }
  }

  // The engine's field for a stored column; 3343 for a type it has none for.
  FieldDef FieldOf(const Column& column, const std::string& tableName) const {
    FieldDef field;
    field.name = column.name;
    switch (column.type) {
      case kJetBoolean: field.type = kBoolean; field.size = 1; break;
      case kJetByte: field.type = kByte; field.size = 1; break;
      case kJetInteger: field.type = kInteger; field.size = 2; break;
      case kJetLong: field.type = kLong; field.size = 4; break;
      case kJetCurrency: field.type = kCurrency; field.size = 8; break;
      case kJetSingle: field.type = kSingle; field.size = 4; break;
      case kJetDouble: field.type = kDouble; field.size = 8; break;
      case kJetDecimal:
        if (column.scale > 28 || column.precision > 28 || column.scale > column.precision) {
          Damaged("précision du champ « " + tableName + "." + field.name + " » incohérente");
        }
        field.type = kDouble;
        field.size = 8;
        break;
      case kJetDate: field.type = kDate; field.size = 8; break;
      case kJetOle: field.type = kLongBinary; field.size = 0; break;
      case kJetMemo: field.type = kMemo; field.size = 0; break;
      case kJetGuid: field.type = kGuid; field.size = 16; break;
      case kJetText:
        // Jet 4 keeps the size in bytes of UTF-16 text: two per character.
        field.type = kText;
        field.size = std::clamp(layout->jet4 ? column.length / 2 : static_cast<int>(column.length), 1, 255);
        break;
      case kJetBinary:
        // The engine's fixed binary holds up to 255 bytes; longer ones become long binary.
        field.type = column.length > 255 ? kLongBinary : kBinary;
        field.size = column.length > 255 ? 0 : std::max<int>(column.length, 1);
        break;
      default:
        Unrecognized("le champ « " + tableName + "." + field.name + " » est d'un type que le moteur ne lit pas (" +
                     std::to_string(column.type) + ")");
    }
    return field;
  }

  // Starts reading the rows of the open table from its first data page.
  void Rewind() {
    pages = UsedPages(table.usedPages);
    pageIndex = 0;
    rowIndex = 0;
    rowsOnPage = 0;
    rowsRead = 0;
    longBytes = 0;
  }

  // The next row of the open table as slices; false after the last one, once
  // the count read matches the count its definition keeps.
  bool NextSlices() {
    const Layout& l = *layout;
    while (true) {
      while (rowIndex >= rowsOnPage) {
        if (pageIndex >= pages.size()) {
          if (rowsRead != table.rowCount) {
            Damaged(std::to_string(rowsRead) + " lignes lues au lieu de " + std::to_string(table.rowCount) + Where());
          }
          return false;
        }
        ReadPage(pages[pageIndex++], page);
        rowIndex = 0;
        rowsOnPage = 0;
        // Pages of the map that hold another table's rows (or none) are passed.
        if (page[0] == 0x01 && Le32(page.data() + 4) == table.definitionPage) {
          rowsOnPage = Le16(page.data() + l.dataRowCount);
        }
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
      if (rowsRead == table.rowCount) Damaged("plus de lignes que n'en compte la définition" + Where());
      ++rowsRead;
      Crack(row, size, table, slices);
      return true;
    }
  }

  // Reads the catalog: every row of MSysObjects that is a user table.
  void ReadCatalog() {
    table = ReadDefinition(2, "MSysObjects");
    open = false;
    auto find = [&](const std::string& name) {
      for (std::size_t position = 0; position < table.columns.size(); ++position) {
        if (table.columns[position].name == name) return position;
      }
      Damaged("catalogue sans champ " + name);
    };
    const std::size_t id = find("Id");
    const std::size_t name = find("Name");
    const std::size_t type = find("Type");
    const std::size_t flags = find("Flags");
    std::size_t properties = table.columns.size();
    for (std::size_t position = 0; position < table.columns.size(); ++position) {
      if (table.columns[position].name == "LvProp" && table.columns[position].type == kJetOle) properties = position;
    }
    Rewind();
    Value idValue, nameValue, typeValue, flagsValue, propertiesValue;
    while (NextSlices()) {
      Decode(table.columns[type], kInteger, slices[type], typeValue);
      Decode(table.columns[flags], kLong, slices[flags], flagsValue);
      // Type 1 is a local table; flags 0x80000000 and 0x2 mark system tables.
      if (typeValue.isNull || (typeValue.integer & 0x7F) != 1) continue;
      if (!flagsValue.isNull && (static_cast<std::uint32_t>(flagsValue.integer) & 0x80000002u) != 0) continue;
      Decode(table.columns[id], kLong, slices[id], idValue);
      Decode(table.columns[name], kText, slices[name], nameValue);
      if (idValue.isNull || nameValue.isNull || nameValue.text.empty()) Damaged("catalogue illisible");
      if (properties < table.columns.size()) {
        Decode(table.columns[properties], kLongBinary, slices[properties], propertiesValue);
      }
      tables.push_back({nameValue.text, static_cast<std::uint32_t>(idValue.integer) & 0xFFFFFF,
                        properties < table.columns.size() ? std::move(propertiesValue.text) : std::string()});
    }
    std::set<std::uint32_t> definitions;
    for (const CatalogEntry& entry : tables) {
      if (!definitions.insert(entry.definitionPage).second) Damaged("deux tables de même définition dans le catalogue");
    }
  }

  // The fields whose property Required is true, from a table's properties:
  // after "KKD\0" (Jet 3) or "MR2\0" (Jet 4), blocks of a 32-bit length and a
  // 16-bit type. Type 0x80 lists the property names (16-bit length, name);
  // types 0 (the table) and 1 (one field) give a 32-bit length, the object's
  // name, then its properties: 16-bit length, DDL flag, data type, 16-bit
  // index of the name, 16-bit value size, value.
  std::set<std::string> RequiredFields(const std::string& blob, const std::string& tableName) const {
    std::set<std::string> required;
    if (blob.empty()) return required;
    const auto* bytes = reinterpret_cast<const unsigned char*>(blob.data());
    const std::size_t size = blob.size();
    auto damaged = [&] { Damaged("propriétés de la table « " + tableName + " » illisibles"); };
    if (size < 4 || (blob.compare(0, 4, std::string_view("KKD\0", 4)) != 0 &&
                     blob.compare(0, 4, std::string_view("MR2\0", 4)) != 0)) {
      damaged();
    }
    std::vector<std::string> names;
    for (std::size_t block = 4; block < size;) {
      if (size - block < 6) damaged();
      const std::size_t blockSize = Le32(bytes + block);
      const std::uint16_t type = Le16(bytes + block + 4);
      if (blockSize < 6 || blockSize > size - block) damaged();
      const std::size_t end = block + blockSize;
      std::size_t at = block + 6;
      if (type == 0x80) {
        while (at < end) {
          if (end - at < 2) damaged();
          const std::size_t nameSize = Le16(bytes + at);
          if (end - at - 2 < nameSize) damaged();
          names.push_back(Text(bytes + at + 2, nameSize));
          at += 2 + nameSize;
        }
      } else if (type == 0x00 || type == 0x01) {
        if (end - at < 6) damaged();
        const std::size_t nameSize = Le16(bytes + at + 4);
        if (end - at - 6 < nameSize) damaged();
        const std::string object = Text(bytes + at + 6, nameSize);
        at += 6 + nameSize;
        while (at < end) {
          if (end - at < 8) damaged();
          const std::size_t entrySize = Le16(bytes + at);
          const std::size_t nameIndex = Le16(bytes + at + 4);
          const std::size_t valueSize = Le16(bytes + at + 6);
          if (entrySize < 8 || entrySize > end - at || valueSize > entrySize - 8) damaged();
          if (type == 0x01 && nameIndex < names.size() && names[nameIndex] == "Required" && valueSize >= 1 &&
              bytes[at + 8] != 0) {
            required.insert(object);
          }
          at += entrySize;
        }
      }
      block = end;
    }
    return required;
  }
};

JetReader::JetReader(const std::string& path) : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.path = path;
  state.file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (state.file < 0) {
    throw EngineError(3051, "Le moteur de base de données ne peut pas ouvrir le fichier « " + path + " ».");
  }
  state.ReadHeader();
  state.ReadCatalog();
}

JetReader::~JetReader() = default;

std::size_t JetReader::TableCount() const { return state_->tables.size(); }

const JetTableDef& JetReader::OpenTable(std::size_t position) {
  State& state = *state_;
  const State::CatalogEntry& entry = state.tables.at(position);
  const std::string& name = entry.name;
  state.open = false;
  state.table = state.ReadDefinition(entry.definitionPage, name);
  state.open = true;
  state.def = JetTableDef{};
  state.def.name = name;
  state.def.storedRowCount = state.table.rowCount;
  const std::set<std::string> required = state.RequiredFields(entry.properties, name);
  bool anyRequired = false;
  for (const Column& column : state.table.columns) {
    state.def.fields.push_back(state.FieldOf(column, name));
    state.def.fields.back().required = column.type != kJetBoolean && required.count(column.name) != 0;
    anyRequired = anyRequired || state.def.fields.back().required;
  }
  state.def.indexes = state.table.indexes;
  state.Rewind();
  if (anyRequired) {
    // Access lets a field become required without checking the rows already
    // there: one holding a Null keeps the field not required, so that every
    // row can still be read as it is.
    while (state.NextSlices()) {
      for (std::size_t position = 0; position < state.slices.size(); ++position) {
        if (state.slices[position].isNull) state.def.fields[position].required = false;
      }
    }
    state.Rewind();
  }
  return state.def;
}

bool JetReader::NextRow(std::vector<Value>& row) {
  State& state = *state_;
  if (!state.open || !state.NextSlices()) return false;
  row.resize(state.table.columns.size());
  for (std::size_t position = 0; position < row.size(); ++position) {
    state.Decode(state.table.columns[position], state.def.fields[position].type, state.slices[position], row[position]);
  }
  return true;
}

}  // namespace dbengine
