// SPDX-License-Identifier: Apache-2.0
// Table transfer: the export of a table into a transfer file, the import of
// a transfer file into a table, and the primary-key delete of the import's
// keep-existing-rows mode.
#include "transfer/VidangeTables.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <new>
#include <utility>

#include "transfer/transfer_file.h"

namespace transfer {

namespace {

using dbengine::FieldType;

constexpr std::size_t kMaxPieces = 32767;  // the value count is 16-bit
constexpr std::int32_t kErrExpressionSyntax = 3075;
constexpr std::int32_t kErrNoSuchItem = 3265;
constexpr std::int32_t kErrDuplicateKey = 3022;

bool IsNumericCode(FieldType type) {
  return type >= dbengine::kInteger && type <= dbengine::kDouble;
}

// Failures of the database itself rather than refusals of a line's values:
// disk full or in error, the file locked, read-only or gone, no memory. The
// line is not the cause, so the import ends (and is undone) instead of
// passing over it.
bool EndsImport(std::int32_t number) {
  switch (number) {
    case 3026:  // disk full
    case 3027:  // read-only
    case 3035:  // out of memory
    case 3043:  // disk or network error
    case 3050:  // locked
    case 3051:  // cannot open the file
    case 3420:  // closed
      return true;
    default:
      return false;
  }
}

// Runs `body` and turns whatever it throws into the error of the result.
template <typename Body>
TransferResult TrapErrors(const std::string& tableName, Body&& body) {
  const auto failure = [&tableName](std::int32_t number) {
    return TransferResult::Failure(number, tableName, transfer::MakeRuntimeError(number).Description());
  };
  try {
    return body();
  } catch (const dbengine::Error& error) {
    return TransferResult::Failure(error.Number(), tableName, error.Description());
  } catch (const std::bad_alloc&) {
    return failure(transfer::kErrOutOfMemory);
  } catch (...) {
    return failure(transfer::kErrInternal);
  }
}

// The refusal of a line the file format cannot carry unchanged.
dbengine::RuntimeError UnwritableValue(const std::string& fieldName, const char* reason) {
  return dbengine::RuntimeError(transfer::kErrInvalidCall,
                                "La valeur du champ [" + fieldName + "] " + reason +
                                    " : elle ne peut pas être écrite dans le fichier de transfert");
}

// The field whose text (starting at fieldStarts[i]) holds `offset`.
std::size_t FieldAt(const std::vector<std::size_t>& fieldStarts, std::size_t offset) {
  std::size_t field = 0;
  while (field + 1 < fieldStarts.size() && fieldStarts[field + 1] <= offset) ++field;
  return field;
}

// Throws when the line would not read back as the same fields: a CR
// anywhere (a lone LF is a character of the line), or a separator occurrence
// other than the ones written between the fields. `separatorAt[i]` is where
// the separator after field i starts.
void CheckLine(std::string_view line, std::string_view separator,
               const std::vector<std::size_t>& fieldStarts,
               const std::vector<std::size_t>& separatorAt, const dbengine::TableDef& tableDef) {
  if (separator.size() == 1 && separator[0] != '\r') {
    // One byte: the line is right when it holds no CR and exactly the
    // separators written between the fields; counted in one pass.
    // Eight bytes at a time: a byte of `word ^ pattern` is zero where the
    // byte equals the pattern's; ZeroBytes sets exactly those bytes' high bit.
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    const auto zeroBytes = [](std::uint64_t x) { return ~(((x & kLow7) + kLow7) | x | kLow7); };
    const std::uint64_t markPattern = kOnes * static_cast<unsigned char>(separator[0]);
    const std::uint64_t crPattern = kOnes * static_cast<unsigned char>('\r');
    std::size_t marks = 0;
    std::uint64_t crs = 0;
    std::size_t at = 0;
    for (; at + 8 <= line.size(); at += 8) {
      std::uint64_t word;
      std::memcpy(&word, line.data() + at, 8);
      marks += static_cast<std::size_t>(((zeroBytes(word ^ markPattern) >> 7) * kOnes) >> 56);
      crs |= zeroBytes(word ^ crPattern);
    }
    for (; at < line.size(); ++at) {
      marks += line[at] == separator[0];
      crs |= line[at] == '\r';
    }
    if (crs == 0 && marks == separatorAt.size()) return;
  }
  if (const std::size_t cr = line.find('\r'); cr != std::string_view::npos) {
    const auto field = static_cast<std::int16_t>(FieldAt(fieldStarts, cr));
    throw UnwritableValue(tableDef.Fields(field).name, "contient un retour chariot");
  }
  // The reader cuts at the first occurrence from the start of each piece;
  // any occurrence found before the written separator lies inside a value
  // (or straddles its end).
  std::size_t position = 0;
  for (std::size_t field = 0; field < fieldStarts.size(); ++field) {
    const std::size_t found = line.find(separator, position);
    const bool last = field + 1 == fieldStarts.size();
    if (last ? found != std::string_view::npos : found != separatorAt[field]) {
      throw UnwritableValue(tableDef.Fields(static_cast<std::int16_t>(field)).name,
                            "contient le séparateur");
    }
    if (!last) position = found + separator.size();
  }
}

void WriteRows(dbengine::Recordset& rows, const dbengine::TableDef& tableDef,
               std::int16_t fieldCount, const std::string& separator,
               transfer::TransferFileWriter& writer, dbengine::Progress* progress) {
  std::uint64_t written = 0;
  std::string line;
  std::vector<std::size_t> fieldStarts;
  std::vector<std::size_t> separatorAt;
  line.reserve(256);
  fieldStarts.reserve(static_cast<std::size_t>(fieldCount > 0 ? fieldCount : 0));
  separatorAt.reserve(fieldStarts.capacity());
  while (!rows.IsEOF() && !rows.IsBOF()) {
    line.clear();
    fieldStarts.clear();
    separatorAt.clear();
    const std::vector<dbengine::Value>& values = rows.Row();
    for (std::int16_t field = 0; field < fieldCount; ++field) {
      const std::size_t start = line.size();
      fieldStarts.push_back(start);
      try {
        // A field the row does not have is written empty.
        if (static_cast<std::size_t>(field) < values.size()) {
          dbengine::AppendValueText(values[static_cast<std::size_t>(field)], line);
        }
      } catch (const std::bad_alloc&) {
        throw;
      } catch (...) {
        // A value that cannot be read or converted is written empty.
        line.resize(start);
      }
      if (field != fieldCount - 1) {
        separatorAt.push_back(line.size());
        line.append(separator);
      }
    }
    CheckLine(line, separator, fieldStarts, separatorAt, tableDef);
    std::size_t badOffset = 0;
    if (!writer.WriteLine(line, badOffset)) {
      const auto field = static_cast<std::int16_t>(FieldAt(fieldStarts, badOffset));
      throw UnwritableValue(tableDef.Fields(field).name,
                            "contient un caractère que Windows-1252 ne peut pas représenter");
    }
    if (progress != nullptr && ++written % dbengine::kProgressStep == 0) progress->Rows(tableDef.Name(), written);
    rows.MoveNext();
  }
}

void CheckFieldNames(const dbengine::TableDef& tableDef) {
  for (std::int16_t field = 0; field < tableDef.FieldCount(); ++field) {
    dbengine::CheckName(tableDef.Fields(field).name);
  }
}

// After a failed export the file at `filePath` would still hold the rows of
// an earlier one; it is removed, unless the export could not have replaced
// it either (a folder, a device or a pipe, a file it may not write).
void RemoveEarlierFile(const std::string& filePath) {
  // Through a link, the file it names goes: the export writes that file and
  // keeps the link.
  std::error_code error;
  const std::string file =
      std::filesystem::is_symlink(filePath, error) ? std::filesystem::canonical(filePath, error).string() : filePath;
  struct stat status;
  if (file.empty() || error || ::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      ::access(file.c_str(), W_OK) != 0) {
    return;
  }
  // A refusal is not reported: the result names the failure that ended the
  // export, which the caller must see first.
  ::unlink(file.c_str());
}

// Checks that the separator itself can stand in a line of the file.
void CheckSeparator(const std::string& separator) {
  std::vector<char> bytes(separator.size());
  std::size_t written = 0;
  std::size_t badOffset = 0;
  transfer::Cp1252Converter converter;
  if (separator.find('\r') != std::string::npos ||
      !converter.ToCp1252(separator, bytes.data(), written, badOffset)) {
    throw dbengine::RuntimeError(
        transfer::kErrInvalidCall,
        "Le séparateur ne peut pas être écrit dans le fichier de transfert");
  }
}

// The state of one import call, reused from line to line.
class Importer {
 public:
  Importer(dbengine::Database& database, const std::string& tableName, ImportMode mode,
           std::string_view separator, dbengine::Progress* progress)
      : database_(database),
        tableName_(tableName),
        mode_(mode),
        separator_(separator),
        progress_(progress) {}

  TransferResult Run(const std::string& filePath) {
    dbengine::CheckName(tableName_);
    transfer::TransferFileReader reader;
    if (mode_ == ImportMode::kClearFirst) {
      // The file is opened before the clear-first delete, so that a missing
      // or unreadable file leaves the stored rows in place; the field names
      // are checked before it too. A missing table is left for the delete
      // to report, as the statement that names it.
      reader.Open(filePath);
      if (std::optional<dbengine::TableDef> found = FindTableDef()) CheckFieldNames(*found);
    } else {
      tableDef_ = database_.TableDefs(tableName_);
      CheckFieldNames(tableDef_);
      reader.Open(filePath);
    }
    // The whole import is one transaction, begun before the delete: another
    // program's write is over before anything here starts, and an error that
    // ends the import leaves the table exactly as it was.
    database_.BeginTrans();
    try {
      if (mode_ == ImportMode::kClearFirst) database_.Execute("DELETE * FROM [" + tableName_ + "]");
      // The definition the transaction sees: another program may have made
      // the table again, its fields in another order, since it was read.
      tableDef_ = database_.TableDefs(tableName_);
      // Clearing first, the rows go in without the table's indexes, which
      // are then made once over all of them: much less work than keeping
      // them up to date row by row. A file it could not read twice keeps
      // them in place.
      const bool indexesAside = mode_ == ImportMode::kClearFirst && reader.Rewind() &&
                                database_.SetIndexesAside(tableName_);
      ImportLines(reader);
      if (indexesAside) {
        try {
          database_.MakeIndexesAgain();
        } catch (const dbengine::Error& error) {
          if (error.Number() != kErrDuplicateKey) throw;
          // Lines the indexes refuse (a key already given) went in: the
          // engine has undone the load. The file is imported again with
          // the indexes in place, each such line passed over as it is refused.
          if (!reader.Rewind()) throw;
          accepted_ = true;
          tableDef_ = database_.TableDefs(tableName_);
          ImportLines(reader);
        }
      }
      database_.CommitTrans();
    } catch (...) {
      Abandon();
      throw;
    }
    if (accepted_) return {TransferResult::kSuccess, tableName_, {}};
    return {TransferResult::kWarning, tableName_, std::string(std::string_view(kTransferWarning).substr(6))};
  }

 private:
  // Imports every line from the reader's place to the end. Read a second
  // time, the file's progress is reported only past the lines already told.
  void ImportLines(transfer::TransferFileReader& reader) {
    std::string_view line;
    std::uint64_t read = 0;
    while (reader.ReadLine(line)) {
      if (!line.empty()) ImportLine(line);
      if (progress_ != nullptr && ++read % dbengine::kProgressStep == 0 && read > reported_) {
        progress_->Rows(tableName_, read);
        reported_ = read;
      }
    }
    fallback_.reset();
  }

  std::optional<dbengine::TableDef> FindTableDef() {
    try {
      return database_.TableDefs(tableName_);
    } catch (const dbengine::EngineError& error) {
      if (error.Number() != kErrNoSuchItem) throw;
      return std::nullopt;
    }
  }

  void ImportLine(std::string_view line) {
    if (!transfer::SplitLine(line, separator_, pieces_, kMaxPieces)) {
      throw transfer::MakeRuntimeError(transfer::kErrOverflow);
    }
    const auto valueCount = static_cast<std::int16_t>(pieces_.size());
    const bool keepExisting = mode_ == ImportMode::kKeepExistingRows;
    if (keepExisting) keyValues_.resize(pieces_.size());

    // Both passes at once: the INSERT text, the key values and the raw
    // values, by the type of the field at each position. A line with more
    // pieces than fields fails here (3265), before anything is executed.
    bool quoteInNumber = false;
    statement_.assign("INSERT INTO [").append(tableName_).append("] values(");
    for (std::int16_t index = 0; index < valueCount; ++index) {
      const FieldType type = tableDef_.Fields(index).type;
      std::string_view& piece = pieces_[static_cast<std::size_t>(index)];
      if (index > 0) statement_.push_back(',');
      const std::size_t valueStart = statement_.size();
      if (type == dbengine::kBoolean) {
        piece = transfer::IsVrai(piece) ? "-1" : "0";
        statement_.append(piece);
      } else if (IsNumericCode(type)) {
        // Such a value would close its quotes early and add to the statement.
        if (piece.find('\'') != std::string_view::npos) quoteInNumber = true;
        statement_.push_back('\'');
        statement_.append(piece);
        statement_.push_back('\'');
      } else {
        transfer::AppendQuotedDoubled(piece, statement_);
      }
      if (keepExisting) {
        std::string& key = keyValues_[static_cast<std::size_t>(index)];
        if (IsNumericCode(type)) {
          key.assign(piece);
        } else {
          key.assign(statement_, valueStart, std::string::npos);
        }
      }
    }
    statement_.push_back(')');

    if (quoteInNumber) {
      // Handled as a statement the engine refused with 3075, without the
      // key delete: the fallback's conversion of the value then ends the
      // import with the stored rows untouched.
      AddThroughRecordset(valueCount);
      return;
    }
    std::optional<std::string> keyDelete;
    if (keepExisting) {
      if (!GivesEveryKeyField(valueCount)) {
        // Its key delete would match on part of the key only.
        accepted_ = false;
        return;
      }
      keyDelete = BuildPrimaryKeyDelete(tableName_, keyValues_, valueCount, tableDef_);
    }
    if (!keyDelete) {
      AddLine(valueCount);
      return;
    }
    // The key delete and the line's row are one unit: a refused line leaves
    // the stored row with its key in place.
    database_.BeginTrans();
    try {
      database_.Execute(*keyDelete);
      if (AddLine(valueCount)) {
        database_.CommitTrans();
      } else {
        database_.Rollback();
      }
    } catch (...) {
      Abandon();  // the import's own rollback follows
      throw;
    }
  }

  // Undoes the innermost transaction after an error, which is the one to
  // report: a failed rollback is passed over (a connection that cannot roll
  // back undoes the transaction when it closes).
  void Abandon() {
    fallback_.reset();
    try {
      database_.Rollback();
    } catch (const dbengine::Error&) {
    }
  }

  // Stores the line's row; false when the engine refused it (the line is
  // passed over with the warning).
  bool AddLine(std::int16_t valueCount) {
    try {
      database_.Execute(statement_);
      return true;
    } catch (const dbengine::Error& error) {
      if (error.Number() == kErrExpressionSyntax) {
        AddThroughRecordset(valueCount);
        return true;
      }
      if (EndsImport(error.Number())) throw;
      accepted_ = false;
      return false;
    }
  }

  bool GivesEveryKeyField(std::int16_t valueCount) const {
    const dbengine::IndexDef* primary = tableDef_.PrimaryIndex();
    if (primary == nullptr) return true;
    for (const std::string& name : primary->fields) {
      if (tableDef_.FieldPosition(name) >= valueCount) return false;
    }
    return true;
  }

  void AddThroughRecordset(std::int16_t valueCount) {
    accepted_ = false;
    fallback_.reset();
    fallback_.emplace(database_.OpenRecordset(tableName_, dbengine::RecordsetType::kTable));
    fallback_->AddNew();
    for (std::int16_t index = 0; index < valueCount; ++index) {
      fallback_->SetFieldValue(index, pieces_[static_cast<std::size_t>(index)]);
    }
    fallback_->Update();
  }

  dbengine::Database& database_;
  const std::string& tableName_;
  const ImportMode mode_;
  const std::string_view separator_;
  dbengine::Progress* const progress_;
  dbengine::TableDef tableDef_;
  bool accepted_ = true;
  std::uint64_t reported_ = 0;  // the last line count given to the progress
  std::vector<std::string_view> pieces_;  // the raw values, Booleans as "-1" / "0"
  std::vector<std::string> keyValues_;
  std::string statement_;
  std::optional<dbengine::Recordset> fallback_;
};

}  // namespace

ImportMode ImportModeOf(std::int16_t deleteMode) {
  switch (deleteMode) {
    case static_cast<std::int16_t>(ImportMode::kClearFirst):
      return ImportMode::kClearFirst;
    case static_cast<std::int16_t>(ImportMode::kKeepExistingRows):
      return ImportMode::kKeepExistingRows;
    default:
      return ImportMode::kAppend;
  }
}

TransferResult TransferResult::Failure(std::int32_t number, std::string table, std::string description) {
  return {number, std::move(table), std::move(description)};
}

std::string TransferResult::Text() const {
  switch (number) {
    case kSuccess:
      return kTransferSuccess;
    case kWarning:
      return "ERR-1:" + description;
    default:
      return "ERR" + std::to_string(number) + " (TABLE " + table + "):" + description;
  }
}

TransferResult ExportTable(dbengine::Database& database, const std::string& tableName, const std::string& filePath,
                           std::string_view separatorGiven, dbengine::Progress* progress) {
  const std::string separator(separatorGiven.empty() ? "|" : separatorGiven);
  bool destinationAccepted = false;
  TransferResult result = TrapErrors(tableName, [&]() -> TransferResult {
    // Before anything else: a destination the export may not replace is not
    // removed after a failure either.
    transfer::CheckExportDestination(filePath, database.IsOpen() ? database.Path() : std::string());
    destinationAccepted = true;
    dbengine::CheckName(tableName);
    dbengine::Recordset rows = database.OpenRecordset("SELECT * FROM [" + tableName + "]");
    const dbengine::TableDef tableDef = database.TableDefs(tableName);
    CheckFieldNames(tableDef);
    const std::int16_t fieldCount = tableDef.FieldCount();
    CheckSeparator(separator);
    transfer::TransferFileWriter writer;
    writer.Open(filePath);
    WriteRows(rows, tableDef, fieldCount, separator, writer, progress);
    writer.Commit();
    return {TransferResult::kSuccess, tableName, {}};
  });
  if (!result.Succeeded() && destinationAccepted) RemoveEarlierFile(filePath);
  if (progress != nullptr) progress->Done(tableName);
  return result;
}

std::string ExportTableToText(dbengine::Database& database, const std::string& tableName,
                              const std::string& filePath, std::string& separator,
                              dbengine::Progress* progress) {
  if (separator.empty()) separator = "|";
  return ExportTable(database, tableName, filePath, separator, progress).Text();
}

TransferResult ImportTable(dbengine::Database& database, const std::string& tableName, const std::string& filePath,
                           ImportMode mode, std::string_view separator, dbengine::Progress* progress) {
  TransferResult result = TrapErrors(tableName, [&] {
    Importer importer(database, tableName, mode, separator.empty() ? "|" : separator, progress);
    return importer.Run(filePath);
  });
  if (progress != nullptr) progress->Done(tableName);
  return result;
}

std::string ImportTextIntoTable(dbengine::Database& database, const std::string& tableName,
                                const std::string& filePath, std::int16_t deleteMode,
                                std::string& separator, dbengine::Progress* progress) {
  if (separator.empty()) separator = "|";
  return ImportTable(database, tableName, filePath, ImportModeOf(deleteMode), separator, progress).Text();
}

void RemoveTransferFile(const std::string& filePath) {
  if (filePath.empty()) return;
  ::unlink(filePath.c_str());
  transfer::RemoveNamedTemporariesOf(filePath);
}

std::optional<std::string> BuildPrimaryKeyDelete(const std::string& tableName,
                                                 const std::vector<std::string>& keyValues,
                                                 std::int16_t valueCount,
                                                 const dbengine::TableDef& tableDef) {
  dbengine::CheckName(tableName);
  CheckFieldNames(tableDef);
  std::string conditions;
  std::int16_t conditionCount = 0;
  for (std::int16_t index = 0; index < valueCount; ++index) {
    const dbengine::FieldDef& field = tableDef.Fields(index);
    if (!IsPrimaryKeyField(field.name, tableDef)) continue;
    if (static_cast<std::size_t>(index) >= keyValues.size()) {
      throw transfer::MakeRuntimeError(transfer::kErrSubscript);
    }
    if (conditionCount == 32767) throw transfer::MakeRuntimeError(transfer::kErrOverflow);
    conditions.append(conditionCount > 0 ? " AND " : "WHERE ");
    conditions.append("[").append(field.name).append("]=");
    const std::string& value = keyValues[static_cast<std::size_t>(index)];
    if (IsNumericCode(field.type)) {
      // Quoted like the INSERT's numbers so that the engine converts a
      // decimal comma; a quote inside stays a quote of the value.
      transfer::AppendQuotedDoubled(value, conditions);
    } else {
      conditions.append(value);
    }
    ++conditionCount;
  }
  // Without a key condition the statement would delete every row.
  if (conditionCount == 0) return std::nullopt;
  return "DELETE * FROM [" + tableName + "]  " + conditions;
}

bool IsPrimaryKeyField(const std::string& fieldName, const dbengine::TableDef& tableDef) {
  const std::int16_t indexCount = tableDef.IndexCount();
  for (std::int16_t index = 0; index < indexCount; ++index) {
    const dbengine::IndexDef& indexDef = tableDef.Indexes(index);
    if (!indexDef.primary) continue;
    for (const std::string& name : indexDef.fields) {
      if (name == fieldName) return true;
    }
  }
  return false;
}

}  // namespace transfer
