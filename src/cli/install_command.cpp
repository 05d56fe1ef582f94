// SPDX-License-Identifier: Apache-2.0
// vidange install runs the installer's own run (installation/Installation.h)
// through a host that writes each message on standard error, one line with
// its title (the refusal of a busy installation as an ERR line), and answers
// the window's other requests with nothing. The
// source database is the one named by --source, else the one installed
// beside the installer: the package's program folder, or, in a build tree,
// the sample source next to vidange.
#include "cli/install_command.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "cli/compare_command.h"
#include "cli/command.h"
#include "cli/progress_reporter.h"
#include "installation/Installation.h"
#include "installation/Verification.h"
#include "support/Fonctions.h"

namespace {

// The folder of the running program, or "." when it cannot be read.
std::filesystem::path ProgramDirectory() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path(".") : program.parent_path();
}

// The folder holding the installer's source database: the package's program
// folder (lib/installateur-conventions beside the bin folder), the build
// tree's sample folder, or vidange's own folder; the package's when none
// holds it, so that the run names where it looked.
std::string SourceFolder() {
  const std::filesystem::path here = ProgramDirectory();
  const std::array<std::filesystem::path, 3> candidates = {
      (here / ".." / "lib" / "installateur-conventions").lexically_normal(), here / "sample", here};
  for (const std::filesystem::path& folder : candidates) {
    if (FindFileIgnoringCase(folder, kSourceDatabaseName)) return folder.string();
  }
  return candidates[0].string();
}

std::string SourcePath(const InstallOptions& options) {
  if (options.source) return *options.source;
  const std::string folder = WithSeparator(SourceFolder());
  return FindDatabase(folder, kSourceDatabaseName).value_or(folder + std::string(kSourceDatabaseName));
}

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

class CommandLineHost : public InstallationHost {
 public:
  explicit CommandLineHost(const InstallOptions& options)
      : options_(options), progress_(MakeProgressReporter(options.quiet)) {}

  std::string DictionaryFolderText() const override { return options_.dictionaryFolder; }
  std::string DataFolderText() const override { return options_.dataFolder; }
  std::string ProgramFolder() const override { return SourceFolder(); }
  std::optional<std::string> SourceDatabasePath() const override { return options_.source; }
  dbengine::Progress* Progress() override { return progress_.get(); }
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon) override {
    std::fprintf(stderr, "%s : %s\n", title.c_str(), cli::Printable(OneLine(text)).c_str());
    std::fflush(stderr);
  }
  void ShowBusy(const InstallationFailure& busy) override {
    std::fprintf(stderr, "ERR%d:%s\n", static_cast<int>(busy.number), busy.description.c_str());
    std::fflush(stderr);
  }
  void SetOkEnabled(bool) override {}
  void SetWaitCursor(bool) override {}
  void Quit() override {}

 private:
  const InstallOptions& options_;
  std::unique_ptr<dbengine::Progress> progress_;
};

}  // namespace

int RunInstall(const InstallOptions& options) {
  CommandLineHost host(options);
  switch (RunInstallationSteps(host)) {
    case InstallationOutcome::kNotStarted:
      return 2;
    case InstallationOutcome::kFailed:
      return 1;
    case InstallationOutcome::kCompleted:
      break;
  }
  return 0;
}

int RunVerify(const InstallOptions& options) {
  const std::unique_ptr<dbengine::Progress> progress = MakeProgressReporter(options.quiet);
  InstallationVerification verification;
  try {
    verification =
        VerifyInstallation(options.dictionaryFolder, options.dataFolder, SourcePath(options), progress.get());
  } catch (const dbengine::Error& error) {
    std::fprintf(stderr, "ERR%d:%s\n", static_cast<int>(error.Number()), cli::Printable(error.Description()).c_str());
    return 2;
  }
  for (const TableVerification& table : verification.tables) {
    if (table.error.empty()) {
      PrintDifferences(stdout, table.table + " : ", table.rows);
    } else {
      std::printf("%s : non comparée, %s\n", table.table.c_str(), table.error.c_str());
    }
  }
  for (const KeyVerification& key : verification.keys) {
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
