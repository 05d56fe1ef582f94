// SPDX-License-Identifier: Apache-2.0
// Tests of the start-up check and of the letter-case-blind lookup of database files.
#include "StartupCheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "AppTestSupport.h"

using namespace Qt::StringLiterals;

using namespace app;

class StartupCheckTest : public QObject {
  Q_OBJECT

 private slots:
  void lookup_data();
  void lookup();
  void messageNamesTheFolderAsGiven_data();
  void messageNamesTheFolderAsGiven();
};

void StartupCheckTest::lookup_data() {
  QTest::addColumn<QStringList>("entries");  // a name ending in "/" is a folder, "@a>b" a link
  QTest::addColumn<QString>("found");        // "" for none

  const QString name = u"CONVENTIONS_TEST_KVEL.mdb"_s;
  QTest::newRow("exact name") << QStringList{name} << name;
  QTest::newRow("nothing") << QStringList{} << QString();
  QTest::newRow("other files") << QStringList{u"lexbase.mdb"_s, name + u".bak"_s, u"x"_s + name}
                               << QString();
  QTest::newRow("folder of that name") << QStringList{name + u'/'} << QString();
  QTest::newRow("lower-case file")
      << QStringList{u"conventions_test_kvel.mdb"_s} << u"conventions_test_kvel.mdb"_s;
  QTest::newRow("exact spelling wins")
      << QStringList{u"CONVENTIONS_TEST_KVEL.MDB"_s, name, u"conventions_test_kvel.mdb"_s} << name;
  QTest::newRow("first variant in byte order")
      << QStringList{u"conventions_test_kvel.mdb"_s, u"Conventions_Test_Kvel.mdb"_s}
      << u"Conventions_Test_Kvel.mdb"_s;
  QTest::newRow("folder variant passed over")
      << QStringList{u"conventions_test_kvel.mdb/"_s, u"CONVENTIONS_TEST_KVEL.MDB"_s}
      << u"CONVENTIONS_TEST_KVEL.MDB"_s;
  QTest::newRow("link to a file") << QStringList{u"real.mdb"_s, u"@real.mdb>"_s + name} << name;
  QTest::newRow("dangling link") << QStringList{u"@gone.mdb>"_s + name} << QString();
}

void StartupCheckTest::lookup() {
  QFETCH(QStringList, entries);
  QFETCH(QString, found);

  QTemporaryDir folder;
  for (const QString& entry : entries) {
    if (entry.endsWith(u'/')) {
      QVERIFY(QDir(folder.path()).mkdir(entry.chopped(1)));
    } else if (entry.startsWith(u'@')) {
      const QStringList link = entry.mid(1).split(u'>');
      QVERIFY(QFile::link(folder.filePath(link[0]), folder.filePath(link[1])));
    } else {
      QFile file(folder.filePath(entry));
      QVERIFY(file.open(QIODevice::WriteOnly));
    }
  }

  const std::optional<std::filesystem::path> path =
      support::FindFileIgnoringCase(ToFileSystemPath(folder.path()), installation::kSourceDatabaseName);
  QCOMPARE(path ? QString::fromStdString(path->filename().string()) : QString(), found);
  const std::optional<QString> message = StartupCheckMessage(folder.path());
  QCOMPARE(!message.has_value(), !found.isEmpty());
}

void StartupCheckTest::messageNamesTheFolderAsGiven_data() {
  QTest::addColumn<QString>("programFolder");
  QTest::addColumn<QString>("expectedEnd");

  // The root is looked at as "/CONVENTIONS_TEST_KVEL.mdb" and named as "/".
  QTest::newRow("root") << u"/"_s << u" : \r/"_s;
  QTest::newRow("missing folder") << u"/nonexistent/é dossier"_s
                                  << u" : \r/nonexistent/é dossier"_s;
}

void StartupCheckTest::messageNamesTheFolderAsGiven() {
  QFETCH(QString, programFolder);
  QFETCH(QString, expectedEnd);

  const std::optional<QString> message = StartupCheckMessage(programFolder);
  QVERIFY(message.has_value());
  QCOMPARE(*message,
           u"La base de données 'CONVENTIONS_TEST_KVEL' n'est pas présente sur le "
           u"répertoire en cours"_s +
               expectedEnd);
}

static const bool registered = RegisterTest<StartupCheckTest>();

#include "StartupCheck_test.moc"
