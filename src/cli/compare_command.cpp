// SPDX-License-Identifier: Apache-2.0
// vidange compare over the transfer module's table comparison, by value. Both
// databases are opened read-only, each in one reading transaction, so that
// each table is read as one state of its file.
#include "compare_command.h"

#include <memory>

#include "command.h"
#include "progress_reporter.h"
#include "dbengine/dbengine.h"

namespace cli {
namespace {

// What its help says it does.
constexpr char kDescription[] =
    "Compare les lignes de TABLE dans BASE à celles d'AUTRE_TABLE (par défaut le même\n"
    "nom) dans AUTRE_BASE, valeur par valeur (type et contenu exacts), et les types\n"
    "des champs. Statut 0 si elles sont identiques, 1 sinon (ou pour une valeur qui\n"
    "ne convient pas à son champ), 2 si une base ou une table ne s'ouvre pas.";

struct CompareOptions {
  std::string base;
  std::string table;
  std::string otherBase;
  std::string otherTable;  // empty: the same name as `table`
  bool quiet = false;
  std::string password;  // of both databases, or empty
};

// Compares the tables value by value: PrintDifferences on standard output.
// Returns 0 when identical, 1 otherwise and when a stored value does not fit
// its field (3421), 2 when a database cannot be opened or the tables cannot
// be compared (the error on standard error).
int RunCompare(const CompareOptions& options) {
  const std::unique_ptr<dbengine::Progress> progress = MakeProgressReporter(options.quiet);
  dbengine::Database first;
  dbengine::Database second;
  transfer::RowDifferences differences;
  try {
    first.Open(options.base, Connect(options.password), dbengine::OpenMode::kReadOnly);
    first.BeginTrans();
    second.Open(options.otherBase, Connect(options.password), dbengine::OpenMode::kReadOnly);
    second.BeginTrans();
    differences = transfer::CompareTables(first, options.table, second,
                                options.otherTable.empty() ? options.table : options.otherTable, progress.get());
  } catch (const dbengine::Error& error) {
    Report(error);
    // A value that does not fit its field: the tables are read, and are not what they should be.
    return error.Number() == dbengine::kErrStoredValue ? 1 : 2;
  }
  PrintDifferences(stdout, "", differences);
  return differences.Identical() ? 0 : 1;
}

}  // namespace

void PrintDifferences(std::FILE* out, const std::string& prefix, const transfer::RowDifferences& differences) {
  if (differences.Identical()) {
    std::fprintf(out, "%sidentique\n", prefix.c_str());
    return;
  }
  std::fprintf(out, "%smanquantes %llu, en trop %llu, différentes %llu", prefix.c_str(),
               static_cast<unsigned long long>(differences.missing), static_cast<unsigned long long>(differences.extra),
               static_cast<unsigned long long>(differences.different));
  if (!differences.fieldTypes.empty()) {
    std::fprintf(out, ", champs de type différent %zu", differences.fieldTypes.size());
  }
  std::fputc('\n', out);
  for (const std::string& field : differences.fieldTypes) std::fprintf(out, "  type différent : %s\n", field.c_str());
  for (const std::string& row : differences.missingRows) std::fprintf(out, "  manquante : %s\n", row.c_str());
  for (const std::string& row : differences.extraRows) std::fprintf(out, "  en trop : %s\n", row.c_str());
  for (const auto& [first, second] : differences.differentRows) {
    std::fprintf(out, "  différente : %s => %s\n", first.c_str(), second.c_str());
  }
}

Command DeclareCompare(CLI::App& vidange) {
  auto args = std::make_shared<CompareOptions>();
  CLI::App* compare = AddCommand(vidange, "compare", kDescription,
                                 {{"BASE", &args->base}, {"TABLE", &args->table}, {"AUTRE_BASE", &args->otherBase}});
  compare->add_option("AUTRE_TABLE", args->otherTable);
  AddDatabaseOptions(compare, args->password, args->quiet);
  return {compare, "compare BASE TABLE AUTRE_BASE [AUTRE_TABLE]", [args] { return RunCompare(*args); }};
}

}  // namespace cli
