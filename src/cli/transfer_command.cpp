// SPDX-License-Identifier: Apache-2.0
// vidange export and vidange import: one table transfer through the transfer
// module, its result printed as the transfer's text (ERR0 for success).
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "command.h"
#include "progress_reporter.h"
#include "dbengine/dbengine.h"
#include "transfer/VidangeTables.h"

namespace cli {
namespace {

// What their help says they do.
constexpr char kExportDescription[] =
    "Écrit toutes les lignes de TABLE dans le fichier de transfert FICHIER (remplacé\n"
    "s'il existe) et affiche le résultat : ERR0 en cas de réussite.";
constexpr char kImportDescription[] =
    "Charge les lignes du fichier de transfert FICHIER dans TABLE, en une seule\n"
    "transaction, et affiche le résultat : ERR0 en cas de réussite.";

struct TransferArguments {
  std::string path;
  std::string table;
  std::string file;
  std::string separator;  // empty: "|"
  transfer::ImportMode mode = transfer::ImportMode::kClearFirst;
  std::string password;
  bool quiet = false;
};

int Transfer(const TransferArguments& args, bool isExport) {
  dbengine::Database database;
  try {
    database.Open(args.path, Connect(args.password));
  } catch (const dbengine::Error& error) {
    return Report(error);
  }
  const std::unique_ptr<dbengine::Progress> progress = MakeProgressReporter(args.quiet);
  transfer::TransferResult result =
      isExport ? transfer::ExportTable(database, args.table, args.file, args.separator, progress.get())
               : transfer::ImportTable(database, args.table, args.file, args.mode, args.separator, progress.get());
  // The result is printed once, after the close, so that it is the last word.
  try {
    database.Close();
  } catch (const dbengine::Error& error) {
    if (result.Succeeded()) result = transfer::TransferResult::Failure(error.Number(), args.table, error.Description());
  }
  std::printf("%s\n", Printable(result.Text()).c_str());
  return result.Succeeded() ? 0 : 1;
}

// The import's --mode: its name stands for the mode's number.
CLI::Validator ImportModeNames() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        for (const auto& [name, mode] : {std::pair{"clear", transfer::ImportMode::kClearFirst},
                                         {"keep", transfer::ImportMode::kKeepExistingRows},
                                         {"append", transfer::ImportMode::kAppend}}) {
          if (value == name) {
            value = std::to_string(static_cast<int>(mode));
            return {};
          }
        }
        return "« " + value + " » inconnu (clear, keep ou append)";
      },
      "");
}

Command DeclareTransfer(CLI::App& vidange, bool isExport) {
  auto args = std::make_shared<TransferArguments>();
  CLI::App* transfer = AddCommand(vidange, isExport ? "export" : "import",
                                  isExport ? kExportDescription : kImportDescription,
                                  {{"BASE", &args->path}, {"TABLE", &args->table}, {"FICHIER", &args->file}});
  if (!isExport) {
    transfer
        ->add_option("--mode", args->mode,
                     "clear (par défaut) vide la table d'abord,\n"
                     "keep remplace les lignes de même clé\n"
                     "primaire, append ajoute seulement")
        ->type_name("clear|keep|append")
        ->transform(ImportModeNames());
  }
  transfer->add_option("--separator", args->separator, "sépare les valeurs par S au lieu de |")->type_name("S");
  AddDatabaseOptions(transfer, args->password, args->quiet);
  return {transfer,
          isExport ? "export BASE TABLE FICHIER [--separator S]"
                   : "import BASE TABLE FICHIER [--mode clear|keep|append] [--separator S]",
          [args, isExport] { return Transfer(*args, isExport); }};
}

}  // namespace

Command DeclareExport(CLI::App& vidange) { return DeclareTransfer(vidange, true); }
Command DeclareImport(CLI::App& vidange) { return DeclareTransfer(vidange, false); }

}  // namespace cli
