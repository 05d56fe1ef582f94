// Reading Access database files (internal): Jet 3 (Access 97) and Jet 4
// (Access 2000 to 2003) files, read page by page, never written.
//
// The reader gives each user table's definition in the engine's terms and
// then its rows, one at a time, as engine values decoded from the stored
// bytes. It checks every page number, offset and length against the file
// before following it, so a damaged file fails with an EngineError and never
// hangs or yields some of a table's rows as success; it prints nothing. What
// is read and what is refused is written in docs/jet-sources.md.
#ifndef JET_JET_H_
#define JET_JET_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/dbengine.h"

namespace dbengine {

enum class FileFormat {
  kSqlite,     // "SQLite format 3"
  kJet,        // "Standard Jet DB" or "Standard ACE DB": an Access file, for JetReader to accept or refuse
  kOther,      // anything else
};

// The format announced by the first bytes of a file (at least 32 given when
// the file has them).
FileFormat FormatOfHeader(std::string_view header);

struct JetTableDef {
  std::string name;
  std::vector<FieldDef> fields;     // definition order
  std::vector<IndexDef> indexes;    // real indexes; relationship references left out
  std::uint32_t storedRowCount = 0; // the row count kept in the table's definition
};

class JetReader {
 public:
  // Opens `path` read-only and reads its catalog. Throws EngineError 3051 when
  // the file cannot be opened, 3343 when it is no Jet 3 or Jet 4 database
  // (Access 2007 and later files among them), 3031 when it is encrypted or
  // protected by a password, and 3049 when it is damaged.
  explicit JetReader(const std::string& path);
  ~JetReader();
  JetReader(const JetReader&) = delete;
  JetReader& operator=(const JetReader&) = delete;

  // Number of user tables (system tables, linked tables and queries are left out).
  std::size_t TableCount() const;
  // Reads the definition of user table `position` (catalog order) and gets
  // ready to read its rows. The reference stays valid until the next call.
  // Throws 3049 for a damaged definition and 3343 for a field type the engine
  // has no counterpart for.
  const JetTableDef& OpenTable(std::size_t position);
  // Reads the next row of the open table into `row` (one value per field, of
  // the field's type); false after the last row. Throws 3049 when a row is
  // damaged, and at the end when the rows read are not as many as the
  // table's definition counts.
  bool NextRow(std::vector<Value>& row);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace dbengine

#endif  // JET_JET_H_
