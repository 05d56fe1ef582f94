// SPDX-License-Identifier: Apache-2.0
// Tests of the installation run through the installer window: the fields filled in, cmdOK
// clicked, on copies of the sample databases in temporary folders, with scripted boxes.
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstddef>
#include <string>

#include "AppTestSupport.h"
#include "frmInstallFichiers.h"
#include "dbengine/dbengine.h"
#include "support/held_reader.h"

using namespace Qt::StringLiterals;

using namespace app;

namespace {

const QString kSourceName = u"CONVENTIONS_TEST_KVEL.mdb"_s;

struct Table {
  const char* name;
  bool inDictionary;  // lexbase.mdb; patbase.mdb otherwise
};
const Table kTables[] = {{"CentreServicesAMC", true},
                         {"CORRESPONDANCE_MUTNUM_AMC", true},
                         {"Conventions", false},
                         {"CONVENTIONS_REGROUPEMENT", false},
                         {"CONVENTIONS_TYPE", false}};

// The number of rows of `table` in `database`; -1 (and a warning) when it cannot be read.
long RowCount(const QString& database, const char* table) {
  try {
    dbengine::Database db;
    db.Open(database.toStdString());
    long count = 0;
    {
      dbengine::Recordset rows = db.OpenRecordset("SELECT * FROM [" + std::string(table) + "]");
      for (; !rows.IsEOF(); rows.MoveNext()) ++count;
    }
    db.Close();
    return count;
  } catch (const dbengine::Error& error) {
    qWarning("%s in %s: error %d, %s", table, qPrintable(database), int(error.Number()),
             error.Description().c_str());
    return -1;
  }
}

// The program, dictionary and data folders of one run, each holding a copy of its sample
// database.
struct Folders {
  QTemporaryDir root;

  QString Program() const { return root.filePath(u"programme"_s); }
  QString Dictionary() const { return root.filePath(u"dictionnaire"_s); }
  QString Data() const { return root.filePath(u"donnees"_s); }
  QString Source() const { return Program() + u'/' + kSourceName; }
  QString Lexbase() const { return Dictionary() + u"/lexbase.mdb"_s; }
  QString Patbase() const { return Data() + u"/patbase.mdb"_s; }

  bool Prepare() const {
    const QString sample = QStringLiteral(SAMPLE_DIR);
    QDir dir(root.path());
    return root.isValid() && dir.mkdir(u"programme"_s) && dir.mkdir(u"dictionnaire"_s) &&
           dir.mkdir(u"donnees"_s) && QFile::copy(sample + u'/' + kSourceName, Source()) &&
           QFile::copy(sample + u"/dictionnaire/lexbase.mdb"_s, Lexbase()) &&
           QFile::copy(sample + u"/donnees/patbase.mdb"_s, Patbase());
  }
};

// A window with scripted boxes, loaded from `programFolder` and shown.
struct LoadedWindow {
  LoadedWindow()
      : messages(new ScriptedMessages), window(std::unique_ptr<OperatorMessages>(messages)) {}

  bool LoadAndShow(const QString& programFolder) {
    if (!window.Form_Load(programFolder)) return false;
    window.show();
    return QTest::qWaitForWindowExposed(&window);
  }

  QPushButton* Ok() { return window.findChild<QPushButton*>(u"cmdOK"_s); }

  ScriptedMessages* messages;  // owned by the window
  frmInstallFichiers window;
};

// Counts the paint events of the object it watches.
class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

class InstallationWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void okInstallsAndCloses();
  void okWithEmptyFieldsOnlyWarns();
  void heldTargetKeepsThePictureWhileTheRunWaits();
};

void InstallationWindowTest::okInstallsAndCloses() {
  Folders folders;
  QVERIFY(folders.Prepare());
  // The older rows the run replaces: the targets start unlike the source.
  QVERIFY(RowCount(folders.Patbase(), "Conventions") != RowCount(folders.Source(), "Conventions"));

  LoadedWindow loaded;
  QVERIFY(loaded.LoadAndShow(folders.Program()));
  QVERIFY(loaded.messages->boxes.empty());
  loaded.window.SetCheminApplication(folders.Dictionary());  // without a final "/"
  loaded.window.SetCheminMedecin(folders.Data() + u'/');     // with it
  QPushButton* ok = loaded.Ok();
  QVERIFY(ok != nullptr);
  QVERIFY(ok->isEnabled());
  ok->click();

  QCOMPARE(loaded.messages->boxes.size(), std::size_t(1));
  const ScriptedMessages::Box& box = loaded.messages->boxes.front();
  QCOMPARE(box.text, u"Installation terminée."_s);
  QCOMPARE(box.title, u"Installation des conventions de tests du KVEL"_s);
  QCOMPARE(box.icon, OperatorMessages::Icon::Information);
  QVERIFY(!ok->isEnabled());
  QVERIFY(!loaded.window.isVisible());
  QCOMPARE(loaded.window.cursor().shape(), Qt::ArrowCursor);

  for (const Table& table : kTables) {
    const long source = RowCount(folders.Source(), table.name);
    QVERIFY2(source > 0, table.name);
    QCOMPARE(RowCount(table.inDictionary ? folders.Lexbase() : folders.Patbase(), table.name),
             source);
  }
  const QStringList leftovers = QDir(folders.Data()).entryList({u"TB_*.txt"_s}, QDir::Files) +
                                QDir(folders.Dictionary()).entryList({u"TB_*.txt"_s}, QDir::Files);
  QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(u", "_s)));
}

void InstallationWindowTest::okWithEmptyFieldsOnlyWarns() {
  Folders folders;
  QVERIFY(folders.Prepare());
  const long before = RowCount(folders.Patbase(), "Conventions");

  LoadedWindow loaded;
  QVERIFY(loaded.LoadAndShow(folders.Program()));
  loaded.window.SetCheminApplication(QString());
  loaded.window.SetCheminMedecin(QString());
  QPushButton* ok = loaded.Ok();
  QVERIFY(ok != nullptr);
  ok->click();

  QCOMPARE(loaded.messages->boxes.size(), std::size_t(1));
  const ScriptedMessages::Box& box = loaded.messages->boxes.front();
  QCOMPARE(box.text, u"Le chemin de la base Lexbase.mdb n'est pas spécifié !"_s);
  QCOMPARE(box.title, u"Attention"_s);
  QCOMPARE(box.icon, OperatorMessages::Icon::Critical);
  QVERIFY(ok->isEnabled());
  QVERIFY(loaded.window.isVisible());
  QCOMPARE(RowCount(folders.Patbase(), "Conventions"), before);
}

void InstallationWindowTest::heldTargetKeepsThePictureWhileTheRunWaits() {
  Folders folders;
  QVERIFY(folders.Prepare());
  // Another program in the middle of a write to patbase.mdb: the run's first
  // statement on it waits 5 s.
  HeldReader writer(folders.Patbase().toStdString(), "Conventions", HeldReader::kWrite);
  QVERIFY(writer.CountBefore() > 0);

  LoadedWindow loaded;
  QVERIFY(loaded.LoadAndShow(folders.Program()));
  loaded.window.SetCheminApplication(folders.Dictionary());
  loaded.window.SetCheminMedecin(folders.Data());
  PaintCounter counter;
  loaded.window.installEventFilter(&counter);
  // The run blocks the event loop but while it waits: a timer that fires
  // during the run fires during the wait.
  bool looked = false;
  bool visibleAfterClose = false;
  Qt::CursorShape pointer = Qt::ArrowCursor;
  int paintsThen = 0;
  QTimer::singleShot(500, &loaded.window, [&] {
    looked = true;
    pointer = loaded.window.cursor().shape();
    loaded.window.close();  // as the window manager's close button asks
    visibleAfterClose = loaded.window.isVisible();
    paintsThen = counter.paints;
    loaded.window.update();
  });
  loaded.Ok()->click();

  QVERIFY2(looked, "the window's events were handled while the run waited");
  QCOMPARE(pointer, Qt::WaitCursor);
  QVERIFY2(visibleAfterClose, "the window is not closed in the middle of the run");
  QVERIFY2(counter.paints > paintsThen, "the window was repainted while the run waited");
  QCOMPARE(loaded.messages->boxes.size(), std::size_t(2));
  QVERIFY(loaded.messages->boxes.front().text.contains(u"erreur n°3050"_s));
  QVERIFY(!loaded.window.isVisible());
  QCOMPARE(writer.Release(), writer.CountBefore());
}

static const bool registered = RegisterTest<InstallationWindowTest>();

#include "InstallationWindow_test.moc"
