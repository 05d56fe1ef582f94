// SPDX-License-Identifier: Apache-2.0
// The statements that read and write rows: values converted between the
// dialect's literals, recordset strings and SQLite columns; INSERT (one
// prepared insert per table, with the engine's own Null checks), DELETE with
// its conditions, and the SELECT behind a recordset. Each of these is one
// SQLite step, atomic on its own: a failing one undoes only itself, inside an
// explicit transaction too (SQLite's statement journal).
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include "errors.h"
#include "storage.h"
#include "stored_value.h"

namespace dbengine {
namespace {

void CheckTextLength(const Value& value, const FieldDef& field) {
  // A text has at most as many characters as bytes: most need no count.
  if (value.isNull || value.text.size() <= static_cast<std::size_t>(field.size)) return;
  const bool tooLong = (field.type == kText && Utf8Length(value.text) > static_cast<std::size_t>(field.size)) ||
                       (field.type == kBinary && value.text.size() > static_cast<std::size_t>(field.size));
  if (tooLong) {
    throw errors::FieldTooSmall(field.name);
  }
}

}  // namespace

void BindValue(sqlite3_stmt* statement, int slot, const Value& value, sqlite3_destructor_type lifetime) {
  if (value.isNull) {
    sqlite3_bind_null(statement, slot);
    return;
  }
  switch (value.type) {
    case kBoolean:
    case kByte:
    case kInteger:
    case kLong:
    case kCurrency:
    case kBigInt:
      sqlite3_bind_int64(statement, slot, value.integer);
      break;
    case kSingle:
    case kDouble:
    case kDate:
      sqlite3_bind_double(statement, slot, value.real);
      break;
    case kBinary:
    case kLongBinary:
      sqlite3_bind_blob64(statement, slot, value.text.data(), value.text.size(), lifetime);
      break;
    default:
      sqlite3_bind_text64(statement, slot, value.text.data(), value.text.size(), lifetime, SQLITE_UTF8);
      break;
  }
}

// Conversions between statement literals, strings and stored columns.

void ConvertLiteral(const Literal& literal, const FieldDef& field, Value& out) {
  out.type = field.type;
  out.isNull = true;
  out.text.clear();
  Conversion result = Conversion::kOk;
  switch (literal.kind) {
    case Literal::kNull:
      return;
    case Literal::kText:
      result = TextToValue(literal.text, field.type, out);
      break;
    case Literal::kBoolean:
      if (field.type == kBoolean) {
        out = Value::Integer(kBoolean, literal.truth ? 1 : 0);
      } else if (field.type == kText || field.type == kMemo) {
        out = Value::Text(field.type, literal.truth ? "Vrai" : "Faux");
      } else {
        result = TextToValue(literal.truth ? "-1" : "0", field.type, out);
      }
      break;
    case Literal::kNumber: {
      if (field.type == kText || field.type == kMemo) {
        out = Value::Text(field.type, literal.text);
        break;
      }
      // A bare number is written with a dot; the converter reads the comma form.
      std::string french = literal.text;
      std::replace(french.begin(), french.end(), '.', ',');
      if (field.type == kDate) {
        Value serial;
        result = TextToValue(french, kDouble, serial);
        if (result == Conversion::kOk) out = Value::Real(kDate, serial.real);
      } else {
        result = TextToValue(french, field.type, out);
      }
      break;
    }
  }
  if (result == Conversion::kOverflow) {
    throw errors::NumericOverflow(field.name);
  }
  if (result != Conversion::kOk) {
    throw errors::LiteralMismatch(literal.text, field.name);
  }
  CheckTextLength(out, field);
}

void ConvertString(std::string_view text, const FieldDef& field, Value& out) {
  const Conversion result = TextToValue(text, field.type, out);
  if (result == Conversion::kOverflow) {
    throw errors::NumericOverflow(field.name);
  }
  if (result != Conversion::kOk) {
    throw errors::ConversionFailed(text, field.name);
  }
  CheckTextLength(out, field);
}


bool ReadColumn(sqlite3_stmt* statement, int column, const FieldDef& field, Value& out) {
  // One call for the column; the value's own accessors then neither lock nor
  // check the statement again (the connection is used by one thread at a time).
  return TakeStored(StoredOf(sqlite3_column_value(statement, column)), field, &out);
}

bool StoredValueFits(sqlite3_value* value, const FieldDef& field) { return TakeStored(StoredOf(value), field, nullptr); }

void RefuseStoredValue(sqlite3_stmt* statement, int column, const std::string& table, const FieldDef& field,
                       std::uint64_t row) {
  std::string stored;
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
      stored = "l'entier " + std::to_string(sqlite3_column_int64(statement, column));
      break;
    case SQLITE_FLOAT: {
      char digits[32];
      const auto written = std::to_chars(digits, digits + sizeof digits, sqlite3_column_double(statement, column));
      stored = "le réel " + std::string(digits, written.ptr);
      break;
    }
    case SQLITE_BLOB:
      stored = "une valeur binaire de " + std::to_string(sqlite3_column_bytes(statement, column)) + " octets";
      break;
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
      const std::string_view whole(text != nullptr ? text : "", sqlite3_column_bytes(statement, column));
      // At most 40 characters, control characters shown as \xHH.
      std::string shown;
      std::size_t characters = 0;
      std::size_t at = 0;
      for (; at < whole.size(); ++at) {
        const auto byte = static_cast<unsigned char>(whole[at]);
        if ((byte & 0xC0) != 0x80 && ++characters > 40) break;
        if (byte < 0x20 || byte == 0x7F) {
          static constexpr char kHex[] = "0123456789ABCDEF";
          shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
        } else {
          shown.push_back(static_cast<char>(byte));
        }
      }
      const bool cut = at < whole.size();
      stored = "le texte « " + shown + (cut ? "… »" : " »");
      break;
    }
  }
  throw errors::StoredValue(table, field.name, DescribeFieldType(field.type, field.size), row, stored);
}

void Storage::CheckRow(const TableInfo& table, const std::vector<Value>& row) {
  const TableDef& def = table.def;
  for (int position : table.primaryPositions) {
    if (position >= 0 && row[position].isNull) {
      throw errors::NullInIndexField(def.Fields(static_cast<std::int16_t>(position)).name);
    }
  }
  for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
    if (def.Fields(position).required && row[position].isNull) {
      throw errors::RequiredFieldNull(def.Name() + "." + def.Fields(position).name);
    }
  }
}

void Storage::InsertRow(TableInfo& table, const std::vector<Value>& row) {
  const TableDef& def = table.def;
  CheckRow(table, row);
  if (table.insertAll == nullptr) {
    std::string sql = "INSERT INTO " + table.quotedName + " VALUES(";
    for (std::int16_t position = 0; position < def.FieldCount(); ++position) sql += position ? ",?" : "?";
    sql += ")";
    const int rc = sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &table.insertAll, nullptr);
    if (rc != SQLITE_OK) Fail(rc);
  }
  BeginWrite();
  sqlite3_stmt* insert = table.insertAll;
  for (std::size_t position = 0; position < row.size(); ++position) {
    // Not copied: every slot is bound again before each step.
    BindValue(insert, static_cast<int>(position) + 1, row[position], SQLITE_STATIC);
  }
  const int rc = sqlite3_step(insert);
  sqlite3_reset(insert);
  if (rc != SQLITE_DONE) FailWrite(rc);
}

void Storage::InsertRows(TableInfo& table, const std::vector<std::vector<Value>>& rows, std::size_t count) {
  if (count < kInsertBatchRows) {
    for (std::size_t index = 0; index < count; ++index) InsertRow(table, rows[index]);
    return;
  }
  const std::size_t fieldCount = static_cast<std::size_t>(table.def.FieldCount());
  if (table.insertBatch == nullptr) {
    std::string one = "(";
    for (std::size_t position = 0; position < fieldCount; ++position) one += position ? ",?" : "?";
    one += ")";
    std::string sql = "INSERT INTO " + table.quotedName + " VALUES" + one;
    for (std::size_t index = 1; index < kInsertBatchRows; ++index) sql += "," + one;
    const int rc = sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &table.insertBatch, nullptr);
    if (rc != SQLITE_OK) Fail(rc);
  }
  BeginWrite();
  sqlite3_stmt* insert = table.insertBatch;
  int slot = 1;
  for (std::size_t index = 0; index < count; ++index) {
    for (std::size_t position = 0; position < fieldCount; ++position) {
      BindValue(insert, slot++, rows[index][position], SQLITE_STATIC);
    }
  }
  const int rc = sqlite3_step(insert);
  sqlite3_reset(insert);
  if (rc != SQLITE_DONE) FailWrite(rc);
}

std::string Storage::BuildWhere(TableInfo& table, const std::vector<Condition>& where,
                                std::vector<Value>& bound) {
  std::string sql;
  for (const Condition& condition : where) {
    const int position = table.def.FieldPosition(condition.column);
    if (position < 0) {
      throw errors::TooFewParameters(condition.column, table.def.Name());
    }
    const FieldDef& field = table.def.Fields(static_cast<std::int16_t>(position));
    Value value;
    ConvertLiteral(condition.value, field, value);
    sql += sql.empty() ? " WHERE " : " AND ";
    sql += Quote(field.name);
    // A comparison with Null is never true, as in the original engine.
    sql += value.isNull ? "=NULL" : "=?";
    if (!value.isNull) bound.push_back(std::move(value));
  }
  return sql;
}

void Storage::Execute(std::string_view text) {
  Statement& statement = parsed_;
  ParseStatement(text, statement);
  // Every other statement would change the database: refused before anything is read.
  if (statement.kind != Statement::kSelect) RefuseIfReadOnly();
  switch (statement.kind) {
    case Statement::kSelect:
      throw errors::SelectNotExecutable();
    case Statement::kInsert: {
      TableInfo& table = TableCopyingFromAccess(statement.table, 3078);
      const TableDef& def = table.def;
      const std::size_t fieldCount = static_cast<std::size_t>(def.FieldCount());
      row_.resize(fieldCount);
      for (std::size_t position = 0; position < fieldCount; ++position) {
        row_[position] = Value::Null(def.Fields(static_cast<std::int16_t>(position)).type);
      }
      if (statement.columns.empty()) {
        if (statement.values.size() != fieldCount) {
          throw errors::ValueCountMismatch();
        }
        for (std::size_t position = 0; position < fieldCount; ++position) {
          ConvertLiteral(statement.values[position], def.Fields(static_cast<std::int16_t>(position)),
                         row_[position]);
        }
      } else {
        if (statement.values.size() != statement.columns.size()) {
          throw errors::ValueCountMismatch();
        }
        for (std::size_t index = 0; index < statement.columns.size(); ++index) {
          const int position = def.FieldPosition(statement.columns[index]);
          if (position < 0) {
            throw errors::UnknownInsertField(statement.columns[index]);
          }
          ConvertLiteral(statement.values[index], def.Fields(static_cast<std::int16_t>(position)), row_[position]);
        }
      }
      InsertRow(table, row_);
      return;
    }
    case Statement::kDelete: {
      TableInfo& table = TableCopyingFromAccess(statement.table, 3078);
      std::vector<Value> bound;
      const std::string sql = "DELETE FROM " + table.quotedName + BuildWhere(table, statement.where, bound);
      BeginWrite();
      sqlite3_stmt* remove = Cached(sql);
      for (std::size_t slot = 0; slot < bound.size(); ++slot) BindValue(remove, static_cast<int>(slot) + 1, bound[slot]);
      const int rc = sqlite3_step(remove);
      sqlite3_reset(remove);
      if (rc != SQLITE_DONE) FailWrite(rc);
      return;
    }
    default:
      RunDefinition(statement);
      return;
  }
}

std::unique_ptr<Cursor> Storage::OpenCursor(std::string_view source, RecordsetType type) {
  std::string sql;
  std::vector<Value> bound;
  TableInfo* table = nullptr;
  if (type == RecordsetType::kTable) {
    // Every row of an Access table in stored order needs no working copy.
    if (std::optional<JetRows> rows = OpenJetRows(source)) {
      return std::make_unique<Cursor>(shared_from_this(), std::move(*rows), type);
    }
    table = &TableCopyingFromAccess(source, 3078);
    sql = "SELECT * FROM " + table->quotedName;
  } else {
    Statement statement;
    ParseStatement(source, statement);
    if (statement.kind != Statement::kSelect) {
      throw errors::OnlySelectOpensRecordset();
    }
    if (statement.where.empty() && statement.columns.empty()) {
      if (std::optional<JetRows> rows = OpenJetRows(statement.table)) {
        return std::make_unique<Cursor>(shared_from_this(), std::move(*rows), type);
      }
    }
    table = &TableCopyingFromAccess(statement.table, 3078);
    sql = "SELECT * FROM " + table->quotedName + BuildWhere(*table, statement.where, bound);
    for (const std::string& column : statement.columns) {
      const int position = table->def.FieldPosition(column);
      if (position < 0) {
        throw errors::TooFewParameters(column, table->def.Name());
      }
      sql += (&column == &statement.columns.front() ? " ORDER BY " : ", ") +
             Quote(table->def.Fields(static_cast<std::int16_t>(position)).name);
    }
  }
  sqlite3_stmt* select = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &select, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
  for (std::size_t slot = 0; slot < bound.size(); ++slot) BindValue(select, static_cast<int>(slot) + 1, bound[slot]);
  return std::make_unique<Cursor>(shared_from_this(), *table, select, type);
}

}  // namespace dbengine
