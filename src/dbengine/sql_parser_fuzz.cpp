// SPDX-License-Identifier: Apache-2.0
// libFuzzer target: any byte string given as a statement must either run or
// fail with a numbered engine error — never crash, hang or corrupt memory.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "dbengine/dbengine.h"
#include "sql_parser.h"

namespace {

dbengine::Database& FuzzDatabase() {
  static dbengine::Database* database = [] {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("sql_parser_fuzz_" + std::to_string(::getpid()) + ".mdb")).string();
    std::filesystem::remove(path);
    dbengine::Database::Create(path);
    auto* opened = new dbengine::Database();
    opened->Open(path);
    opened->Execute(
        "CREATE TABLE T (A TEXT(10) NOT NULL, B LONG, C CURRENCY, D DATETIME, E BIT, F DOUBLE, G MEMO, "
        "CONSTRAINT PrimaryKey PRIMARY KEY (A, B))");
    std::atexit([] { std::filesystem::remove(path); });
    return opened;
  }();
  return *database;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  dbengine::Statement statement;
  try {
    dbengine::ParseStatement(text, statement);
  } catch (const dbengine::Error&) {
  }
  dbengine::Database& database = FuzzDatabase();
  try {
    if (text.size() >= 6 && (text[0] == 'S' || text[0] == 's')) {
      dbengine::Recordset rows = database.OpenRecordset(text);
      for (int row = 0; row < 100 && !rows.IsEOF(); ++row) rows.MoveNext();
    } else {
      database.Execute(text);
    }
  } catch (const dbengine::Error&) {
  }
  return 0;
}
