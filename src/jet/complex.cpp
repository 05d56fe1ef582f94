// SPDX-License-Identifier: Apache-2.0
// The complex columns of Access 2007 and later (attachments, multi-value
// lists, version-history memos) as child tables.
//
// A complex column keeps, in its table's row, a 32-bit key; its values are
// rows of a hidden "flat" table, named through the system table
// MSysComplexColumns (the column's name, its complex number, the definition
// page of the flat table and of the table it belongs to). Each flat table is
// given as a user table of its own, named after its table and column
// ("Table1_attach-data"), right after its table: its field "_<column>" holds
// the key of the parent row's column. Attachment data, stored compressed
// with deflate behind a small header, is given as the file's bytes.
#include <zlib.h>

#include <algorithm>
#include <map>

#include "state.h"

namespace jet {
namespace {

// Deflate cannot expand its input more than 1032 times: a stream that does is damaged.
constexpr std::size_t kMaxInflation = 1032;

}  // namespace

void Reader::State::AddComplexTables() {
  bool any = false;
  for (const CatalogEntry& entry : tables) {
    for (const Column& column : entry.stored.columns) any = any || column.type == kJetComplex;
  }
  if (!any) return;
  if (complexColumnsPage == 0) Damaged("catalogue sans la liste des champs complexes");
  // MSysComplexColumns: ComplexID -> (parent definition page, flat table definition page).
  table = ReadDefinition(complexColumnsPage, "MSysComplexColumns");
  open = true;
  auto find = [&](const std::string& name) {
    for (std::size_t position = 0; position < table.columns.size(); ++position) {
      if (table.columns[position].name == name) return position;
    }
    Damaged("liste des champs complexes sans champ " + name);
  };
  const std::size_t complexId = find("ComplexID");
  const std::size_t flatTable = find("FlatTableID");
  const std::size_t parentTable = find("ConceptualTableID");
  struct Complex {
    std::uint32_t parent = 0;
    std::uint32_t flat = 0;
  };
  std::map<std::uint32_t, Complex> complexes;
  Rewind();
  Value idValue, flatValue, parentValue;
  while (NextSlices()) {
    Decode(table.columns[complexId], kLong, slices[complexId], idValue);
    Decode(table.columns[flatTable], kLong, slices[flatTable], flatValue);
    Decode(table.columns[parentTable], kLong, slices[parentTable], parentValue);
    if (idValue.isNull || flatValue.isNull || parentValue.isNull) Damaged("liste des champs complexes illisible");
    complexes[static_cast<std::uint32_t>(idValue.integer)] = {static_cast<std::uint32_t>(parentValue.integer) & 0xFFFFFF,
                                                               static_cast<std::uint32_t>(flatValue.integer) & 0xFFFFFF};
  }
  open = false;

  std::vector<CatalogEntry> all;
  auto taken = [&](const std::string& name) {
    auto same = [&](const CatalogEntry& entry) { return entry.name == name; };
    return std::any_of(tables.begin(), tables.end(), same) || std::any_of(all.begin(), all.end(), same);
  };
  for (CatalogEntry& entry : tables) {
    const std::uint32_t parentPage = entry.definitionPage;
    const std::string parentName = entry.name;
    std::vector<Column> columns = entry.stored.columns;
    all.push_back(std::move(entry));
    for (const Column& column : columns) {
      if (column.type != kJetComplex) continue;
      const auto found = complexes.find(column.complexId);
      if (found == complexes.end() || found->second.parent != parentPage) {
        Damaged("champ complexe « " + parentName + "." + column.name + " » sans table de valeurs");
      }
      CatalogEntry child;
      child.name = parentName + "_" + column.name;
      for (int number = 2; taken(child.name); ++number) child.name = parentName + "_" + column.name + "_" + std::to_string(number);
      child.definitionPage = found->second.flat;
      child.stored = ReadDefinition(child.definitionPage, child.name);
      child.def.name = child.name;
      child.def.storedRowCount = child.stored.rowCount;
      bool hasName = false;
      for (const Column& flat : child.stored.columns) {
        child.def.fields.push_back(FieldOf(flat, child.name));
        hasName = hasName || flat.name == "FileName";
      }
      for (std::size_t slot = 0; slot < child.stored.columns.size(); ++slot) {
        if (hasName && child.stored.columns[slot].name == "FileData" && child.stored.columns[slot].type == kJetOle) {
          child.attachmentData = slot + 1;
        }
      }
      // The flat table's own indexes name its hidden columns; the child keeps none.
      all.push_back(std::move(child));
    }
  }
  tables = std::move(all);
}

// An attachment's stored data: a 32-bit type (0: the data as is, which Access
// keeps for files already compressed, such as JPEG or ZIP; 1: a deflate
// stream, zlib format), the 32-bit length of the data (inflated), then the
// data. The data itself starts with a header of its own (its length, a
// 32-bit word, the file's extension in UTF-16), then the file's bytes. Read
// part by part, so that no more than a page and a buffer are held, however
// far the data inflates.
std::uint64_t Reader::State::AttachmentChunks(const Slice& stored, bool sizeOnly,
                                              const std::function<void(const char*, std::size_t)>& sink) {
  auto damaged = [&](const std::string& why) { Damaged("pièce jointe illisible (" + why + ")" + Where()); };
  const std::size_t storedSize = LongValueLength(stored);
  if (storedSize < 8) damaged("en-tête tronqué");
  unsigned char head[8];
  std::size_t headSize = 0;
  bool parsed = false;
  std::uint32_t type = 0;
  std::uint64_t length = 0;  // of the data, from the stored header
  std::uint64_t data = 0;    // data bytes seen so far
  unsigned char inner[4];    // the start of the data's own header
  std::uint64_t innerSize = 0;  // its length, once known
  std::uint64_t given = 0;      // file bytes given to the sink
  bool done = false;            // sizeOnly: the size is known
  z_stream stream{};
  bool inflating = false;
  struct End {
    z_stream& stream;
    bool& inflating;
    ~End() {
      if (inflating) inflateEnd(&stream);
    }
  } end{stream, inflating};
  // The data, in order: its header, then the file's bytes.
  auto takeData = [&](const unsigned char* bytes, std::size_t size) {
    if (data + size > length) damaged("données plus longues que annoncé");
    for (; size > 0 && data < 4; --size) inner[data++] = *bytes++;
    if (data == 4 && innerSize == 0) {
      innerSize = Le32(inner);
      if (innerSize < 8 || innerSize > length) damaged("en-tête des données");
      if (sizeOnly) {
        done = true;
        return;
      }
    }
    const std::uint64_t skip = std::min<std::uint64_t>(size, innerSize > data ? innerSize - data : 0);
    data += size;
    if (size > skip) {
      sink(reinterpret_cast<const char*>(bytes + skip), size - skip);
      given += size - skip;
    }
  };
  char buffer[16384];
  int rc = Z_OK;
  LongValueChunks(stored, [&](const unsigned char* bytes, std::size_t size) {
    for (; size > 0 && headSize < 8; --size) head[headSize++] = *bytes++;
    if (headSize == 8 && !parsed) {
      parsed = true;
      type = Le32(head);
      length = Le32(head + 4);
      if (type > 1) damaged("type " + std::to_string(type));
      if (type == 0 && length > storedSize - 8) damaged("longueur au-delà de la valeur");
      if (type == 1) {
        // Deflate cannot expand its input more than 1032 times.
        if (length > kMaxInflation * (storedSize - 8)) damaged("longueur au-delà de ce que le flux peut donner");
        if (inflateInit(&stream) != Z_OK) damaged("mémoire");
        inflating = true;
      }
      if (length < 8) damaged("données tronquées");
      if (length > kLargestValue) {
        Damaged("valeur du champ « FileData » plus grande que la plus grande valeur que le moteur stocke (" +
                std::to_string(kLargestValue) + " octets)" + Where());
      }
    }
    if (size == 0) return !done;
    if (type == 0) {
      takeData(bytes, static_cast<std::size_t>(std::min<std::uint64_t>(size, length - data)));
      return !done && data < length;
    }
    if (rc == Z_STREAM_END) return false;  // what follows the stream is not data
    stream.next_in = const_cast<Bytef*>(bytes);
    stream.avail_in = static_cast<uInt>(size);
    while (!done && rc == Z_OK && (stream.avail_in > 0 || stream.avail_out == 0)) {
      stream.next_out = reinterpret_cast<Bytef*>(buffer);
      stream.avail_out = sizeof buffer;
      rc = inflate(&stream, Z_NO_FLUSH);
      if (rc == Z_BUF_ERROR && stream.avail_in == 0) rc = Z_OK;  // more input needed
      if (rc != Z_OK && rc != Z_STREAM_END) damaged("flux compressé");
      takeData(reinterpret_cast<const unsigned char*>(buffer), sizeof buffer - stream.avail_out);
    }
    return !done;
  });
  if (headSize < 8) damaged("en-tête tronqué");
  if (sizeOnly && done) return length - innerSize;
  if (type == 1 && rc != Z_STREAM_END) damaged("flux compressé tronqué");
  if (data != length || innerSize == 0) damaged("données plus courtes que annoncé");
  return given;
}

void Reader::State::Attachment(const Slice& stored, Value& out) {
  // Its size, from the start of the data alone (not counted against the file:
  // the data is read again just after).
  const std::uint64_t counted = longBytes;
  const std::uint64_t size = AttachmentChunks(stored, true, {});
  longBytes = counted;
  CountLong("FileData", size);
  out = Value::Text(kLongBinary, {});
  if (streamAbove != 0 && size > streamAbove) {
    out.streamed = true;
    out.integer = static_cast<std::int64_t>(size);
    return;
  }
  out.text.reserve(size);
  AttachmentChunks(stored, false, [&](const char* bytes, std::size_t count) { out.text.append(bytes, count); });
}

}  // namespace jet
