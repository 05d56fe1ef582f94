// SPDX-License-Identifier: Apache-2.0
// The window's file-open dialog, RechDiag: an adapter with the four members the folder
// selection uses (FileName, Filter, CancelError, ShowOpen) plus the dialog title the window
// gives it once. ShowOpen asks a subclass for the operator's choice, so tests can script the
// answers; the real dialog is a non-native QFileDialog.
#ifndef APP_FILEOPENDIALOG_H_
#define APP_FILEOPENDIALOG_H_

#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <stdexcept>

class QFileDialog;
class QWidget;

namespace app {

// Raised by ShowOpen when the operator cancels and CancelError is set.
class DialogCancelled : public std::runtime_error {
 public:
  DialogCancelled() : std::runtime_error("Cancel was selected.") {}
};

class FileOpenDialog {
 public:
  virtual ~FileOpenDialog() = default;

  // Title shown on the dialog.
  QString DialogTitle;
  // The chosen full path after ShowOpen; before it, the name the dialog opens on ("" for none).
  QString FileName;
  // File types offered, "description|pattern|description|pattern...", patterns within one type
  // separated by ";". Kept as given; the real dialog translates it on each display.
  QString Filter;
  // When true a cancel raises DialogCancelled; when false it returns with FileName unchanged.
  bool CancelError = false;

  // Shows the modal dialog and waits. On a choice, FileName holds the chosen full path.
  // On cancel: DialogCancelled or a plain return, as CancelError asks.
  void ShowOpen();

 protected:
  // Asks the operator with the current members; gives the chosen full path, or nothing when
  // the operator cancels.
  virtual std::optional<QString> AskForFile() = 0;
};

// The real file-open dialog: a non-native QFileDialog that accepts one existing file.
class QtFileOpenDialog : public FileOpenDialog {
 public:
  // The dialog is modal to `owner` while it is visible. `owner` may be null; not owned.
  explicit QtFileOpenDialog(QWidget* owner = nullptr);

  // The dialog that ShowOpen displays, set from the current members: title, name filters
  // translated from Filter, and FileName (its folder and name) when not empty, else the folder
  // of the previous choice. Exposed so that its settings can be checked.
  std::unique_ptr<QFileDialog> BuildDialog() const;

 protected:
  std::optional<QString> AskForFile() override;

 private:
  QPointer<QWidget> owner_;
  QString lastFolder_;
};

// Qt name filters for a filter string "description|pattern|...": one "description (patterns)"
// per pair, the description unchanged and its ";"-separated patterns trimmed and joined by
// blanks. A pair without any pattern, and a last description without its pattern, give none.
QStringList NameFiltersFromFilter(const QString& filter);

}  // namespace app

#endif  // APP_FILEOPENDIALOG_H_
