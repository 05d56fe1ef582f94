// SPDX-License-Identifier: Apache-2.0
// Reading Access database files: Jet 3 (Access 97), Jet 4 (Access 2000 to
// 2003) and ACE (Access 2007 to 2019) files, read page by page, never written.
//
// The reader gives each user table's definition and then its rows, one at a
// time, as values decoded from the stored bytes. It checks every page number,
// offset and length against the file before following it, so a damaged file
// fails with a jet::Error and never hangs or yields some of a table's rows as
// success; it prints nothing. It knows nothing of the database engine that
// uses it, but the words both share (src/core/): field types, values,
// fields' and indexes' definitions, and numbered errors with their French
// descriptions. What is read and what is refused is written in
// docs/jet-sources.md.
#ifndef JET_JET_H_
#define JET_JET_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/definitions.h"
#include "core/error.h"
#include "core/value.h"

namespace jet {

// A refusal of the reader: the number the original engine gives to it
// (3049 damaged, 3343 not readable, 3031 password, 3051 cannot open) and a
// French description naming the file.
class Error : public core::Error {
 public:
  using core::Error::Error;
  explicit Error(core::Error error) : core::Error(std::move(error)) {}
};

// A field as read from a table's definition: the engine's definition, and
// what the file says beyond it.
struct Field : core::FieldDef {
  bool requiredWithNull = false;  // Required in the file, yet a row holds a Null: read as not required
  std::uint8_t precision = 0;  // Decimal only
  std::uint8_t scale = 0;      // Decimal only
};

// The largest long value (Memo, OLE object, attachment's file) the engine
// carries, in bytes as stored, and the most a row may hold of them together:
// more is refused as damage (3049 naming the table and the field). SQLite
// builds a row whole in memory, and a command holds a value up to four times
// over (the row, the value, its text), so that this bound keeps every command
// under 256 MiB whatever the file; a value inflated from an attachment is
// checked before inflating.
constexpr std::uint64_t kLargestValue = std::uint64_t{32} << 20;  // 32 MiB

struct TableDef {
  std::string name;
  std::vector<Field> fields;             // definition order
  std::vector<core::IndexDef> indexes;  // real indexes; relationship references left out
  std::uint32_t storedRowCount = 0;  // the row count kept in the table's definition
};

enum class FileFormat {
  kSqlite,  // "SQLite format 3"
  kJet,     // "Standard Jet DB" or "Standard ACE DB": an Access file, for the Reader to accept or refuse
  kOther,   // anything else
};

// The format announced by the first bytes of a file (at least 32 given when
// the file has them).
FileFormat FormatOfHeader(std::string_view header);

class Reader {
 public:
  // Opens `path` read-only and reads its catalog and every table's
  // definition (no row). `password` is the database password, empty when
  // none was given. Throws Error 3051 when the file cannot be opened, 3343
  // when it is no Access database this reader knows, 3031 when its password
  // is missing or wrong or its encryption unsupported, 3049 when it is
  // damaged.
  explicit Reader(const std::string& path, std::string_view password = {});
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Number of user tables (system tables, linked tables and queries are left
  // out), in catalog order.
  std::size_t TableCount() const;
  // The name of user table `position`.
  const std::string& TableName(std::size_t position) const;
  // Gets ready to read the rows of table `position` and returns its
  // definition. The reference stays valid as long as the reader.
  const TableDef& OpenTable(std::size_t position);
  // Reads the next row of the open table into `row` (one value per field, of
  // the field's type; a Decimal as its text, "-1110,554"); false after the
  // last row. Throws 3049 when a row or a page of the table is damaged.
  bool NextRow(std::vector<core::Value>& row);
  // Reads the next row of the open table as NextRow does, with every check
  // and the same errors, without giving its values; false after the last row.
  bool SkipRow();

  // From now on, long binary values (OLE objects, attachments' files) of
  // more than `threshold` bytes are given by NextRow as streamed values;
  // 0 (the default): every value whole.
  void StreamLongValues(std::size_t threshold);
  // The bytes of the streamed value in field `slot` of the row NextRow gave
  // last, to `sink` part by part (a few kilobytes at a time). Throws 3049 as
  // NextRow does.
  void ReadStreamed(std::size_t slot, const std::function<void(const char*, std::size_t)>& sink);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace jet

#endif  // JET_JET_H_
