// SPDX-License-Identifier: Apache-2.0
// The public face of the engine: database handles, table definitions and
// recordsets, over the storage layer.
#include <algorithm>
#include <cstring>

#include "dbengine/dbengine.h"
#include "errors.h"
#include "storage.h"

namespace dbengine {
namespace {

// Ends a storage a handle lets go of: undoes an open transaction and ends its
// recordsets, which may still hold it. A destructor or a move cannot report a failure.
void CloseQuietly(const std::shared_ptr<Storage>& storage) noexcept {
  if (storage == nullptr) return;
  try {
    storage->Close();
  } catch (...) {
  }
}

[[noreturn]] void NoSuchItem(std::string_view what, int position) {
  throw errors::NoSuchItemAt(what, position);
}

}  // namespace

TableDef::TableDef(std::string name, std::vector<FieldDef> fields, std::vector<IndexDef> indexes)
    : name_(std::move(name)), fields_(std::move(fields)), indexes_(std::move(indexes)) {}

const FieldDef& TableDef::Fields(std::int16_t position) const {
  if (position < 0 || static_cast<std::size_t>(position) >= fields_.size()) NoSuchItem("champ", position);
  return fields_[static_cast<std::size_t>(position)];
}

const IndexDef& TableDef::Indexes(std::int16_t position) const {
  if (position < 0 || static_cast<std::size_t>(position) >= indexes_.size()) NoSuchItem("index", position);
  return indexes_[static_cast<std::size_t>(position)];
}

int TableDef::FieldPosition(std::string_view name) const {
  for (std::size_t position = 0; position < fields_.size(); ++position) {
    if (SameName(fields_[position].name, name)) return static_cast<int>(position);
  }
  return -1;
}

const IndexDef* TableDef::PrimaryIndex() const {
  for (const IndexDef& index : indexes_) {
    if (index.primary) return &index;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------

Recordset::Recordset(std::unique_ptr<Cursor> cursor) : cursor_(std::move(cursor)) {}
Recordset::Recordset(Recordset&&) noexcept = default;
Recordset& Recordset::operator=(Recordset&&) noexcept = default;
Recordset::~Recordset() = default;

bool Recordset::IsEOF() const { return cursor_->IsEOF(); }
bool Recordset::IsBOF() const { return cursor_->IsBOF(); }
void Recordset::MoveNext() { cursor_->MoveNext(); }
std::int16_t Recordset::FieldCount() const { return cursor_->FieldCount(); }
const FieldDef& Recordset::Field(std::int16_t position) const { return cursor_->Field(position); }
const Value& Recordset::FieldValue(std::int16_t position) const { return cursor_->FieldValue(position); }
const std::vector<Value>& Recordset::Row() const { return cursor_->Row(); }
void Recordset::AddNew() { cursor_->AddNew(); }
void Recordset::SetFieldValue(std::int16_t position, std::string_view text) {
  if (!IsValidUtf8(text)) {
    // Stored, such a text could be neither compared nor exported.
    throw errors::FieldTextNotUtf8(position);
  }
  cursor_->SetFieldValue(position, text);
}
void Recordset::Update() { cursor_->Update(); }

// ---------------------------------------------------------------------------

Database::Database() = default;
Database::Database(Database&&) noexcept = default;
Database& Database::operator=(Database&& other) noexcept {
  if (this != &other) {
    CloseQuietly(storage_);
    storage_ = std::move(other.storage_);
    lockWaiting_ = std::move(other.lockWaiting_);
    failAtOnceAfterLockTimeout_ = other.failAtOnceAfterLockTimeout_;
    everOpened_ = other.everOpened_;
    path_ = std::move(other.path_);
  }
  return *this;
}

// Open recordsets share the storage: close it here rather than when the last
// of them goes, so that the handle's end releases the file.
Database::~Database() { CloseQuietly(storage_); }

void Database::Open(const std::string& path, std::string_view connect, OpenMode mode) {
  if (storage_ && !storage_->IsClosed()) Close();
  storage_.reset();
  path_ = path;
  storage_ = Storage::Open(path, PasswordOf(connect), mode == OpenMode::kReadOnly);
  storage_->SetLockWait(lockWaiting_, failAtOnceAfterLockTimeout_);
  everOpened_ = true;
}

void Database::SetLockWaitCallback(std::function<void()> waiting) {
  lockWaiting_ = std::move(waiting);
  if (storage_) storage_->SetLockWait(lockWaiting_, failAtOnceAfterLockTimeout_);
}

void Database::SetFailAtOnceAfterLockTimeout(bool atOnce) {
  failAtOnceAfterLockTimeout_ = atOnce;
  if (storage_) storage_->SetLockWait(lockWaiting_, failAtOnceAfterLockTimeout_);
}

std::string PasswordOf(std::string_view connect) {
  // Parts separated by ";", each "KEY=value" or a word (the source type, such as "MS Access").
  while (!connect.empty()) {
    const std::size_t end = std::min(connect.find(';'), connect.size());
    const std::string_view part = connect.substr(0, end);
    connect.remove_prefix(std::min(end + 1, connect.size()));
    const std::size_t equals = part.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view key = part.substr(0, equals);
    while (!key.empty() && key.front() == ' ') key.remove_prefix(1);
    while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
    if (key.size() == 3 && (key[0] | 0x20) == 'p' && (key[1] | 0x20) == 'w' && (key[2] | 0x20) == 'd') {
      return std::string(part.substr(equals + 1));
    }
  }
  return {};
}

void Database::Create(const std::string& path) { Storage::Create(path); }

bool Database::IsOpen() const { return storage_ && !storage_->IsClosed(); }

const std::string& Database::Path() const { return path_; }

void Database::CheckOpen() const {
  if (!everOpened_) {
    throw RuntimeError(91, "Variable objet ou variable de bloc With non définie : la base de données "
                           "n'a pas été ouverte.");
  }
  if (!IsOpen()) {
    throw errors::DatabaseClosed();
  }
}

void Database::Execute(std::string_view statement) {
  CheckOpen();
  if (!IsValidUtf8(statement)) {
    // Refused whole, before the parser: a value cut out of such a text could
    // be stored, and then neither compared nor exported.
    throw errors::StatementNotUtf8();
  }
  storage_->Execute(statement);
}

bool Database::SetIndexesAside(std::string_view name) {
  CheckOpen();
  return storage_->SetIndexesAside(name);
}

void Database::MakeIndexesAgain() {
  CheckOpen();
  storage_->MakeIndexesAgain();
}

void Database::BeginTrans() {
  CheckOpen();
  storage_->BeginTrans();
}

void Database::CommitTrans() {
  CheckOpen();
  storage_->CommitTrans();
}

void Database::Rollback() {
  CheckOpen();
  storage_->Rollback();
}

Recordset Database::OpenRecordset(std::string_view source, RecordsetType type) {
  CheckOpen();
  return Recordset(storage_->OpenCursor(source, type));
}

void Database::ReadRows(std::string_view name, const RowVisit& visit) {
  CheckOpen();
  CheckName(name);
  if (storage_->ReadRowsInPages(name, visit)) return;
  Recordset rows = OpenRecordset("SELECT * FROM [" + std::string(name) + "]");
  std::uint64_t wanted = 0;
  for (std::uint64_t ordinal = 0; !rows.IsEOF(); rows.MoveNext(), ++ordinal) {
    if (ordinal < wanted) continue;
    wanted = visit(ordinal, rows.Row());
    if (wanted == kNoMoreRows) return;
  }
}

TableDef Database::TableDefs(std::string_view name) {
  CheckOpen();
  return storage_->Definition(name);
}

std::vector<std::string> Database::TableNames() {
  CheckOpen();
  return storage_->TableNames();
}

void Database::Close() {
  CheckOpen();
  storage_->Close();
}

// ---------------------------------------------------------------------------

void CheckName(std::string_view name) {
  if (name.find_first_of("[]") == std::string_view::npos) return;
  throw errors::BadName(name);
}

bool IsValidUtf8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t position = 0;
  while (position < size) {
    // Runs of ASCII, the common case, eight bytes at a time.
    std::uint64_t word;
    if (position + 8 <= size) {
      std::memcpy(&word, bytes + position, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        position += 8;
        continue;
      }
    }
    if (bytes[position] < 0x80) {
      ++position;
      continue;
    }
    char32_t codePoint = 0;
    const std::size_t length = DecodeUtf8(bytes + position, size - position, codePoint);
    if (length == 0) return false;
    position += length;
  }
  return true;
}

}  // namespace dbengine
