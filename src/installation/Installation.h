// The installation run, without a window: the checking phase on the two
// folder texts, then the working phase that opens the three databases,
// exports the five tables, rebuilds two primary keys, imports the tables,
// closes the databases, reports, removes the transfer files and closes.
// The window runs it through RunInstallation(frmInstallFichiers&); tests and
// benchmarks run the same code through their own host.
#ifndef APP_INSTALLATION_H_
#define APP_INSTALLATION_H_

#include <cstdint>
#include <string>

#include "app/OperatorMessages.h"

// What the run needs of the window. Texts are UTF-8.
class InstallationHost {
 public:
  virtual ~InstallationHost() = default;
  virtual std::string DictionaryFolderText() const = 0;  // txtCheminApplication, as typed
  virtual std::string DataFolderText() const = 0;        // txtCheminMedecin, as typed
  virtual std::string ProgramFolder() const = 0;         // the executable's folder
  // A modal box; returns once the operator has dismissed it.
  virtual void ShowMessage(const std::string& text, const std::string& title, OperatorMessages::Icon icon) = 0;
  virtual void SetOkEnabled(bool enabled) = 0;
  virtual void SetWaitCursor(bool waiting) = 0;
  virtual void Quit() = 0;  // the cancel button's handler: closes the window
};

// The first failure of a working phase: its number and description.
struct InstallationFailure {
  std::int32_t number = 0;
  std::string description;
};

enum class InstallationOutcome {
  kNotStarted,  // a check failed and its message was shown; the window stays open
  kCompleted,   // the working phase ran to its end without any failure
  kFailed,      // the working phase ran to its end and reported its first failure
};

// Runs the installation for `host`, from the checks to the closing of the
// window. `failure`, when given, receives the first failure of the working phase.
InstallationOutcome RunInstallationSteps(InstallationHost& host, InstallationFailure* failure = nullptr);

#endif  // APP_INSTALLATION_H_
