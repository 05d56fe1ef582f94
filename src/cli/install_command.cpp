// SPDX-License-Identifier: Apache-2.0
// vidange install runs the installer's own run (installation/Installation.h)
// through a host that writes each message on standard error, one line with
// its title (the refusal of a busy installation as an ERR line), and answers
// the window's other requests with nothing; vidange verify checks an
// installation against its source. The source database is the one named by
// --source, else the one installed beside the installer: the package's
// program folder, or, in a build tree, the sample source next to vidange
// (installation::InstallationHost::ProgramFolder).
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "compare_command.h"
#include "progress_reporter.h"
#include "installation/Installation.h"
#include "installation/Verification.h"

namespace cli {
namespace {

// What their help says they do.
constexpr char kInstallDescription[] =
    "Installe les conventions de test sans fenêtre, comme le fait l'installateur :\n"
    "mêmes vérifications, mêmes étapes, mêmes messages (sur la sortie d'erreur).\n"
    "Statut 0 une fois l'installation terminée, 1 après un rapport d'erreur, 2\n"
    "quand les dossiers sont refusés.";
constexpr char kVerifyDescription[] =
    "Vérifie l'installation des conventions de test : pour chacune des cinq tables,\n"
    "si sa cible contient exactement les lignes de la source (telles que les\n"
    "fichiers de transfert les portent), et si les deux clés primaires\n"
    "reconstruites sont en place. Lit seulement. Statut 0 si tout est\n"
    "identique, 1 sinon, 2 si une base ne s'ouvre pas.";

struct InstallOptions {
  std::string dictionaryFolder;       // LEXBASE_FOLDER, as typed
  std::string dataFolder;             // PATBASE_FOLDER, as typed
  std::optional<std::string> source;  // --source FILE
  bool quiet = false;
};

// A message box's text on one line: each carriage return, alone or followed
// by a line feed, becomes a blank.
std::string OneLine(const std::string& text) {
  std::string line;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\r' || text[at] == '\n') {
      if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') ++at;
      line.push_back(' ');
    } else {
      line.push_back(text[at]);
    }
  }
  return line;
}

// The run's host on the command line; its program folder is the default
// one (support/program_files.h).
class CommandLineHost : public installation::InstallationHost {
 public:
  explicit CommandLineHost(const InstallOptions& options)
      : options_(options), progress_(MakeProgressReporter(options.quiet)) {}

  std::string DictionaryFolderText() const override { return options_.dictionaryFolder; }
  std::string DataFolderText() const override { return options_.dataFolder; }
  std::optional<std::string> SourceDatabasePath() const override { return options_.source; }
  dbengine::Progress* Progress() override { return progress_.get(); }
  void ShowMessage(const std::string& text, const std::string& title, installation::MessageIcon) override {
    std::fprintf(stderr, "%s : %s\n", title.c_str(), Printable(OneLine(text)).c_str());
    std::fflush(stderr);
  }
  void ShowBusy(const installation::InstallationFailure& busy) override {
    Report(busy.number, busy.description);
    std::fflush(stderr);
  }
  void SetOkEnabled(bool) override {}
  void SetWaitCursor(bool) override {}
  void Quit() override {}

 private:
  const InstallOptions& options_;
  std::unique_ptr<dbengine::Progress> progress_;
};

// Runs the installation: its messages on standard error, one line each with
// its title. Returns 0 after a run without failure, 1 after a run that
// reported one, 2 when a check refused the folders (nothing opened).
int RunInstall(const InstallOptions& options) {
  CommandLineHost host(options);
  switch (installation::RunInstallationSteps(host)) {
    case installation::InstallationOutcome::kNotStarted:
      return 2;
    case installation::InstallationOutcome::kFailed:
      return 1;
    case installation::InstallationOutcome::kCompleted:
      break;
  }
  return 0;
}

// Verifies an installation: one line per table and per rebuilt key on
// standard output. Returns 0 when all is identical, 1 otherwise, 2 when a
// database cannot be opened or read (its error on standard error).
int RunVerify(const InstallOptions& options) {
  const std::unique_ptr<dbengine::Progress> progress = MakeProgressReporter(options.quiet);
  installation::InstallationVerification verification;
  try {
    verification = installation::VerifyInstallation(options.dictionaryFolder, options.dataFolder,
                                      installation::SourceDatabaseOf(CommandLineHost(options)), progress.get());
  } catch (const dbengine::Error& error) {
    Report(error);
    return 2;
  }
  for (const installation::TableVerification& table : verification.tables) {
    if (!table.error) {
      PrintDifferences(stdout, table.table + " : ", table.rows);
    } else {
      std::printf("%s : non comparée, %s\n", table.table.c_str(),
                  ErrorText(table.error->number, table.error->description).c_str());
    }
  }
  for (const installation::KeyVerification& key : verification.keys) {
    auto list = [](const std::vector<std::string>& fields) {
      std::string text;
      for (const std::string& field : fields) text += (text.empty() ? "" : ",") + field;
      return text;
    };
    if (key.InPlace()) {
      std::printf("clé primaire de %s : en place (%s)\n", key.table.c_str(), list(key.expected).c_str());
    } else if (!key.found) {
      std::printf("clé primaire de %s : absente, attendue (%s)\n", key.table.c_str(), list(key.expected).c_str());
    } else if (!key.unique) {
      std::printf("clé primaire de %s : (%s) sans unicité dans la base, attendue (%s)\n", key.table.c_str(),
                  list(*key.found).c_str(), list(key.expected).c_str());
    } else {
      std::printf("clé primaire de %s : (%s), attendue (%s)\n", key.table.c_str(), list(*key.found).c_str(),
                  list(key.expected).c_str());
    }
  }
  return verification.Identical() ? 0 : 1;
}

Command DeclareInstallOrVerify(CLI::App& vidange, bool verify) {
  auto args = std::make_shared<InstallOptions>();
  CLI::App* command =
      AddCommand(vidange, verify ? "verify" : "install", verify ? kVerifyDescription : kInstallDescription,
                 {{"LEXBASE_DOSSIER", &args->dictionaryFolder}, {"PATBASE_DOSSIER", &args->dataFolder}});
  command->add_option("--source", args->source,
                      "la base source (par défaut celle installée à côté de\nl'installateur)")
      ->type_name("FICHIER");
  AddQuietOption(command, args->quiet);
  return {command,
          std::string(verify ? "verify" : "install") + " LEXBASE_DOSSIER PATBASE_DOSSIER [--source FICHIER]",
          [args, verify] { return verify ? RunVerify(*args) : RunInstall(*args); }};
}

}  // namespace

Command DeclareInstall(CLI::App& vidange) { return DeclareInstallOrVerify(vidange, false); }
Command DeclareVerify(CLI::App& vidange) { return DeclareInstallOrVerify(vidange, true); }

}  // namespace cli
