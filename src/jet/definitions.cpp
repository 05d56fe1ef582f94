// SPDX-License-Identifier: Apache-2.0
// The catalog and the table definitions of an Access file.
//
// Page 2 holds the definition of the catalog table MSysObjects, whose rows
// name every object and give each table's first definition page. A table
// definition (page type 2) may run over several pages: a fixed block with the
// row count and the column and index counts, then the columns, their names,
// the real indexes and the logical ones. Each table's properties (its fields'
// Required) sit in the catalog row's LvProp long value. Every count is
// checked against the bytes that hold it before anything is sized from it.
#include <algorithm>
#include <set>

#include "state.h"

namespace jet {

// The definition of the table whose first definition page is `number`: the
// first page whole, then from byte 8 of each following page of the chain.
std::vector<unsigned char> Reader::State::DefinitionBytes(std::uint32_t number, const std::string& name) const {
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

StoredTable Reader::State::ReadDefinition(std::uint32_t number, const std::string& name) const {
  const std::vector<unsigned char> bytes = DefinitionBytes(number, name);
  const Layout& l = *layout;
  auto need = [&](std::size_t end) {
    if (end > bytes.size()) Damaged("définition de la table « " + name + " » tronquée");
  };
  const unsigned char* at = bytes.data();
  need(l.tdefEnd);
  StoredTable table;
  table.name = name;
  table.definitionPage = number;
  table.rowCount = Le32(at + l.tdefRowCount);
  table.varColumns = Le16(at + l.tdefVarColumns);
  table.maxColumns = Le16(at + l.tdefVarColumns - 2);  // just before the variable ones
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
    if (l.jet4) {
      column.complexId = Le32(entry + l.columnMisc);
      // ACE marks a calculated column in the byte after the flags.
      column.calculated = ace && (entry[l.columnFlags + 1] & 0xC0) == 0xC0;
    }
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
  // A column's number is its place in the rows, below the number of columns
  // a row may hold: beyond, it would read as a field added after every row.
  if (!columns.empty() && columns.back().number >= table.maxColumns) {
    Damaged("champ « " + columns.back().name + " » de numéro " + std::to_string(columns.back().number) +
            " dans la table « " + name + " » de " + std::to_string(table.maxColumns) + " colonnes");
  }
  table.columns = std::move(columns);
  // A table has fields, and at least as many variable ones counted as its
  // columns describe (deleted ones may still be counted): anything else would
  // read as a table that vanishes or texts all Null.
  if (table.columns.empty()) Damaged("définition de la table « " + name + " » sans champ");
  const auto variable = std::count_if(table.columns.begin(), table.columns.end(),
                                      [](const Column& column) { return !column.Fixed(); });
  if (static_cast<std::size_t>(variable) > table.varColumns) {
    Damaged("définition de la table « " + name + " » : " + std::to_string(table.varColumns) +
            " champs de longueur variable comptés pour " + std::to_string(variable) + " décrits");
  }

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

// The engine's field for a stored column; 3343 for a type it has none for.
Field Reader::State::FieldOf(const Column& column, const std::string& tableName) const {
  Field field;
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
      // A calculated column keeps other things where the precision and scale would be.
      if (!column.calculated &&
          (column.scale > 28 || column.precision > 28 || column.scale > column.precision)) {
        Damaged("précision du champ « " + tableName + "." + field.name + " » incohérente");
      }
      field.type = kDecimal;
      field.size = 16;
      field.precision = column.precision;
      field.scale = column.scale;
      break;
    case kJetBigInt: field.type = kBigInt; field.size = 8; break;
    // A Date when every value fits the Date type, else text (settled with the rows).
    case kJetExtendedDate: field.type = kDate; field.size = 8; break;
    // The parent's side of a complex column: the key of its values in the child table.
    case kJetComplex: field.type = kLong; field.size = 4; break;
    case kJetDate: field.type = kDate; field.size = 8; break;
    case kJetOle: field.type = kLongBinary; field.size = 0; break;
    case kJetMemo: field.type = kMemo; field.size = 0; break;
    case kJetGuid: field.type = kGuid; field.size = 16; break;
    case kJetText:
      if (column.calculated && column.length == 0) {  // a calculated long text
        field.type = kMemo;
        field.size = 0;
        break;
      }
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


// Reads the catalog: every row of MSysObjects that is a user table.
void Reader::State::ReadCatalog() {
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
    const bool system = !flagsValue.isNull && (static_cast<std::uint32_t>(flagsValue.integer) & 0x80000002u) != 0;
    Decode(table.columns[id], kLong, slices[id], idValue);
    Decode(table.columns[name], kText, slices[name], nameValue);
    if (idValue.isNull || nameValue.isNull || nameValue.text.empty()) Damaged("catalogue illisible");
    // The list of complex columns is a system table, read when a table has one.
    if (system) {
      if (nameValue.text == "MSysComplexColumns") complexColumnsPage = static_cast<std::uint32_t>(idValue.integer) & 0xFFFFFF;
      continue;
    }
    if (properties < table.columns.size()) {
      Decode(table.columns[properties], kLongBinary, slices[properties], propertiesValue);
    }
    CatalogEntry& entry = tables.emplace_back();
    entry.name = nameValue.text;
    entry.definitionPage = static_cast<std::uint32_t>(idValue.integer) & 0xFFFFFF;
    if (properties < table.columns.size()) entry.properties = std::move(propertiesValue.text);
  }
  std::set<std::uint32_t> definitions;
  for (const CatalogEntry& entry : tables) {
    if (!definitions.insert(entry.definitionPage).second) Damaged("deux tables de même définition dans le catalogue");
  }
  ReadDefinitions();
  AddComplexTables();
}

// Reads every user table's definition and its fields in the engine's terms;
// no row is read here.
void Reader::State::ReadDefinitions() {
  for (CatalogEntry& entry : tables) {
    entry.stored = ReadDefinition(entry.definitionPage, entry.name);
    const std::set<std::string> required = RequiredFields(entry.properties, entry.name);
    entry.def.name = entry.name;
    entry.def.storedRowCount = entry.stored.rowCount;
    for (const Column& column : entry.stored.columns) {
      entry.def.fields.push_back(FieldOf(column, entry.name));
      entry.def.fields.back().required = column.type != kJetBoolean && required.count(column.name) != 0;
    }
    entry.def.indexes = entry.stored.indexes;
  }
}

// The fields whose property Required is true, from a table's properties:
// after "KKD\0" (Jet 3) or "MR2\0" (Jet 4), blocks of a 32-bit length and a
// 16-bit type. Type 0x80 lists the property names (16-bit length, name);
// types 0 (the table) and 1 (one field) give a 32-bit length, the object's
// name, then its properties: 16-bit length, DDL flag, data type, 16-bit
// index of the name, 16-bit value size, value.
std::set<std::string> Reader::State::RequiredFields(const std::string& blob, const std::string& tableName) const {
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

}  // namespace jet
