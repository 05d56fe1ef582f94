// SPDX-License-Identifier: Apache-2.0
// frmInstallFichiers, the installer's one window. It has no title bar and a fixed size: a drawn
// 3-pixel dialog frame around a 507 x 231 client area holding the banner, the two folder rows
// (label, text box, "Parcourir" button) between two-line separators, and the Ok and Annuler
// buttons. Its handlers are the load check, the cancel button, the two browse buttons and the
// OK button, which hands over to the installation run (InstallationRun.h).
//
// Every control carries its name as its object name: Picture1, Label1, Image1,
// txtCheminApplication, txtCheminMedecin, LabelEmplacement, Label4, cmdOK, cmdQuitter, Line1 to
// Line4, and the browse-button array CmdParcourir as "CmdParcourir0" and "CmdParcourir1" (each
// also holding its index in the property "Index"). Geometries are in pixels, relative to the
// client area "ClientArea" (Label1 and Image1: relative to the banner Picture1).
#ifndef APP_FRMINSTALLFICHIERS_H_
#define APP_FRMINSTALLFICHIERS_H_

#include <QWidget>
#include <memory>

#include "FileOpenDialog.h"
#include "OperatorMessages.h"

class QIcon;
class QLabel;
class QLineEdit;
class QPushButton;

namespace app {

class frmInstallFichiers : public QWidget {
  Q_OBJECT

 public:
  // Size of the client area and thickness of the drawn frame, in pixels.
  static constexpr int kClientWidth = 507;
  static constexpr int kClientHeight = 231;
  static constexpr int kFrameThickness = 3;

  // Builds the window hidden, every control in place, centred on the primary screen, with the
  // focus waiting in txtCheminApplication. The window owns `messages` and `rechDiag`; null
  // gives the real ones (message boxes, a non-native file dialog).
  explicit frmInstallFichiers(std::unique_ptr<OperatorMessages> messages = nullptr,
                              std::unique_ptr<FileOpenDialog> rechDiag = nullptr);
  ~frmInstallFichiers() override;

  // The load handler, run once before the window is shown. Remembers `programFolder` (the
  // folder of the running executable, see ProgramFolder()) and looks for the source database
  // there. True when the window may be shown; false once the operator has dismissed the
  // "Installation impossible " box, after which the caller ends the process with status 1
  // without ever showing the window.
  bool Form_Load(const QString& programFolder);

  // What the installation run works with.
  const QString& ProgramFolder() const { return programFolder_; }
  QString CheminApplication() const;  // text of txtCheminApplication, as typed
  QString CheminMedecin() const;      // text of txtCheminMedecin, as typed
  void SetCheminApplication(const QString& text);
  void SetCheminMedecin(const QString& text);
  bool IsOkEnabled() const;
  void SetOkEnabled(bool enabled);
  // The hourglass over the whole window while `waiting`, the default pointer otherwise.
  void SetWaitCursor(bool waiting);
  // The boxes every message of the window goes through.
  OperatorMessages& Messages() { return *messages_; }
  // The file-open dialog RechDiag.
  FileOpenDialog& RechDiag() { return *rechDiag_; }

  // Click handlers, one per handled control; the buttons call them, and the run calls
  // cmdQuitter_Click to close the window at its end.
  //
  // cmdOK: hands the window to RunInstallation().
  void cmdOK_Click();
  // cmdQuitter: closes the window; as it is the only one, the program then ends (status 0,
  // or 1 after an installation that reported a failure).
  void cmdQuitter_Click();
  // True once an installation run has shown its failure message.
  bool InstallationFailed() const { return installationFailed_; }
  void SetInstallationFailed(bool failed) { installationFailed_ = failed; }
  // CmdParcourir(index): lets the operator pick lexbase.mdb (index 0) or patbase.mdb (index 1)
  // in RechDiag, showing the dialog again after each wrong file, and puts the folder of the
  // chosen file, with its final "/", into txtCheminApplication (0) or txtCheminMedecin (1).
  // A cancel ends it silently; any other index does nothing.
  void CmdParcourir_Click(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void BuildControls();

  std::unique_ptr<OperatorMessages> messages_;
  std::unique_ptr<FileOpenDialog> rechDiag_;
  QString programFolder_;
  bool installationFailed_ = false;

  QWidget* client_ = nullptr;
  QLabel* picture1_ = nullptr;
  QLineEdit* txtCheminApplication_ = nullptr;
  QLineEdit* txtCheminMedecin_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdQuitter_ = nullptr;
  QPushButton* cmdParcourir_[2] = {nullptr, nullptr};
};

// The application's name as the desktop shows it (taskbars, window lists, the menu entry):
// "Installation des conventions de test". It is the window's title, which no title bar shows.
QString DisplayName();

// The window and application icon (taskbars, Alt-Tab): the desktop theme's
// "installateur-conventions", which the package installs at every size it ships; else the
// embedded ones: the window's 16 x 16 picture and the package's 48 to 256 pixel icons.
QIcon ApplicationIcon();

}  // namespace app

#endif  // APP_FRMINSTALLFICHIERS_H_
