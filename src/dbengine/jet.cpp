// Reading Jet 3 and Jet 4 files through libmdb.
//
// libmdb finds the tables, their columns and indexes, and walks the data
// pages (skipping deleted rows). Each row is then split with mdb_crack_row,
// which gives every field's null bit, offset and length on the page; the
// values are decoded here from those bytes. Long values (Memo, OLE) are
// followed through their LVAL pages with mdb_find_pg_row.
#include "dbengine/jet.h"

// glib first: mdbtools.h includes it inside an extern "C" block, where its
// C++ parts would not compile.
#include <glib.h>
#include <iconv.h>
#include <mdbtools.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace dbengine {
namespace {

constexpr int kOffsetMask = 0x1fff;       // row offsets carry flags in their top bits
constexpr std::size_t kMemoHeader = 12;   // length, flags and first page of a long value
constexpr std::size_t kMaxLongValuePages = 1u << 20;

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

}  // namespace

FileFormat FormatOfHeader(std::string_view header) {
  if (header.size() >= 16 && header.substr(0, 16) == std::string_view("SQLite format 3\0", 16)) {
    return FileFormat::kSqlite;
  }
  if (header.size() > 0x14 && header.substr(4, 15) == "Standard Jet DB") {
    const unsigned char version = static_cast<unsigned char>(header[0x14]);
    if (version == MDB_VER_JET3 || version == MDB_VER_JET4) return FileFormat::kJet;
  }
  return FileFormat::kOther;
}

struct JetReader::State {
  std::string path;
  MdbHandle* mdb = nullptr;
  bool jet4 = false;
  iconv_t codePage = reinterpret_cast<iconv_t>(-1);  // Jet 3 text to UTF-8
  std::vector<MdbCatalogEntry*> tables;
  MdbTableDef* table = nullptr;
  JetTableDef def;
  std::vector<MdbColumn*> columns;
  std::vector<MdbField> fields;
  std::vector<int> scales;  // per column, for Decimal fields

  ~State() {
    if (table != nullptr) mdb_free_tabledef(table);
    if (mdb != nullptr) mdb_close(mdb);
    if (codePage != reinterpret_cast<iconv_t>(-1)) iconv_close(codePage);
  }

  [[noreturn]] void Unreadable(const std::string& detail = {}) const {
    throw EngineError(3343, "Format de base de données « " + path + " » non reconnu" +
                                (detail.empty() ? "." : " : " + detail + "."));
  }

  std::string Text(const unsigned char* bytes, std::size_t size) const {
    if (jet4) return DecodeJet4Text(bytes, size);
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
      if (error == EILSEQ) {  // a byte the code page leaves undefined
        AppendUtf8(0xFFFD, text);
        ++in;
        --inLeft;
      } else if (error == EINVAL) {  // a character cut at the end
        AppendUtf8(0xFFFD, text);
        break;
      } else if (error != 0 && error != E2BIG) {
        Unreadable("conversion du texte impossible");
      }
    }
    return text;
  }

  // The bytes of a Memo or OLE value: kept in the row (inline), in one LVAL
  // row, or in a chain of LVAL rows each starting with the next one's address.
  std::string LongValue(const unsigned char* field, std::size_t size) const {
    if (size < kMemoHeader) return {};
    const std::uint32_t header = Le32(field);
    const std::size_t length = header & 0x3FFFFFFF;
    if (header & 0x80000000u) {
      return std::string(reinterpret_cast<const char*>(field + kMemoHeader), size - kMemoHeader);
    }
    auto pageRow = static_cast<int>(Le32(field + 4));
    std::string value;
    for (std::size_t pages = 0; pageRow != 0 && value.size() < length; ++pages) {
      void* page = nullptr;
      int offset = 0;
      std::size_t rowSize = 0;
      if (pages == kMaxLongValuePages || mdb_find_pg_row(mdb, pageRow, &page, &offset, &rowSize) != 0 ||
          offset < 0 || static_cast<std::size_t>(offset) + rowSize > static_cast<std::size_t>(mdb->fmt->pg_size)) {
        Unreadable("valeur longue endommagée dans la table « " + def.name + " »");
      }
      const auto* row = static_cast<const unsigned char*>(page) + offset;
      if (header & 0x40000000u) {
        value.assign(reinterpret_cast<const char*>(row), rowSize);
        break;
      }
      if (rowSize < 4) break;
      pageRow = static_cast<int>(Le32(row));
      value.append(reinterpret_cast<const char*>(row + 4), rowSize - 4);
    }
    if (value.size() > length) value.resize(length);
    return value;
  }

  void Decode(std::size_t position, const MdbField& field, Value& out) const {
    const FieldType type = def.fields[position].type;
    const MdbColumn* column = columns[position];
    // A Boolean has no bytes: its value is the null bit (set means true).
    if (column->col_type == MDB_BOOL) {
      out = Value::Integer(kBoolean, field.is_null ? 0 : 1);
      return;
    }
    if (field.is_null) {
      out = Value::Null(type);
      return;
    }
    const unsigned char* bytes = mdb->pg_buf + field.start;
    const auto size = static_cast<std::size_t>(field.siz < 0 ? 0 : field.siz);
    if (field.start < 0 || static_cast<std::size_t>(field.start) + size > static_cast<std::size_t>(mdb->fmt->pg_size)) {
      Unreadable("ligne endommagée dans la table « " + def.name + " »");
    }
    auto need = [&](std::size_t bytesNeeded) {
      if (size < bytesNeeded) Unreadable("ligne endommagée dans la table « " + def.name + " »");
    };
    switch (column->col_type) {
      case MDB_BYTE:
        need(1);
        out = Value::Integer(kByte, bytes[0]);
        break;
      case MDB_INT:
        need(2);
        out = Value::Integer(kInteger, static_cast<std::int16_t>(bytes[0] | bytes[1] << 8));
        break;
      case MDB_LONGINT:
        need(4);
        out = Value::Integer(kLong, static_cast<std::int32_t>(Le32(bytes)));
        break;
      case MDB_MONEY:  // ten-thousandths, as the engine keeps them
        need(8);
        out = Value::Integer(kCurrency, static_cast<std::int64_t>(Le64(bytes)));
        break;
      case MDB_FLOAT: {
        need(4);
        const std::uint32_t bits = Le32(bytes);
        float number;
        std::memcpy(&number, &bits, sizeof number);
        out = Value::Real(kSingle, number);
        break;
      }
      case MDB_DOUBLE:
      case MDB_DATETIME: {  // a date is days since 30/12/1899, as in the engine
        need(8);
        const std::uint64_t bits = Le64(bytes);
        double number;
        std::memcpy(&number, &bits, sizeof number);
        out = Value::Real(type, number);
        break;
      }
      case MDB_NUMERIC:
        need(17);
        out = Decimal(bytes, scales[position]);
        break;
      case MDB_REPID:
        need(16);
        out = Value::Text(kGuid, GuidText(bytes));
        break;
      case MDB_TEXT:
        out = Value::Text(kText, Text(bytes, size));
        break;
      case MDB_MEMO: {
        const std::string stored = LongValue(bytes, size);
        out = Value::Text(kMemo, Text(reinterpret_cast<const unsigned char*>(stored.data()), stored.size()));
        break;
      }
      case MDB_OLE:
        out = Value::Text(kLongBinary, LongValue(bytes, size));
        break;
      default:  // MDB_BINARY
        out = Value::Text(type, std::string(reinterpret_cast<const char*>(bytes), size));
        break;
    }
  }

  // A Decimal field: a sign byte, then a 96-bit (in 128) unsigned integer kept
  // as four little-endian 32-bit words, most significant first, scaled by
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
    if (bytes[0] & 0x80) digits.insert(digits.begin(), '-');
    Value value;
    if (TextToValue(digits, kDouble, value) != Conversion::kOk) Unreadable("valeur décimale illisible");
    return value;
  }
};

JetReader::JetReader(const std::string& path) : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.path = path;
  state.mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
  if (state.mdb == nullptr) state.Unreadable();
  state.jet4 = state.mdb->f->jet_version == MDB_VER_JET4;
  if (state.mdb->f->jet_version != MDB_VER_JET3 && !state.jet4) state.Unreadable();
  if (!state.jet4) {
    // Jet 3 text is in the code page named in the header; Windows-1252 when
    // that one is missing or unknown to iconv.
    const unsigned codePage = state.mdb->f->code_page;
    if (codePage != 0) state.codePage = iconv_open("UTF-8", ("CP" + std::to_string(codePage)).c_str());
    if (state.codePage == reinterpret_cast<iconv_t>(-1)) state.codePage = iconv_open("UTF-8", "CP1252");
    if (state.codePage == reinterpret_cast<iconv_t>(-1)) state.Unreadable("conversion CP1252 indisponible");
  }
  if (mdb_read_catalog(state.mdb, MDB_TABLE) == nullptr) state.Unreadable();
  for (unsigned position = 0; position < state.mdb->num_catalog; ++position) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(state.mdb->catalog, position));
    if (entry->object_type == MDB_TABLE && mdb_is_user_table(entry)) state.tables.push_back(entry);
  }
}

JetReader::~JetReader() = default;

std::size_t JetReader::TableCount() const { return state_->tables.size(); }

const JetTableDef& JetReader::OpenTable(std::size_t position) {
  State& state = *state_;
  if (state.table != nullptr) {
    mdb_free_tabledef(state.table);
    state.table = nullptr;
  }
  MdbCatalogEntry* entry = state.tables.at(position);
  state.def = JetTableDef{};
  state.def.name = entry->object_name;
  state.table = mdb_read_table(entry);
  if (state.table == nullptr || mdb_read_columns(state.table) == nullptr) {
    state.Unreadable("table « " + state.def.name + " » illisible");
  }
  mdb_read_indices(state.table);
  MdbTableDef& table = *state.table;
  state.def.storedRowCount = table.num_rows;
  state.columns.clear();
  state.scales.clear();
  for (unsigned index = 0; index < table.num_cols; ++index) {
    auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table.columns, index));
    FieldDef field;
    field.name = column->name;
    switch (column->col_type) {
      case MDB_BOOL: field.type = kBoolean; field.size = 1; break;
      case MDB_BYTE: field.type = kByte; field.size = 1; break;
      case MDB_INT: field.type = kInteger; field.size = 2; break;
      case MDB_LONGINT: field.type = kLong; field.size = 4; break;
      case MDB_MONEY: field.type = kCurrency; field.size = 8; break;
      case MDB_FLOAT: field.type = kSingle; field.size = 4; break;
      case MDB_DOUBLE:
      case MDB_NUMERIC: field.type = kDouble; field.size = 8; break;
      case MDB_DATETIME: field.type = kDate; field.size = 8; break;
      case MDB_OLE: field.type = kLongBinary; field.size = 0; break;
      case MDB_MEMO: field.type = kMemo; field.size = 0; break;
      case MDB_REPID: field.type = kGuid; field.size = 16; break;
      case MDB_TEXT:
        // Jet 4 keeps the size in bytes of UTF-16 text: two per character.
        field.type = kText;
        field.size = std::clamp(state.jet4 ? column->col_size / 2 : column->col_size, 1, 255);
        break;
      case MDB_BINARY:
        // The engine's fixed binary holds up to 255 bytes; longer ones become long binary.
        field.type = column->col_size > 255 ? kLongBinary : kBinary;
        field.size = column->col_size > 255 ? 0 : std::max(column->col_size, 1);
        break;
      default:
        state.Unreadable("le champ « " + state.def.name + "." + field.name +
                         " » est d'un type que le moteur ne lit pas (" + std::to_string(column->col_type) + ")");
    }
    state.def.fields.push_back(std::move(field));
    state.columns.push_back(column);
    state.scales.push_back(column->col_scale);
  }
  if (table.indices != nullptr) {
    for (unsigned index = 0; index < table.indices->len; ++index) {
      const auto* jetIndex = static_cast<const MdbIndex*>(g_ptr_array_index(table.indices, index));
      // Type 2 marks the reference a relationship leaves on its table: no index of its own.
      if (jetIndex->index_type == 2 || jetIndex->num_keys == 0) continue;
      IndexDef definition;
      definition.name = jetIndex->name;
      definition.primary = jetIndex->index_type == 1;
      definition.unique = definition.primary || (jetIndex->flags & MDB_IDX_UNIQUE) != 0;
      for (unsigned key = 0; key < jetIndex->num_keys && key < MDB_MAX_IDX_COLS; ++key) {
        const int column = jetIndex->key_col_num[key] - 1;
        if (column < 0 || static_cast<std::size_t>(column) >= state.def.fields.size()) {
          state.Unreadable("index « " + definition.name + " » de la table « " + state.def.name + " » illisible");
        }
        definition.fields.push_back(state.def.fields[static_cast<std::size_t>(column)].name);
      }
      state.def.indexes.push_back(std::move(definition));
    }
  }
  state.fields.assign(table.num_cols, MdbField{});
  mdb_rewind_table(state.table);
  return state.def;
}

bool JetReader::NextRow(std::vector<Value>& row) {
  State& state = *state_;
  if (state.table == nullptr || !mdb_fetch_row(state.table)) return false;
  MdbHandle* mdb = state.mdb;
  // mdb_fetch_row leaves the row's page loaded and its number just behind cur_row.
  int start = 0;
  std::size_t size = 0;
  if (state.table->cur_row == 0 || mdb_find_row(mdb, static_cast<int>(state.table->cur_row) - 1, &start, &size) != 0) {
    state.Unreadable("ligne endommagée dans la table « " + state.def.name + " »");
  }
  const int count = mdb_crack_row(state.table, start & kOffsetMask, size, state.fields.data());
  if (count < 0) state.Unreadable("ligne endommagée dans la table « " + state.def.name + " »");
  row.resize(state.def.fields.size());
  for (std::size_t index = 0; index < state.def.fields.size(); ++index) {
    const MdbField& field = state.fields[index];
    const auto position = static_cast<std::size_t>(field.colnum);
    if (position >= row.size()) state.Unreadable("ligne endommagée dans la table « " + state.def.name + " »");
    state.Decode(position, field, row[position]);
  }
  return true;
}

}  // namespace dbengine
