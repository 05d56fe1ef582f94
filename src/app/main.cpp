// SPDX-License-Identifier: Apache-2.0
// install-conventions: the installer's entry. It answers --help and --version on the terminal
// without opening anything; otherwise it creates the one window, runs its load check (which may
// end the program with status 1 before anything is shown), shows it and waits until it is closed:
// status 1 after an installation that reported a failure, else 0. Any other word on the command
// line is refused (status 2); with no display to open the window on, one French line says so
// (status 3) instead of Qt's own English report and abort. The program reads no environment
// variable of its own (Qt reads DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM) and no
// configuration.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QtFrench.h"
#include "StartupCheck.h"
#include "frmInstallFichiers.h"

using namespace Qt::StringLiterals;


namespace {

constexpr char kVersion[] = "1.00";

constexpr char kHelp[] =
    "Utilisation : install-conventions [--help | --version]\n"
    "\n"
    "Ouvre la fenêtre qui installe les conventions de test du KVEL (les cinq tables\n"
    "de la base CONVENTIONS_TEST_KVEL.mdb, livrée dans le dossier du programme) dans\n"
    "les bases Lexbase et Patbase de l'application hôte. Sans affichage graphique,\n"
    "« vidange install » fait la même installation.\n"
    "\n"
    "  -h, --help   affiche cette aide et se termine\n"
    "  --version    affiche la version et se termine\n"
    "\n"
    "Statut : 0 après la fermeture de la fenêtre, 1 si la base source manque ou si\n"
    "l'installation a signalé une erreur, 2 pour un appel incorrect, 3 sans\n"
    "affichage graphique.\n";

constexpr int kWrongCall = 2;
constexpr int kNoDisplay = 3;

[[noreturn]] void NoDisplay() {
  std::fputs("install-conventions : aucun affichage graphique utilisable, la fenêtre ne peut pas "
             "s'ouvrir (sans fenêtre : vidange install).\n",
             stderr);
  std::fflush(stderr);
  std::_Exit(kNoDisplay);
}

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// While the application object is being made, Qt's messages are held back: a platform that
// cannot start ends the program with NoDisplay's one line rather than Qt's English report and
// abort. Afterwards they go to Qt's own handler, but for the notice that XDG_RUNTIME_DIR is not
// set (as under root), harmless: Qt then uses a folder of its own.
bool starting = true;
QtMessageHandler qtHandler = nullptr;
struct HeldMessage {
  QtMsgType type;
  QByteArray category;
  QString text;
};
QList<HeldMessage> heldMessages;

void Messages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(u"QStandardPaths: XDG_RUNTIME_DIR not set"_s)) return;
  if (starting) {
    if (type == QtFatalMsg) NoDisplay();
    heldMessages.append({type, QByteArray(context.category ? context.category : "default"), message});
    return;
  }
  if (qtHandler != nullptr) qtHandler(type, context, message);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kHelp, stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("install-conventions %s\n", kVersion);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  if (argc > 1) {
    const bool option = argv[1][0] == '-';
    std::fprintf(stderr, "install-conventions : %s « %s »\n%s", option ? "option inconnue" : "argument en trop",
                 argv[1], "Utilisation : install-conventions [--help | --version]\n");
    return kWrongCall;
  }
  // No display at all (as over ssh): said before Qt tries one. A platform chosen on purpose
  // (QT_QPA_PLATFORM, as the tests' offscreen one) is left to Qt.
  if (!Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) NoDisplay();

  qtHandler = qInstallMessageHandler(Messages);
  // Only the program's name is passed on: Qt would otherwise take options from the command line.
  int qtArgumentCount = argc > 0 ? 1 : 0;
  QApplication application(qtArgumentCount, argv);
  starting = false;
  for (const HeldMessage& held : heldMessages) {
    Messages(held.type, QMessageLogContext(nullptr, 0, nullptr, held.category.constData()), held.text);
  }
  heldMessages.clear();
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));
  // The window's class (WM_CLASS) and the desktop entry's name agree, so that docks and taskbars
  // match the window to its menu entry. No display name is set: Qt would append it to the title
  // of every message box; the window's own title carries it (DisplayName()).
  QCoreApplication::setApplicationName(u"installateur-conventions"_s);
  QGuiApplication::setDesktopFileName(u"installateur-conventions"_s);
  QApplication::setWindowIcon(app::ApplicationIcon());
  // Without the translations, Qt's own texts stay English; the installer works all the same.
  app::InstallQtFrench(application);

  app::frmInstallFichiers window;
  if (!window.Form_Load(app::ProgramFolder())) return 1;
  window.show();
  const int status = QApplication::exec();
  return window.InstallationFailed() ? 1 : status;
}
