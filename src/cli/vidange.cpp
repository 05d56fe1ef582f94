// SPDX-License-Identifier: Apache-2.0
// vidange: the companion command of the installer, for support staff, tests
// and benchmarks. It runs statements on a database, shows its schema, and
// runs one table transfer (export or import), all through the same modules
// as the installer, and copies databases (an Access file into the engine's
// format among them), runs the installation without a window, verifies an
// installation and compares two tables. CLI11 reads the command line: each command declares
// its arguments and options once, beside the function that does its work;
// every command ends by checking that its output reached its destination
// (cli/command.h).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/command.h"
#include "cli/compare_command.h"
#include "cli/install_command.h"
#include "cli/progress_reporter.h"
#include "dbengine/database_copy.h"
#include "dbengine/dbengine.h"
#include "dbengine/statement.h"
#include "transfer/VidangeTables.h"

namespace {

using cli::Command;
using cli::FlushOutput;
using cli::OutputLost;
using cli::Printable;
using cli::Report;

// Set by --quiet: the commands that show their progress keep silent.
bool quiet = false;

// Declares --quiet on `command`, one of those that show their progress.
void AddQuietOption(CLI::App* command) {
  command->add_flag("--quiet", quiet, "ne montre pas la progression sur un terminal");
}

// Set by --password: the database password of the Access files a command
// opens (ignored for a database that has none).
std::string password;

// The connect string the engine takes for --password.
std::string Connect() { return password.empty() ? std::string() : ";PWD=" + password; }

// Declares --password on `command`, one of those that open a database given
// on the command line.
void AddPasswordOption(CLI::App* command) {
  command->add_option("--password", password, "le mot de passe de la base de données Access")
      ->type_name("MOT_DE_PASSE");
}

bool StartsWithSelect(std::string_view statement) {
  const std::size_t start = statement.find_first_not_of(" \t");
  if (start == std::string_view::npos || statement.size() - start < 6) return false;
  return strncasecmp(statement.data() + start, "SELECT", 6) == 0;
}

// Prints the rows of a SELECT as transfer lines in UTF-8 ended by LF; stops
// at the first line that does not reach standard output.
void PrintRows(dbengine::Database& database, std::string_view statement) {
  dbengine::Recordset rows = database.OpenRecordset(statement);
  std::string line;
  while (!rows.IsEOF()) {
    line.clear();
    for (std::int16_t position = 0; position < rows.FieldCount(); ++position) {
      if (position > 0) line.push_back('|');
      dbengine::AppendValueText(rows.FieldValue(position), line);
    }
    line.push_back('\n');
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) throw OutputLost(errno);
    rows.MoveNext();
  }
}

// Runs one statement. A SELECT's rows are flushed before the next statement
// runs, so that nothing is changed after rows were lost.
void Run(dbengine::Database& database, std::string_view statement) {
  if (StartsWithSelect(statement)) {
    PrintRows(database, statement);
    FlushOutput();
  } else {
    database.Execute(statement);
  }
}

struct SqlArguments {
  std::string path;
  bool create = false;
  bool oneTransaction = false;
  std::vector<std::string> statements;  // none: the lines of standard input
};

int Sql(const SqlArguments& args) {
  dbengine::Database database;
  try {
    if (args.create) dbengine::Database::Create(args.path);
    database.Open(args.path, Connect());
    // On a failure the handle's close undoes the transaction whole.
    if (args.oneTransaction) database.BeginTrans();
    if (!args.statements.empty()) {
      for (const std::string& statement : args.statements) Run(database, statement);
    } else {
      std::string line;
      while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line.rfind("--", 0) == 0) continue;
        Run(database, line);
      }
    }
    if (args.oneTransaction) database.CommitTrans();
    database.Close();
  } catch (const dbengine::Error& error) {
    std::fflush(stdout);
    return Report(error);
  }
  return 0;
}

struct SchemaArguments {
  std::string path;
  std::string table;
  bool oneTable = false;  // false: every table
};

int Schema(const SchemaArguments& args) {
  dbengine::Database database;
  try {
    database.Open(args.path, Connect());
    std::vector<std::string> tables;
    if (args.oneTable) {
      tables.push_back(database.TableDefs(args.table).Name());
    } else {
      tables = database.TableNames();
    }
    // Every definition is read before the first line is printed: a file
    // that fails part way prints nothing.
    std::vector<dbengine::TableDef> defs;
    for (const std::string& name : tables) defs.push_back(database.TableDefs(name));
    database.Close();
    for (const dbengine::TableDef& def : defs) {
      std::printf("table\t%s\n", def.Name().c_str());
      for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
        const dbengine::FieldDef& field = def.Fields(position);
        std::printf("field\t%s\t%d\t%s\t%d\t%d\n", def.Name().c_str(), position, field.name.c_str(),
                    static_cast<int>(field.type), static_cast<int>(field.size));
      }
      for (std::int16_t position = 0; position < def.IndexCount(); ++position) {
        const dbengine::IndexDef& index = def.Indexes(position);
        std::string fields;
        for (const std::string& field : index.fields) fields += (fields.empty() ? "" : ",") + field;
        std::printf("index\t%s\t%s\t%s\t%s\t%s\n", def.Name().c_str(), index.name.c_str(),
                    index.primary ? "primary" : "-", index.unique ? "unique" : "-", fields.c_str());
      }
    }
  } catch (const dbengine::Error& error) {
    std::fflush(stdout);
    return Report(error);
  }
  return 0;
}

struct TransferArguments {
  std::string path;
  std::string table;
  std::string file;
  std::string separator;  // empty: "|"
  ImportMode mode = ImportMode::kClearFirst;
};

int Transfer(const TransferArguments& args, bool isExport) {
  dbengine::Database database;
  try {
    database.Open(args.path, Connect());
  } catch (const dbengine::Error& error) {
    return Report(error);
  }
  const std::unique_ptr<dbengine::Progress> progress = MakeProgressReporter(quiet);
  TransferResult result =
      isExport ? ExportTable(database, args.table, args.file, args.separator, progress.get())
               : ImportTable(database, args.table, args.file, args.mode, args.separator, progress.get());
  // The result is printed once, after the close, so that it is the last word.
  try {
    database.Close();
  } catch (const dbengine::Error& error) {
    if (result.Succeeded()) result = TransferResult::Failure(error.Number(), args.table, error.Description());
  }
  std::printf("%s\n", Printable(result.Text()).c_str());
  return result.Succeeded() ? 0 : 1;
}

// copy SOURCE TARGET [TABLE ...]: a new engine database TARGET holding the
// named tables of SOURCE (all of them by default), or no TARGET at all.
struct CopyArguments {
  std::string source;
  std::string target;
  std::vector<std::string> tables;  // none: every table
};

int Copy(const CopyArguments& args) {
  const bool progress = ::isatty(STDERR_FILENO) == 1 && !quiet;
  dbengine::Progress shown;
  if (progress) {
    shown.table = [](const std::string& name, std::size_t position, std::size_t count) {
      std::fprintf(stderr, "\r\033[K%s (%zu/%zu)", Printable(name).c_str(), position, count);
    };
    shown.rows = [](const std::string& name, std::size_t rows) {
      std::fprintf(stderr, "\r%s : %zu lignes", Printable(name).c_str(), rows);
    };
  }
  // Each rule of the source relaxed in the copy, on its own line.
  shown.relaxed = [progress](const std::string& table, const std::string& rule) {
    if (progress) std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "Attention : table « %s », %s.\n", table.c_str(), rule.c_str());
  };
  std::string failedTable;
  try {
    dbengine::CopyDatabase(args.source, args.target, args.tables, shown, &failedTable, Connect());
  } catch (const dbengine::Error& error) {
    if (progress) std::fputs("\r\033[K", stderr);
    if (!failedTable.empty()) std::fprintf(stderr, "table « %s » non copiée : ", Printable(failedTable).c_str());
    return Report(error);
  }
  if (progress) std::fputs("\r\033[K", stderr);
  return 0;
}

// The command line. Each command is a CLI11 subcommand made by its Declare
// function: its arguments, its options and their help texts, bound to the
// arguments structure its work function takes (cli::Command). A new command
// is its Declare function, its work function and its line in Vidange.
// Options that several commands take (a database password, a quiet mode)
// are declared on each of them by one function (AddPasswordOption,
// AddQuietOption), so that a command refuses what its help does not list.

Command DeclareSql(CLI::App& vidange) {
  auto args = std::make_shared<SqlArguments>();
  CLI::App* sql = vidange.add_subcommand(
      "sql",
      "Exécute chaque INSTRUCTION sur BASE dans l'ordre, ou, sans instruction, chaque\n"
      "ligne de l'entrée standard qui n'est ni vide ni commencée par --. Un SELECT\n"
      "écrit ses lignes sur la sortie standard, valeurs séparées par |.");
  sql->add_option("BASE", args->path)->required();
  sql->add_option("INSTRUCTION", args->statements);
  sql->add_flag("--create", args->create, "crée d'abord une base vide BASE (refusée si le\nfichier existe)");
  sql->add_flag("--transaction", args->oneTransaction,
                "une seule transaction, annulée en entier à la\npremière instruction refusée");
  AddPasswordOption(sql);
  return {sql, "sql BASE [--create] [--transaction] [INSTRUCTION ...]", [args] { return Sql(*args); }};
}

Command DeclareSchema(CLI::App& vidange) {
  auto args = std::make_shared<SchemaArguments>();
  CLI::App* schema = vidange.add_subcommand(
      "schema",
      "Décrit les tables de BASE (ou la seule TABLE), une ligne par table, champ et\n"
      "index, ses éléments séparés par une tabulation.");
  schema->add_option("BASE", args->path)->required();
  CLI::Option* table = schema->add_option("TABLE", args->table);
  AddPasswordOption(schema);
  return {schema, "schema BASE [TABLE]", [args, table] {
            args->oneTable = table->count() > 0;
            return Schema(*args);
          }};
}

// The import's --mode: its name stands for the number the import takes.
CLI::Validator ImportModeNames() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        for (const auto& [name, mode] : {std::pair{"clear", ImportMode::kClearFirst},
                                         {"keep", ImportMode::kKeepExistingRows},
                                         {"append", ImportMode::kAppend}}) {
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
  CLI::App* transfer = vidange.add_subcommand(
      isExport ? "export" : "import",
      isExport ? "Écrit toutes les lignes de TABLE dans le fichier de transfert FICHIER (remplacé\n"
                 "s'il existe) et affiche le résultat : ERR0 en cas de réussite."
               : "Charge les lignes du fichier de transfert FICHIER dans TABLE, en une seule\n"
                 "transaction, et affiche le résultat : ERR0 en cas de réussite.");
  transfer->add_option("BASE", args->path)->required();
  transfer->add_option("TABLE", args->table)->required();
  transfer->add_option("FICHIER", args->file)->required();
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
  AddPasswordOption(transfer);
  AddQuietOption(transfer);
  return {transfer,
          isExport ? "export BASE TABLE FICHIER [--separator S]"
                   : "import BASE TABLE FICHIER [--mode clear|keep|append] [--separator S]",
          [args, isExport] { return Transfer(*args, isExport); }};
}

Command DeclareCopy(CLI::App& vidange) {
  auto args = std::make_shared<CopyArguments>();
  CLI::App* copy = vidange.add_subcommand(
      "copy",
      "Crée la base CIBLE (refusé si le fichier existe) avec toutes les tables de\n"
      "SOURCE (une base Access ou une base du moteur), ou les seules tables nommées :\n"
      "champs, index et lignes. En cas d'échec, il ne reste pas de CIBLE.");
  copy->add_option("SOURCE", args->source)->required();
  copy->add_option("CIBLE", args->target)->required();
  copy->add_option("TABLE", args->tables);
  AddPasswordOption(copy);
  AddQuietOption(copy);
  return {copy, "copy SOURCE CIBLE [TABLE ...]", [args] { return Copy(*args); }};
}

Command DeclareInstall(CLI::App& vidange, bool verify) {
  auto args = std::make_shared<InstallOptions>();
  CLI::App* command = vidange.add_subcommand(
      verify ? "verify" : "install",
      verify ? "Vérifie l'installation des conventions de test : pour chacune des cinq tables,\n"
               "si sa cible contient exactement les lignes de la source (telles que les\n"
               "fichiers de transfert les portent), et si les deux clés primaires\n"
               "reconstruites sont en place. Lit seulement. Statut 0 si tout est\n"
               "identique, 1 sinon, 2 si une base ne s'ouvre pas."
             : "Installe les conventions de test sans fenêtre, comme le fait l'installateur :\n"
               "mêmes vérifications, mêmes étapes, mêmes messages (sur la sortie d'erreur).\n"
               "Statut 0 une fois l'installation terminée, 1 après un rapport d'erreur, 2\n"
               "quand les dossiers sont refusés.");
  command->add_option("LEXBASE_DOSSIER", args->dictionaryFolder)->required();
  command->add_option("PATBASE_DOSSIER", args->dataFolder)->required();
  command->add_option("--source", args->source,
                      "la base source (par défaut celle installée à côté de\nl'installateur)")
      ->type_name("FICHIER");
  AddQuietOption(command);
  return {command,
          std::string(verify ? "verify" : "install") + " LEXBASE_DOSSIER PATBASE_DOSSIER [--source FICHIER]",
          [args, verify] {
            args->quiet = quiet;
            return verify ? RunVerify(*args) : RunInstall(*args);
          }};
}

Command DeclareCompare(CLI::App& vidange) {
  auto args = std::make_shared<CompareOptions>();
  CLI::App* compare = vidange.add_subcommand(
      "compare",
      "Compare les lignes de TABLE dans BASE à celles d'AUTRE_TABLE (par défaut le même\n"
      "nom) dans AUTRE_BASE, valeur par valeur (type et contenu exacts), et les types\n"
      "des champs. Statut 0 si elles sont identiques, 1 sinon (ou pour une valeur qui\n"
      "ne convient pas à son champ), 2 si une base ou une table ne s'ouvre pas.");
  compare->add_option("BASE", args->base)->required();
  compare->add_option("TABLE", args->table)->required();
  compare->add_option("AUTRE_BASE", args->otherBase)->required();
  compare->add_option("AUTRE_TABLE", args->otherTable);
  AddPasswordOption(compare);
  AddQuietOption(compare);
  return {compare, "compare BASE TABLE AUTRE_BASE [AUTRE_TABLE]", [args] {
            args->quiet = quiet;
            args->connect = Connect();
            return RunCompare(*args);
          }};
}

// The usage of the whole tool: every command's line, then the informative
// options.
std::string Usage(const std::vector<Command>& commands) {
  std::string text = "Utilisation :\n";
  for (const Command& command : commands) text += "  vidange " + command.synopsis + "\n";
  text += "  vidange --help | -h\n  vidange --version\nL'aide d'une commande : vidange COMMANDE --help\n";
  return text;
}

// What the tool's help adds to its usage: the progress and how a site's
// scripts install and check the conventions on several machines.
constexpr char kExamples[] =
    "\n"
    "install, verify, compare, copy, import et export montrent leur progression sur\n"
    "la sortie d'erreur quand c'est un terminal ; leur option --quiet la tait.\n"
    "\n"
    "Installer sur plusieurs postes depuis un script, puis vérifier chaque poste :\n"
    "  for poste in poste1 poste2 poste3; do\n"
    "    ssh \"$poste\" vidange install /srv/appli /srv/medecin --quiet &&\n"
    "      ssh \"$poste\" vidange verify /srv/appli /srv/medecin ||\n"
    "      echo \"$poste : à reprendre\"\n"
    "  done\n";

// The usage line of one command.
std::string Usage(const Command& command) { return "Utilisation :\n  vidange " + command.synopsis + "\n"; }

// The help of one command: its usage line, what it does, and its options.
std::string Help(const Command& command) {
  std::string text = Usage(command) + "\n" + command.parser->get_description() + "\n";
  std::vector<std::pair<std::string, std::string>> options;
  std::size_t width = 0;
  for (const CLI::Option* option : command.parser->get_options()) {
    if (option->get_positional()) continue;
    std::string names = option->get_name(false, true);
    for (std::size_t comma = names.find(','); comma != std::string::npos; comma = names.find(',', comma + 2)) {
      names.insert(comma + 1, " ");
    }
    if (option->get_items_expected_max() > 0) names += " " + option->get_type_name();
    width = std::max(width, names.size());
    options.emplace_back(names, option->get_description());
  }
  text += "\nOptions :\n";
  for (const auto& [names, description] : options) {
    std::string indented = description;
    for (std::size_t newline = indented.find('\n'); newline != std::string::npos;
         newline = indented.find('\n', newline + 1)) {
      indented.insert(newline + 1, width + 4, ' ');
    }
    text += "  " + names + std::string(width - names.size() + 2, ' ') + indented + "\n";
  }
  return text;
}

// The command the line names, if any.
const Command* Selected(const std::vector<Command>& commands) {
  for (const Command& command : commands) {
    if (command.parser->parsed()) return &command;
  }
  return nullptr;
}

// What was wrong, in French, for a refusal of the parser; `command` is the
// command the line names, if any.
std::string Complaint(const CLI::ParseError& error, const CLI::App& vidange, const Command* command,
                      const std::string& lastWord) {
  if (command != nullptr && dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    for (const CLI::Option* option : command->parser->get_options()) {
      if (option->get_positional() && option->get_required() && option->count() == 0) {
        return "argument manquant : " + option->get_name(true);
      }
    }
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    // An option that takes a value takes the next word, whatever it is: only
    // the last word of the line can be left without one. The option is the
    // command's own or one that every command takes.
    const CLI::Option* option = command != nullptr ? command->parser->get_option_no_throw(lastWord) : nullptr;
    if (option == nullptr) option = vidange.get_option_no_throw(lastWord);
    if (option != nullptr && !option->get_positional() && option->get_items_expected_max() > 0) {
      return "valeur manquante après " + lastWord;
    }
  }
  if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr) {
    // The option's own validator wrote the French text after the option's
    // name and a colon; the colon goes.
    std::string text = error.what();
    const std::size_t colon = text.find(": ");
    if (text.rfind('-', 0) == 0 && colon != std::string::npos) text.erase(colon, 1);
    return text;
  }
  return std::string("appel incorrect : ") + error.what();
}

// A call the tool cannot understand: what was wrong, then the usage (the
// command's, or the whole tool's) on standard error; status 2.
int UsageError(const std::string& complaint, const Command* command, const std::vector<Command>& commands) {
  if (command == nullptr) {
    std::fprintf(stderr, "vidange : %s\n%s", Printable(complaint).c_str(), Usage(commands).c_str());
  } else {
    const std::string name = command->parser->get_name();
    std::fprintf(stderr, "vidange %s : %s\n%sL'aide de la commande : vidange %s --help\n", name.c_str(),
                 Printable(complaint).c_str(), Usage(*command).c_str(), name.c_str());
  }
  return 2;
}

// Words the parser could not place, but "--", the mark that only
// arguments follow.
std::vector<std::string> Unexpected(const CLI::App& parser) {
  std::vector<std::string> words;
  for (const std::string& word : parser.remaining()) {
    if (word != "--") words.push_back(word);
  }
  return words;
}

std::string Unknown(const std::string& word, const char* whatElse) {
  const bool option = word.size() > 1 && word[0] == '-';
  return std::string(option ? "option inconnue" : whatElse) + " « " + word + " »";
}

// Reads the command line and runs the command it names; the call's status.
int Vidange(int argc, char** argv) {
  CLI::App vidange("", "vidange");
  vidange.set_help_flag("-h,--help", "affiche l'utilisation et se termine");
  // Words that fit nowhere are kept rather than refused, so that the
  // complaint names them in French.
  vidange.allow_extras();
  // One command per call: a later command's name is an argument like any other.
  vidange.require_subcommand(0, 1);
  // An option given twice keeps its last value.
  vidange.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  bool version = false;
  vidange.add_flag("--version", version, "affiche la version et se termine");
  const std::vector<Command> commands = {
      DeclareSql(vidange),          DeclareSchema(vidange),         DeclareTransfer(vidange, true),
      DeclareTransfer(vidange, false), DeclareCopy(vidange),        DeclareInstall(vidange, false),
      DeclareInstall(vidange, true),   DeclareCompare(vidange)};
  // Every command sees the options of vidange itself, so that --version after a command is
  // refused as such.
  for (const Command& command : commands) command.parser->fallthrough();
  try {
    vidange.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    // Asked for, the usage is an answer rather than a complaint: standard output, status 0.
    const Command* command = Selected(commands);
    std::fputs((command != nullptr ? Help(*command) : Usage(commands) + kExamples).c_str(), stdout);
    return 0;
  } catch (const CLI::ParseError& error) {
    const Command* command = Selected(commands);
    return UsageError(Complaint(error, vidange, command, argc > 1 ? argv[argc - 1] : ""), command, commands);
  }
  const Command* command = Selected(commands);
  // Words left to `vidange` itself: before the command, or after a "--"
  // that ended the command's own arguments.
  std::vector<std::string> stray = Unexpected(vidange);
  if (version) {
    if (command != nullptr || !stray.empty()) return UsageError("--version s'emploie seul", nullptr, commands);
    std::puts("vidange " VIDANGE_VERSION);
    return 0;
  }
  if (command == nullptr) {
    return UsageError(stray.empty() ? "commande manquante" : Unknown(stray.front(), "commande inconnue"), nullptr,
                      commands);
  }
  const std::vector<std::string> extra = Unexpected(*command->parser);
  stray.insert(stray.end(), extra.begin(), extra.end());
  if (!stray.empty()) return UsageError(Unknown(stray.front(), "argument en trop"), command, commands);
  return command->work();
}

}  // namespace

int main(int argc, char** argv) { return cli::CloseStandardStreams(Vidange(argc, argv)); }
