// SPDX-License-Identifier: Apache-2.0
// Tests of the installer window: its controls as the operator sees them, its keyboard, the load
// check, the browse buttons, the cancel button, and what it offers the installation run.
#include "frmInstallFichiers.h"

#include <QAccessible>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "AppTestSupport.h"

using namespace Qt::StringLiterals;

using namespace app;

namespace {

const QString kCancel = ScriptedFileOpenDialog::kCancel;
const QString kDefaultFont = u"<default>"_s;

const QString kFilter = u"Base de données Access (*.mdb) | *.mdb|Tous les Fichiers  (*.*) |*.*"_s;
const QString kNotLexbase = u"Le fichier sélectionné n'est pas une Base LEXBASE.MDB !"_s;
const QString kNotPatbase = u"Le fichier sélectionné n'est pas une Base PATBASE.MDB !"_s;

// A window whose message boxes and file-open dialog are scripted.
struct ScriptedWindow {
  ScriptedWindow()
      : messages(new ScriptedMessages),
        dialog(new ScriptedFileOpenDialog),
        window(std::unique_ptr<OperatorMessages>(messages),
               std::unique_ptr<FileOpenDialog>(dialog)) {}

  template <typename T = QWidget>
  T* Control(const QString& name) {
    return window.findChild<T*>(name);
  }

  // Shows the window and waits until it has the keyboard.
  bool ShowActive() {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
  }

  ScriptedMessages* messages;  // owned by the window
  ScriptedFileOpenDialog* dialog;
  frmInstallFichiers window;
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void controls_data();
  void controls();
  void frameSizeAndPosition();
  void coloursAndPictures();
  void bannerIsClippedAndSeparatorsDrawn();
  void textBoxesLieOverTheirLabels();
  void accessibleNames_data();
  void accessibleNames();
  void bannerShowsItsFocus();

  void focusStartsInTheDictionaryField();
  void tabOrder_data();
  void tabOrder();
  void noDefaultNorCancelButton_data();
  void noDefaultNorCancelButton();
  void accessKeys_data();
  void accessKeys();

  void loadCheck_data();
  void loadCheck();
  void cancelButtonClosesTheWindow();

  void browse_data();
  void browse();
  void browseOpeningsCarryTitleFilterAndCancelError();

  void waitCursor();
};

void WindowTest::controls_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("parent");
  QTest::addColumn<QRect>("geometry");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("family");  // kDefaultFont: the window's own font
  QTest::addColumn<int>("pixelSize");
  QTest::addColumn<bool>("bold");

  const QString client = u"ClientArea"_s;
  QTest::newRow("Picture1") << u"Picture1"_s << client << QRect(0, -4, 513, 53) << QString()
                            << kDefaultFont << 0 << false;
  QTest::newRow("Label1") << u"Label1"_s << u"Picture1"_s << QRect(56, 18, 451, 20)
                          << u"Installation des Tables de Convention de TEST pour le KVEL"_s
                          << u"Arial"_s << 15 << true;
  QTest::newRow("Image1") << u"Image1"_s << u"Picture1"_s << QRect(14, 11, 32, 32) << QString()
                          << kDefaultFont << 0 << false;
  QTest::newRow("txtCheminMedecin") << u"txtCheminMedecin"_s << client << QRect(14, 143, 386, 24)
                                    << QString() << u"Arial"_s << 13 << false;
  QTest::newRow("CmdParcourir(0)") << u"CmdParcourir0"_s << client << QRect(405, 94, 96, 22)
                                   << u"Parcourir"_s << kDefaultFont << 0 << false;
  QTest::newRow("cmdQuitter") << u"cmdQuitter"_s << client << QRect(256, 196, 81, 26)
                              << u"&Annuler"_s << kDefaultFont << 0 << false;
  QTest::newRow("txtCheminApplication")
      << u"txtCheminApplication"_s << client << QRect(14, 94, 386, 24) << QString() << u"Arial"_s
      << 13 << false;
  QTest::newRow("cmdOK") << u"cmdOK"_s << client << QRect(171, 195, 81, 26) << u"&Ok"_s
                         << kDefaultFont << 0 << false;
  QTest::newRow("CmdParcourir(1)") << u"CmdParcourir1"_s << client << QRect(404, 143, 96, 22)
                                   << u"Parcourir"_s << kDefaultFont << 0 << false;
  QTest::newRow("Label4") << u"Label4"_s << client << QRect(15, 126, 367, 21)
                          << u"Chemin d'installation de la base Patbase.mdb"_s << u"Arial"_s << 12
                          << false;
  QTest::newRow("LabelEmplacement")
      << u"LabelEmplacement"_s << client << QRect(15, 77, 396, 21)
      << u"Chemin d'installation de la base Lexbase.mdb"_s << u"Arial"_s << 12 << false;
  // Lines end one pixel before their end point.
  QTest::newRow("Line4") << u"Line4"_s << client << QRect(-6, 49, 513, 1) << QString()
                         << kDefaultFont << 0 << false;
  QTest::newRow("Line3") << u"Line3"_s << client << QRect(-5, 50, 512, 1) << QString()
                         << kDefaultFont << 0 << false;
  QTest::newRow("Line2") << u"Line2"_s << client << QRect(0, 179, 507, 1) << QString()
                         << kDefaultFont << 0 << false;
  QTest::newRow("Line1") << u"Line1"_s << client << QRect(0, 180, 507, 1) << QString()
                         << kDefaultFont << 0 << false;
}

void WindowTest::controls() {
  QFETCH(QString, name);
  QFETCH(QString, parent);
  QFETCH(QRect, geometry);
  QFETCH(QString, text);
  QFETCH(QString, family);
  QFETCH(int, pixelSize);
  QFETCH(bool, bold);

  ScriptedWindow scripted;
  QWidget* control = scripted.Control(name);
  QVERIFY(control != nullptr);
  QCOMPARE(control->parentWidget()->objectName(), parent);
  QCOMPARE(control->geometry(), geometry);
  QCOMPARE(control->property("text").toString(), text);
  if (family == kDefaultFont) {
    QCOMPARE(control->font(), scripted.window.font());
  } else {
    QCOMPARE(control->font().family(), family);
    QCOMPARE(control->font().pixelSize(), pixelSize);
    QCOMPARE(control->font().bold(), bold);
  }
}

void WindowTest::frameSizeAndPosition() {
  ScriptedWindow scripted;
  frmInstallFichiers& window = scripted.window;
  QVERIFY(window.isWindow());
  QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
  // No title bar shows it: the title names the window in taskbars and window lists.
  QCOMPARE(window.windowTitle(), u"Installation des conventions de test"_s);
  QCOMPARE(window.minimumSize(), QSize(513, 237));
  QCOMPARE(window.maximumSize(), QSize(513, 237));
  QCOMPARE(scripted.Control(u"ClientArea"_s)->geometry(), QRect(3, 3, 507, 231));
  QVERIFY(!window.isVisible());  // built hidden: the load check comes first

  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  QCOMPARE(window.pos(), QPoint(screen.x() + (screen.width() - 513) / 2,
                                screen.y() + (screen.height() - 237) / 2));
  QVERIFY(window.windowIcon().availableSizes().contains(QSize(16, 16)));
}

void WindowTest::coloursAndPictures() {
  ScriptedWindow scripted;
  auto* title = scripted.Control<QLabel>(u"Label1"_s);
  QCOMPARE(title->palette().color(title->foregroundRole()), QColor(Qt::white));
  QVERIFY(!title->autoFillBackground());  // the banner shows through

  for (const QString& name : {u"LabelEmplacement"_s, u"Label4"_s}) {
    auto* label = scripted.Control<QLabel>(name);
    QVERIFY(label->autoFillBackground());
    QCOMPARE(label->backgroundRole(), QPalette::Button);
    QCOMPARE(label->foregroundRole(), QPalette::ButtonText);
  }

  QCOMPARE(scripted.Control<QLabel>(u"Picture1"_s)->pixmap().size(), QSize(513, 53));
  const QPixmap icon = scripted.Control<QLabel>(u"Image1"_s)->pixmap();
  QCOMPARE(icon.size(), QSize(32, 32));
  auto* browse0 = scripted.Control<QPushButton>(u"CmdParcourir0"_s);
  auto* browse1 = scripted.Control<QPushButton>(u"CmdParcourir1"_s);
  QVERIFY(!browse0->icon().isNull());
  QCOMPARE(browse0->property("Index").toInt(), 0);
  QCOMPARE(browse1->property("Index").toInt(), 1);
  const QImage browseImage = browse0->icon().pixmap(32, 32).toImage();
  QCOMPARE(browse1->icon().pixmap(32, 32).toImage(), browseImage);
  QVERIFY(browseImage != icon.toImage());
}

void WindowTest::bannerIsClippedAndSeparatorsDrawn() {
  ScriptedWindow scripted;
  const QImage banner = scripted.Control<QLabel>(u"Picture1"_s)->pixmap().toImage();
  const QImage shown = scripted.window.grab().toImage();
  QCOMPARE(shown.size(), QSize(513, 237));
  auto client = [&](int x, int y) { return shown.pixelColor(x + 3, y + 3); };

  // Banner rows 4 to 52 and columns 0 to 506 fill the client area's top 49 rows; the corners
  // are clear of the title and the icon.
  for (const QPoint& at :
       {QPoint(0, 0), QPoint(506, 0), QPoint(0, 48), QPoint(506, 48), QPoint(250, 3)}) {
    QCOMPARE(client(at.x(), at.y()), banner.pixelColor(at.x(), at.y() + 4));
  }

  const QPalette palette = scripted.window.palette();
  for (int x : {0, 250, 506}) {
    QCOMPARE(client(x, 49), palette.color(QPalette::WindowText));  // dark over light
    QCOMPARE(client(x, 50), palette.color(QPalette::Base));
    QCOMPARE(client(x, 179), palette.color(QPalette::Base));  // light over dark
    QCOMPARE(client(x, 180), palette.color(QPalette::WindowText));
  }
  // The frame is drawn around the client area, not over it.
  QVERIFY(shown.pixelColor(0, 100) != palette.color(QPalette::Window));
  QCOMPARE(client(0, 100), palette.color(QPalette::Window));
}

void WindowTest::textBoxesLieOverTheirLabels() {
  ScriptedWindow scripted;
  QWidget* client = scripted.Control(u"ClientArea"_s);
  // The labels reach 4 pixels into the text boxes below them.
  QCOMPARE(client->childAt(100, 95)->objectName(), u"txtCheminApplication"_s);
  QCOMPARE(client->childAt(100, 144)->objectName(), u"txtCheminMedecin"_s);
  QCOMPARE(client->childAt(100, 80)->objectName(), u"LabelEmplacement"_s);
  QCOMPARE(client->childAt(100, 130)->objectName(), u"Label4"_s);
}

void WindowTest::accessibleNames_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("spoken");
  QTest::addColumn<int>("role");

  const QString title = u"Installation des Tables de Convention de TEST pour le KVEL"_s;
  QTest::newRow("the window") << u"frmInstallFichiers"_s << title << int(QAccessible::Window);
  QTest::newRow("the banner") << u"Picture1"_s << title << int(QAccessible::Graphic);
  QTest::newRow("txtCheminApplication")
      << u"txtCheminApplication"_s << u"Chemin d'installation de la base Lexbase.mdb"_s
      << int(QAccessible::EditableText);
  QTest::newRow("CmdParcourir(0)") << u"CmdParcourir0"_s << u"Parcourir pour la base Lexbase.mdb"_s
                                   << int(QAccessible::Button);
  QTest::newRow("txtCheminMedecin")
      << u"txtCheminMedecin"_s << u"Chemin d'installation de la base Patbase.mdb"_s
      << int(QAccessible::EditableText);
  QTest::newRow("CmdParcourir(1)") << u"CmdParcourir1"_s << u"Parcourir pour la base Patbase.mdb"_s
                                   << int(QAccessible::Button);
}

// What a screen reader announces for the window and each control that takes the focus.
void WindowTest::accessibleNames() {
  QFETCH(QString, name);
  QFETCH(QString, spoken);
  QFETCH(int, role);

  ScriptedWindow scripted;
  QWidget* widget = name == scripted.window.objectName() ? &scripted.window : scripted.Control(name);
  QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
  QVERIFY(control != nullptr);
  QCOMPARE(control->text(QAccessible::Name), spoken);
  QCOMPARE(int(control->role()), role);
}

// Tab from Annuler reaches the banner, which then shows a mark inside its visible part.
void WindowTest::bannerShowsItsFocus() {
  ScriptedWindow scripted;
  QVERIFY(scripted.ShowActive());
  QWidget* banner = scripted.Control(u"Picture1"_s);
  const QImage unfocused = scripted.window.grab().toImage();
  scripted.Control(u"cmdQuitter"_s)->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), banner);
  QVERIFY(QAccessible::queryAccessibleInterface(banner)->state().focused);
  const QImage focused = scripted.window.grab().toImage();

  // The banner's pixels that changed (the buttons' own focus marks change too) reach near all
  // four sides of the banner's visible part.
  const QRect visibleBanner(3, 3, 507, 49);  // in window pixels, inside the frame
  QRect changed;
  for (int y = visibleBanner.top(); y <= visibleBanner.bottom(); ++y) {
    for (int x = visibleBanner.left(); x <= visibleBanner.right(); ++x) {
      if (focused.pixel(x, y) != unfocused.pixel(x, y)) changed |= QRect(x, y, 1, 1);
    }
  }
  QVERIFY2(changed.width() > 490 && changed.height() > 40,
           qPrintable(u"focus mark spans %1 x %2 px"_s.arg(changed.width()).arg(changed.height())));
}

void WindowTest::focusStartsInTheDictionaryField() {
  ScriptedWindow scripted;
  QVERIFY(scripted.ShowActive());
  QCOMPARE(QApplication::focusWidget()->objectName(), u"txtCheminApplication"_s);
}

void WindowTest::tabOrder_data() {
  QTest::addColumn<int>("key");
  QTest::addColumn<QStringList>("visited");  // after each key press, from txtCheminApplication

  const QStringList forward = {
      u"CmdParcourir0"_s, u"txtCheminMedecin"_s, u"CmdParcourir1"_s,       u"cmdOK"_s,
      u"cmdQuitter"_s,    u"Picture1"_s,         u"txtCheminApplication"_s};
  QStringList backward(forward.rbegin() + 1, forward.rend());
  backward << u"txtCheminApplication"_s;
  QTest::newRow("Tab") << int(Qt::Key_Tab) << forward;
  QTest::newRow("Shift+Tab") << int(Qt::Key_Backtab) << backward;
}

void WindowTest::tabOrder() {
  QFETCH(int, key);
  QFETCH(QStringList, visited);

  ScriptedWindow scripted;
  QVERIFY(scripted.ShowActive());
  QStringList seen;
  for (qsizetype step = 0; step < visited.size(); ++step) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    seen << QApplication::focusWidget()->objectName();
  }
  QCOMPARE(seen, visited);
}

void WindowTest::noDefaultNorCancelButton_data() {
  QTest::addColumn<QString>("focus");
  QTest::addColumn<int>("key");
  for (const QString& focus : {u"txtCheminApplication"_s, u"txtCheminMedecin"_s}) {
    QTest::addRow("Return in %s", qPrintable(focus)) << focus << int(Qt::Key_Return);
    QTest::addRow("Enter in %s", qPrintable(focus)) << focus << int(Qt::Key_Enter);
    QTest::addRow("Escape in %s", qPrintable(focus)) << focus << int(Qt::Key_Escape);
  }
}

void WindowTest::noDefaultNorCancelButton() {
  QFETCH(QString, focus);
  QFETCH(int, key);

  ScriptedWindow scripted;
  for (QPushButton* button : scripted.window.findChildren<QPushButton*>()) {
    QVERIFY2(!button->isDefault() && !button->autoDefault(), qPrintable(button->objectName()));
  }
  QVERIFY(scripted.ShowActive());
  QSignalSpy okClicks(scripted.Control<QPushButton>(u"cmdOK"_s), &QAbstractButton::clicked);
  QSignalSpy quitClicks(scripted.Control<QPushButton>(u"cmdQuitter"_s), &QAbstractButton::clicked);
  QWidget* field = scripted.Control(focus);
  field->setFocus();
  QTest::keyClick(field, Qt::Key(key));
  QCOMPARE(okClicks.count(), 0);
  QCOMPARE(quitClicks.count(), 0);
  QVERIFY(scripted.window.isVisible());
}

void WindowTest::accessKeys_data() {
  QTest::addColumn<int>("key");
  QTest::addColumn<QString>("pressed");  // the button the key presses; "" for none

  QTest::newRow("Alt+O presses Ok") << int(Qt::Key_O) << u"cmdOK"_s;
  QTest::newRow("Alt+A presses Annuler") << int(Qt::Key_A) << u"cmdQuitter"_s;
  // The browse buttons and the labels have no access key.
  QTest::newRow("Alt+P does nothing") << int(Qt::Key_P) << QString();
  QTest::newRow("Alt+C does nothing") << int(Qt::Key_C) << QString();
}

void WindowTest::accessKeys() {
  QFETCH(int, key);
  QFETCH(QString, pressed);

  ScriptedWindow scripted;
  QVERIFY(scripted.ShowActive());
  QSignalSpy okClicks(scripted.Control<QPushButton>(u"cmdOK"_s), &QAbstractButton::clicked);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::AltModifier);

  // An access key shows its button pressed at once and clicks it a moment later.
  QStringList down;
  for (QPushButton* button : scripted.window.findChildren<QPushButton*>()) {
    if (button->isDown()) down << button->objectName();
  }
  QCOMPARE(down, pressed.isEmpty() ? QStringList{} : QStringList{pressed});
  if (pressed == u"cmdOK"_s) QTRY_COMPARE(okClicks.count(), 1);
  if (pressed == u"cmdQuitter"_s) QTRY_VERIFY(!scripted.window.isVisible());
  if (pressed.isEmpty()) {
    QCOMPARE(okClicks.count(), 0);
    QVERIFY(scripted.window.isVisible());
  }
  QVERIFY(scripted.dialog->openings.empty());
}

void WindowTest::loadCheck_data() {
  QTest::addColumn<bool>("present");  // the source database lies in the program folder
  QTest::newRow("source database present") << true;
  QTest::newRow("source database missing") << false;
}

// Which files count as the source database: StartupCheck_test.cpp.
void WindowTest::loadCheck() {
  QFETCH(bool, present);

  QTemporaryDir programFolder;
  if (present) {
    QFile file(programFolder.filePath(u"CONVENTIONS_TEST_KVEL.mdb"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
  }
  ScriptedWindow scripted;
  QCOMPARE(scripted.window.Form_Load(programFolder.path()), present);
  QCOMPARE(scripted.window.ProgramFolder(), programFolder.path());
  QVERIFY(!scripted.window.isVisible());
  if (present) {
    QVERIFY(scripted.messages->boxes.empty());
  } else {
    QCOMPARE(scripted.messages->boxes.size(), size_t(1));
    const ScriptedMessages::Box& box = scripted.messages->boxes.front();
    QCOMPARE(box.text,
             u"La base de données 'CONVENTIONS_TEST_KVEL' n'est pas présente sur le "
             u"répertoire en cours : \r"_s +
                 programFolder.path());
    QCOMPARE(box.title, u"Installation impossible "_s);
    QCOMPARE(box.icon, OperatorMessages::Icon::Critical);
  }
}

void WindowTest::cancelButtonClosesTheWindow() {
  ScriptedWindow scripted;
  QVERIFY(scripted.ShowActive());
  scripted.Control<QPushButton>(u"cmdQuitter"_s)->click();
  QVERIFY(!scripted.window.isVisible());
  QVERIFY(scripted.messages->boxes.empty());

  // The run closes the window through the same handler.
  QVERIFY(scripted.ShowActive());
  scripted.window.cmdQuitter_Click();
  QVERIFY(!scripted.window.isVisible());
}

void WindowTest::browse_data() {
  QTest::addColumn<int>("index");
  QTest::addColumn<QStringList>("answers");  // one per opening; kCancel for a cancel
  QTest::addColumn<QString>("application");  // txtCheminApplication afterwards
  QTest::addColumn<QString>("medecin");      // txtCheminMedecin afterwards
  QTest::addColumn<QStringList>("rejections");
  QTest::addColumn<QStringList>("openedOn");  // FileName at each opening

  // Both fields start as "avant 0" and "avant 1".
  const QString before0 = u"avant 0"_s;
  const QString before1 = u"avant 1"_s;
  QTest::newRow("0: lower-case lexbase.mdb")
      << 0 << QStringList{u"/srv/Base/lexbase.mdb"_s} << u"/srv/Base/"_s << before1 << QStringList{}
      << QStringList{QString()};
  QTest::newRow("0: mixed case") << 0 << QStringList{u"/x/LexBase.Mdb"_s} << u"/x/"_s << before1
                                 << QStringList{} << QStringList{QString()};
  QTest::newRow("0: at the root") << 0 << QStringList{u"/LEXBASE.MDB"_s} << u"/"_s << before1
                                  << QStringList{} << QStringList{QString()};
  QTest::newRow("1: accented folders")
      << 1 << QStringList{u"/home/médecin/données/PATBASE.MDB"_s} << before0
      << u"/home/médecin/données/"_s << QStringList{} << QStringList{QString()};
  QTest::newRow("0: Patbase.mdb, then lexbase.mdb")
      << 0 << QStringList{u"/x/Patbase.mdb"_s, u"/y/lexbase.mdb"_s} << u"/y/"_s << before1
      << QStringList{kNotLexbase} << QStringList{QString(), u"/x/Patbase.mdb"_s};
  QTest::newRow("1: lexbase.mdb, then patbase.mdb")
      << 1 << QStringList{u"/x/lexbase.mdb"_s, u"/x/patbase.mdb"_s} << before0 << u"/x/"_s
      << QStringList{kNotPatbase} << QStringList{QString(), u"/x/lexbase.mdb"_s};
  QTest::newRow("0: a longer name ending in LEXBASE.MDB")
      << 0 << QStringList{u"/x/OLDLEXBASE.MDB"_s, kCancel} << before0 << before1
      << QStringList{kNotLexbase} << QStringList{QString(), u"/x/OLDLEXBASE.MDB"_s};
  QTest::newRow("0: the bare name, without folder")
      << 0 << QStringList{u"LEXBASE.MDB"_s, kCancel} << before0 << before1
      << QStringList{kNotLexbase} << QStringList{QString(), u"LEXBASE.MDB"_s};
  QTest::newRow("0: a backslash is not the separator")
      << 0 << QStringList{u"C:\\Base\\LEXBASE.MDB"_s, kCancel} << before0 << before1
      << QStringList{kNotLexbase} << QStringList{QString(), u"C:\\Base\\LEXBASE.MDB"_s};
  QTest::newRow("0: cancel at once")
      << 0 << QStringList{kCancel} << before0 << before1 << QStringList{} << QStringList{QString()};
  QTest::newRow("1: cancel after two wrong files")
      << 1 << QStringList{u"/a/lexbase.mdb"_s, u"/a/notes.txt"_s, kCancel} << before0 << before1
      << QStringList{kNotPatbase, kNotPatbase}
      << QStringList{QString(), u"/a/lexbase.mdb"_s, u"/a/notes.txt"_s};
  QTest::newRow("2: no such button") << 2 << QStringList{u"/x/lexbase.mdb"_s} << before0 << before1
                                     << QStringList{} << QStringList{};
  QTest::newRow("-1: no such button") << -1 << QStringList{u"/x/lexbase.mdb"_s} << before0
                                      << before1 << QStringList{} << QStringList{};
}

void WindowTest::browse() {
  QFETCH(int, index);
  QFETCH(QStringList, answers);
  QFETCH(QString, application);
  QFETCH(QString, medecin);
  QFETCH(QStringList, rejections);
  QFETCH(QStringList, openedOn);

  ScriptedWindow scripted;
  scripted.window.SetCheminApplication(u"avant 0"_s);
  scripted.window.SetCheminMedecin(u"avant 1"_s);
  // What an earlier click left in the dialog must not show on this one's first opening.
  scripted.dialog->FileName = u"/earlier/choice.mdb"_s;
  scripted.dialog->answers = answers;

  if (index == 0 || index == 1) {
    scripted.Control<QPushButton>(u"CmdParcourir%1"_s.arg(index))->click();
  } else {
    scripted.window.CmdParcourir_Click(index);
  }

  QCOMPARE(scripted.window.CheminApplication(), application);
  QCOMPARE(scripted.window.CheminMedecin(), medecin);
  QStringList shownRejections;
  for (const ScriptedMessages::Box& box : scripted.messages->boxes) {
    QCOMPARE(box.title, u"Attention"_s);
    QCOMPARE(box.icon, OperatorMessages::Icon::Critical);
    shownRejections << box.text;
  }
  QCOMPARE(shownRejections, rejections);
  QStringList fileNames;
  for (const ScriptedFileOpenDialog::Opening& opening : scripted.dialog->openings) {
    fileNames << opening.fileName;
  }
  QCOMPARE(fileNames, openedOn);
}

void WindowTest::browseOpeningsCarryTitleFilterAndCancelError() {
  ScriptedWindow scripted;
  QCOMPARE(scripted.dialog->DialogTitle, u"Recherche des bases de données Access"_s);
  QCOMPARE(scripted.dialog->Filter, u"Fichiers MAJ (*.*) |*.*"_s);
  scripted.dialog->answers = {u"/a/b.mdb"_s, kCancel, u"/a/c.mdb"_s, kCancel};
  scripted.window.CmdParcourir_Click(0);
  scripted.window.CmdParcourir_Click(1);
  QCOMPARE(scripted.dialog->openings.size(), size_t(4));
  for (const ScriptedFileOpenDialog::Opening& opening : scripted.dialog->openings) {
    QCOMPARE(opening.title, u"Recherche des bases de données Access"_s);
    QCOMPARE(opening.filter, kFilter);
    QVERIFY(opening.cancelError);
  }
}

void WindowTest::waitCursor() {
  ScriptedWindow scripted;
  frmInstallFichiers& window = scripted.window;
  window.SetWaitCursor(true);
  QCOMPARE(window.cursor().shape(), Qt::WaitCursor);
  QCOMPARE(scripted.Control(u"Picture1"_s)->cursor().shape(), Qt::WaitCursor);
  window.SetWaitCursor(false);
  QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
}

static const bool registered = RegisterTest<WindowTest>();

#include "frmInstallFichiers_test.moc"
