// SPDX-License-Identifier: Apache-2.0
// vidange compare over the transfer module's table comparison, by value. Both
// databases are opened read-only, each in one reading transaction, so that
// each table is read as one state of its file.
#include "cli/compare_command.h"

#include "cli/command.h"
#include "cli/progress_reporter.h"
#include "dbengine/dbengine.h"

void PrintDifferences(std::FILE* out, const std::string& prefix, const RowDifferences& differences) {
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

int RunCompare(const CompareOptions& options) {
  const std::unique_ptr<dbengine::Progress> progress = MakeProgressReporter(options.quiet);
  dbengine::Database first;
  dbengine::Database second;
  RowDifferences differences;
  try {
    first.Open(options.base, options.connect, dbengine::OpenMode::kReadOnly);
    first.BeginTrans();
    second.Open(options.otherBase, options.connect, dbengine::OpenMode::kReadOnly);
    second.BeginTrans();
    differences = CompareTables(first, options.table, second,
                                options.otherTable.empty() ? options.table : options.otherTable, progress.get());
  } catch (const dbengine::Error& error) {
    std::fprintf(stderr, "ERR%d:%s\n", static_cast<int>(error.Number()), cli::Printable(error.Description()).c_str());
    // A value that does not fit its field: the tables are read, and are not what they should be.
    return error.Number() == dbengine::kErrStoredValue ? 1 : 2;
  }
  PrintDifferences(stdout, "", differences);
  return differences.Identical() ? 0 : 1;
}
