// SPDX-License-Identifier: Apache-2.0
// vidange copy SOURCE TARGET [TABLE ...]: a new engine database TARGET
// holding the named tables of SOURCE (all of them by default), or no TARGET
// at all; the tables begun and the rows copied shown on a terminal, each
// rule of the source relaxed in the copy told on a line of its own.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "dbengine/database_copy.h"
#include "dbengine/dbengine.h"

namespace cli {
namespace {

// What its help says it does.
constexpr char kDescription[] =
    "Crée la base CIBLE (refusé si le fichier existe) avec toutes les tables de\n"
    "SOURCE (une base Access ou une base du moteur), ou les seules tables nommées :\n"
    "champs, index et lignes. En cas d'échec, il ne reste pas de CIBLE.";

struct CopyArguments {
  std::string source;
  std::string target;
  std::vector<std::string> tables;  // none: every table
  std::string password;
  bool quiet = false;
};

int Copy(const CopyArguments& args) {
  const bool progress = ::isatty(STDERR_FILENO) == 1 && !args.quiet;
  dbengine::Progress shown;
  if (progress) {
    shown.table = [](const std::string& name, std::size_t position, std::size_t count) {
      std::fprintf(stderr, "\r\033[K%s (%zu/%zu)", Printable(name).c_str(), position, count);
    };
    shown.rows = [](const std::string& name, std::size_t rows) {
      std::fprintf(stderr, "\r%s : %zu lignes", Printable(name).c_str(), rows);
    };
  }
  shown.relaxed = [progress](const std::string& table, const std::string& rule) {
    if (progress) std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "Attention : table « %s », %s.\n", table.c_str(), rule.c_str());
  };
  std::string failedTable;
  try {
    dbengine::CopyDatabase(args.source, args.target, args.tables, shown, &failedTable, Connect(args.password));
  } catch (const dbengine::Error& error) {
    if (progress) std::fputs("\r\033[K", stderr);
    if (!failedTable.empty()) std::fprintf(stderr, "table « %s » non copiée : ", Printable(failedTable).c_str());
    return Report(error);
  }
  if (progress) std::fputs("\r\033[K", stderr);
  return 0;
}

}  // namespace

Command DeclareCopy(CLI::App& vidange) {
  auto args = std::make_shared<CopyArguments>();
  CLI::App* copy = AddCommand(vidange, "copy", kDescription, {{"SOURCE", &args->source}, {"CIBLE", &args->target}});
  copy->add_option("TABLE", args->tables);
  AddDatabaseOptions(copy, args->password, args->quiet);
  return {copy, "copy SOURCE CIBLE [TABLE ...]", [args] { return Copy(*args); }};
}

}  // namespace cli
