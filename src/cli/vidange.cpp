// vidange: the companion command of the installer, for support staff, tests
// and benchmarks. It runs statements on a database, shows its schema, and
// runs one table transfer (export or import), all through the same modules
// as the installer, copies databases (an Access file into the engine's
// format among them), runs the installation without a window, verifies an
// installation and compares two tables.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/compare_command.h"
#include "cli/install_command.h"
#include "cli/progress_reporter.h"
#include "dbengine/database_copy.h"
#include "dbengine/dbengine.h"
#include "dbengine/statement.h"
#include "transfer/VidangeTables.h"

namespace {

constexpr char kUsage[] =
    "Utilisation :\n"
    "  vidange sql BASE [--create] [--transaction] [INSTRUCTION ...]\n"
    "  vidange schema BASE [TABLE]\n"
    "  vidange export BASE TABLE FICHIER [--separator S]\n"
    "  vidange import BASE TABLE FICHIER [--mode clear|keep|append] [--separator S]\n"
    "  vidange copy SOURCE CIBLE [TABLE ...]\n"
    "  vidange install LEXBASE_DOSSIER PATBASE_DOSSIER [--source FICHIER]\n"
    "  vidange verify LEXBASE_DOSSIER PATBASE_DOSSIER [--source FICHIER]\n"
    "  vidange compare BASE TABLE AUTRE_BASE [AUTRE_TABLE]\n";

constexpr char kExamples[] =
    "install, verify, compare, copy, import et export montrent leur progression sur la\n"
    "sortie d'erreur quand c'est un terminal ; --quiet la tait.\n"
    "\n"
    "Installer sur plusieurs postes depuis un script, puis vérifier chaque installation :\n"
    "  for poste in poste1 poste2 poste3; do\n"
    "    ssh \"$poste\" vidange install /srv/appli /srv/medecin --quiet &&\n"
    "    ssh \"$poste\" vidange verify /srv/appli /srv/medecin || echo \"$poste : à reprendre\"\n"
    "  done\n";

// The commands, then the two informative options.
void PrintUsage(std::FILE* stream) {
  std::fputs(kUsage, stream);
  std::fputs("  vidange --help | -h\n  vidange --version\n", stream);
  std::fputs(kExamples, stream);
}

// Set by --quiet: the commands that show their progress keep silent.
bool quiet = false;

// A call the tool cannot understand: the usage on standard error, status 2.
int Usage() {
  PrintUsage(stderr);
  return 2;
}

int Report(const dbengine::Error& error) {
  std::fprintf(stderr, "ERR%d:%s\n", static_cast<int>(error.Number()), error.Description().c_str());
  return 1;
}

bool StartsWithSelect(std::string_view statement) {
  const std::size_t start = statement.find_first_not_of(" \t");
  if (start == std::string_view::npos || statement.size() - start < 6) return false;
  return strncasecmp(statement.data() + start, "SELECT", 6) == 0;
}

// Prints the rows of a SELECT as transfer lines in UTF-8 ended by LF.
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
    std::fwrite(line.data(), 1, line.size(), stdout);
    rows.MoveNext();
  }
}

void Run(dbengine::Database& database, std::string_view statement) {
  if (StartsWithSelect(statement)) {
    PrintRows(database, statement);
  } else {
    database.Execute(statement);
  }
}

int Sql(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  const std::string& path = args[0];
  bool create = false;
  bool oneTransaction = false;
  std::vector<std::string> statements;
  for (std::size_t index = 1; index < args.size(); ++index) {
    if (args[index] == "--create") {
      create = true;
    } else if (args[index] == "--transaction") {
      oneTransaction = true;
    } else {
      statements.push_back(args[index]);
    }
  }
  dbengine::Database database;
  try {
    if (create) dbengine::Database::Create(path);
    database.Open(path);
    // On a failure the handle's close undoes the transaction whole.
    if (oneTransaction) database.BeginTrans();
    if (!statements.empty()) {
      for (const std::string& statement : statements) Run(database, statement);
    } else {
      std::string line;
      while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line.rfind("--", 0) == 0) continue;
        Run(database, line);
      }
    }
    if (oneTransaction) database.CommitTrans();
    database.Close();
  } catch (const dbengine::Error& error) {
    std::fflush(stdout);
    return Report(error);
  }
  return 0;
}

int Schema(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return Usage();
  dbengine::Database database;
  try {
    database.Open(args[0]);
    std::vector<std::string> tables;
    if (args.size() == 2) {
      tables.push_back(database.TableDefs(args[1]).Name());
    } else {
      tables = database.TableNames();
    }
    for (const std::string& name : tables) {
      const dbengine::TableDef def = database.TableDefs(name);
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
    database.Close();
  } catch (const dbengine::Error& error) {
    std::fflush(stdout);
    return Report(error);
  }
  return 0;
}

int Transfer(const std::vector<std::string>& args, bool isExport) {
  if (args.size() < 3) return Usage();
  std::string separator;
  std::int16_t mode = -1;
  for (std::size_t index = 3; index < args.size(); ++index) {
    if (args[index] == "--separator" && index + 1 < args.size()) {
      separator = args[++index];
    } else if (!isExport && args[index] == "--mode" && index + 1 < args.size()) {
      const std::string& name = args[++index];
      if (name == "clear") {
        mode = -1;
      } else if (name == "keep") {
        mode = 0;
      } else if (name == "append") {
        mode = 1;
      } else {
        return Usage();
      }
    } else {
      return Usage();
    }
  }
  dbengine::Database database;
  try {
    database.Open(args[0]);
  } catch (const dbengine::Error& error) {
    return Report(error);
  }
  const std::unique_ptr<TransferProgress> progress = MakeProgressReporter(quiet);
  std::string result = isExport ? ExportTableToText(database, args[1], args[2], separator, progress.get())
                                : ImportTextIntoTable(database, args[1], args[2], mode, separator, progress.get());
  // The result is printed once, after the close, so that it is the last word.
  try {
    database.Close();
  } catch (const dbengine::Error& error) {
    if (result == kTransferSuccess) {
      result = "ERR" + std::to_string(error.Number()) + " (TABLE " + args[1] + "):" + error.Description();
    }
  }
  std::printf("%s\n", result.c_str());
  return result == kTransferSuccess ? 0 : 1;
}

// copy SOURCE TARGET [TABLE ...]: a new engine database TARGET holding the
// named tables of SOURCE (all of them by default), or no TARGET at all.
int Copy(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage();
  const bool progress = ::isatty(STDERR_FILENO) == 1 && !quiet;
  dbengine::CopyProgress shown;
  if (progress) {
    shown.table = [](const std::string& name, std::size_t position, std::size_t count) {
      std::fprintf(stderr, "\r\033[K%s (%zu/%zu)", name.c_str(), position, count);
    };
    shown.rows = [](const std::string& name, std::size_t rows) {
      std::fprintf(stderr, "\r%s : %zu lignes", name.c_str(), rows);
    };
  }
  std::string failedTable;
  try {
    dbengine::CopyDatabase(args[0], args[1], std::vector<std::string>(args.begin() + 2, args.end()), shown,
                           &failedTable);
  } catch (const dbengine::Error& error) {
    if (progress) std::fputs("\r\033[K", stderr);
    if (!failedTable.empty()) std::fprintf(stderr, "table « %s » non copiée : ", failedTable.c_str());
    return Report(error);
  }
  if (progress) std::fputs("\r\033[K", stderr);
  return 0;
}

int InstallOrVerify(const std::vector<std::string>& args, bool verify) {
  InstallOptions options;
  std::vector<std::string> folders;
  for (std::size_t index = 0; index < args.size(); ++index) {
    if (args[index] == "--source" && index + 1 < args.size()) {
      options.source = args[++index];
    } else {
      folders.push_back(args[index]);
    }
  }
  if (folders.size() != 2) return Usage();
  options.dictionaryFolder = folders[0];
  options.dataFolder = folders[1];
  options.quiet = quiet;
  return verify ? RunVerify(options) : RunInstall(options);
}

int Compare(const std::vector<std::string>& args) {
  if (args.size() != 3 && args.size() != 4) return Usage();
  return RunCompare({args[0], args[1], args[2], args.size() == 4 ? args[3] : std::string(), quiet});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  // Asked for, the usage is an answer rather than a complaint: standard output, status 0.
  if (command == "--help" || command == "-h") {
    PrintUsage(stdout);
    return 0;
  }
  if (command == "--version") {
    std::puts("vidange " VIDANGE_VERSION);
    return 0;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command != "sql") quiet = std::erase(args, "--quiet") > 0;
  if (command == "sql") return Sql(args);
  if (command == "schema") return Schema(args);
  if (command == "export") return Transfer(args, true);
  if (command == "import") return Transfer(args, false);
  if (command == "copy") return Copy(args);
  if (command == "install") return InstallOrVerify(args, false);
  if (command == "verify") return InstallOrVerify(args, true);
  if (command == "compare") return Compare(args);
  return Usage();
}
