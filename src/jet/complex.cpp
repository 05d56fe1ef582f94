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

#include "jet/state.h"

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

// An attachment's stored data: a 32-bit header length, a 32-bit flag (non-zero:
// compressed), then either a deflate stream (zlib format) or the data. The
// data itself starts with a header of its own (its length, a 32-bit word, the
// file's extension in UTF-16), then the file's bytes.
std::string Reader::State::AttachmentBytes(const std::string& stored) const {
  auto damaged = [&] { Damaged("pièce jointe illisible" + Where()); };
  if (stored.size() < 8) damaged();
  const auto* bytes = reinterpret_cast<const unsigned char*>(stored.data());
  const std::uint32_t compressed = Le32(bytes + 4);
  std::string data;
  if (compressed != 0) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) damaged();
    stream.next_in = const_cast<Bytef*>(bytes + 8);
    stream.avail_in = static_cast<uInt>(stored.size() - 8);
    char buffer[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
      stream.next_out = reinterpret_cast<Bytef*>(buffer);
      stream.avail_out = sizeof buffer;
      rc = inflate(&stream, Z_NO_FLUSH);
      data.append(buffer, sizeof buffer - stream.avail_out);
      if (data.size() > kMaxInflation * stored.size()) rc = Z_DATA_ERROR;
      if (rc == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) rc = Z_BUF_ERROR;
    }
    inflateEnd(&stream);
    if (rc != Z_STREAM_END) damaged();
  } else {
    data.assign(stored, 8, std::string::npos);
  }
  if (data.size() < 8) damaged();
  const std::size_t header = Le32(reinterpret_cast<const unsigned char*>(data.data()));
  if (header < 8 || header > data.size()) damaged();
  return data.substr(header);
}

}  // namespace jet
