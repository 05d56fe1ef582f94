// SPDX-License-Identifier: Apache-2.0
// The rows behind a recordset: a SQLite statement stepped one row at a time,
// each row read into engine values of the fields' types, or the rows of an
// Access table read straight from the file. A table-type
// recordset also builds a new row (AddNew, SetFieldValue) and stores it
// through the same insert as an INSERT statement (Update). A cursor lives no
// longer than its connection: Close detaches it, and each call then fails
// with 3420.
#include "errors.h"
#include "storage.h"

#include <algorithm>

namespace dbengine {

Cursor::Cursor(std::shared_ptr<Storage> storage, TableInfo& table, sqlite3_stmt* statement, RecordsetType type)
    : storage_(std::move(storage)), tableName_(table.def.Name()), def_(table.def), statement_(statement), type_(type) {
  // An Access table may hold texts longer than its own field allows (Access
  // keeps such rows): they are read as stored, the field taken as wide as its
  // longest text.
  if (const std::vector<BrokenRule> broken = storage_->BrokenRules(tableName_); !broken.empty()) {
    std::vector<FieldDef> fields;
    for (std::int16_t position = 0; position < def_.FieldCount(); ++position) fields.push_back(def_.Fields(position));
    std::vector<IndexDef> indexes;
    for (std::int16_t position = 0; position < def_.IndexCount(); ++position) indexes.push_back(def_.Indexes(position));
    for (const BrokenRule& rule : broken) {
      const int position = def_.FieldPosition(rule.field);
      if (rule.longest > 0 && position >= 0) {
        FieldDef& field = fields[static_cast<std::size_t>(position)];
        field.size = std::max(field.size, static_cast<std::int32_t>(rule.longest));
      }
    }
    def_ = TableDef(def_.Name(), std::move(fields), std::move(indexes));
  }
  Start();
}

Cursor::Cursor(std::shared_ptr<Storage> storage, JetRows rows, RecordsetType type)
    : storage_(std::move(storage)), tableName_(rows.def.Name()), def_(rows.def), jetRows_(std::move(rows)), type_(type) {
  Start();
}

void Cursor::Start() {
  storage_->Register(this);
  current_.resize(static_cast<std::size_t>(def_.FieldCount()));
  try {
    Step();
  } catch (...) {
    storage_->Unregister(this);
    sqlite3_finalize(statement_);
    statement_ = nullptr;
    detached_ = true;
    throw;
  }
  bof_ = eof_;
}

Cursor::~Cursor() {
  if (!detached_) {
    sqlite3_finalize(statement_);
    storage_->Unregister(this);
  }
}

void Cursor::Detach() {
  sqlite3_finalize(statement_);
  statement_ = nullptr;
  detached_ = true;
}

void Cursor::NoLongerValid() {
  throw errors::DatabaseClosed();
}

void Cursor::Step() {
  if (jetRows_) {
    eof_ = !storage_->NextJetRow(*jetRows_, current_);
    return;
  }
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) {
    eof_ = false;
    ++rowsRead_;
    for (std::int16_t position = 0; position < def_.FieldCount(); ++position) {
      const FieldDef& field = def_.Fields(position);
      if (!ReadColumn(statement_, position, field, current_[static_cast<std::size_t>(position)])) {
        RefuseStoredValue(statement_, position, tableName_, field, rowsRead_);
      }
    }
    return;
  }
  eof_ = true;
  if (rc != SQLITE_DONE) storage_->Fail(rc);
  storage_->CheckUnchanged();
}

bool Cursor::IsEOF() const {
  CheckLive();
  return eof_;
}

bool Cursor::IsBOF() const {
  CheckLive();
  return bof_;
}

void Cursor::MoveNext() {
  CheckLive();
  if (eof_) throw errors::NoCurrentRecord();
  bof_ = false;
  Step();
}

std::int16_t Cursor::FieldCount() const {
  CheckLive();
  return def_.FieldCount();
}

const FieldDef& Cursor::Field(std::int16_t position) const {
  CheckLive();
  return def_.Fields(position);
}

const Value& Cursor::FieldValue(std::int16_t position) const {
  CheckLive();
  def_.Fields(position);  // 3265 when out of range
  if (eof_) throw errors::NoCurrentRecord();
  return current_[static_cast<std::size_t>(position)];
}

const std::vector<Value>& Cursor::Row() const {
  CheckLive();
  if (eof_) throw errors::NoCurrentRecord();
  return current_;
}

void Cursor::CheckWritable() const {
  if (type_ != RecordsetType::kTable) {
    throw errors::ReadOnlyRecordset();
  }
}

void Cursor::AddNew() {
  CheckLive();
  CheckWritable();
  storage_->RefuseIfReadOnly();
  newRow_.clear();
  for (std::int16_t position = 0; position < def_.FieldCount(); ++position) {
    newRow_.push_back(Value::Null(def_.Fields(position).type));
  }
  adding_ = true;
}

void Cursor::SetFieldValue(std::int16_t position, std::string_view text) {
  CheckLive();
  CheckWritable();
  const FieldDef& field = def_.Fields(position);
  if (!adding_) throw errors::UpdateWithoutAddNew();
  // Converted aside: a string that cannot be stored leaves the field as it was.
  Value converted;
  ConvertString(text, field, converted);
  newRow_[static_cast<std::size_t>(position)] = std::move(converted);
}

void Cursor::Update() {
  CheckLive();
  CheckWritable();
  storage_->RefuseIfReadOnly();
  if (!adding_) throw errors::UpdateWithoutAddNew();
  adding_ = false;
  TableInfo& table = storage_->TableCopyingFromAccess(tableName_, 3078);
  // The table may have been dropped and made again since the recordset opened:
  // the row built on the old fields cannot go into other ones.
  bool sameFields = table.def.FieldCount() == def_.FieldCount();
  for (std::int16_t position = 0; sameFields && position < def_.FieldCount(); ++position) {
    sameFields = table.def.Fields(position).type == def_.Fields(position).type;
  }
  if (!sameFields) {
    throw errors::TableRedefined(tableName_);
  }
  storage_->InsertRow(table, newRow_);
}

}  // namespace dbengine
