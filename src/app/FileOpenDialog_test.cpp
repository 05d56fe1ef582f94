// SPDX-License-Identifier: Apache-2.0
// Tests of the file-open dialog adapter: the filter string's translation into Qt name filters,
// the dialog it builds, Qt's own texts in it (French, as the program loads them), and how a
// choice and a cancel come back from ShowOpen.
#include "FileOpenDialog.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include "AppTestSupport.h"

using namespace Qt::StringLiterals;

using namespace app;

namespace {

const QString kFilter = u"Base de données Access (*.mdb) | *.mdb|Tous les Fichiers  (*.*) |*.*"_s;

bool Touch(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly);
}

}  // namespace

class FileOpenDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void nameFilters_data();
  void nameFilters();
  void builtDialog();
  void qtTextsAreFrench();
  void fileListIsFrenchAndUncut();
  void showOpen_data();
  void showOpen();
  void opensAgainInTheLastFolder();
};

void FileOpenDialogTest::nameFilters_data() {
  QTest::addColumn<QString>("filter");
  QTest::addColumn<QStringList>("nameFilters");

  QTest::newRow("the browse buttons' filter")
      << kFilter
      << QStringList{u"Base de données Access (*.mdb)  (*.mdb)"_s,
                     u"Tous les Fichiers  (*.*)  (*.*)"_s};
  QTest::newRow("the window's first filter")
      << u"Fichiers MAJ (*.*) |*.*"_s << QStringList{u"Fichiers MAJ (*.*)  (*.*)"_s};
  QTest::newRow("several patterns")
      << u"Images|*.bmp; *.jpg ;*.png"_s << QStringList{u"Images (*.bmp *.jpg *.png)"_s};
  QTest::newRow("empty") << QString() << QStringList{};
  QTest::newRow("description without pattern")
      << u"Texte|*.txt|Orphelin"_s << QStringList{u"Texte (*.txt)"_s};
  QTest::newRow("blank pattern") << u"Rien| |Texte|*.txt"_s << QStringList{u"Texte (*.txt)"_s};
}

void FileOpenDialogTest::nameFilters() {
  QFETCH(QString, filter);
  QFETCH(QStringList, nameFilters);
  QCOMPARE(NameFiltersFromFilter(filter), nameFilters);
}

void FileOpenDialogTest::builtDialog() {
  QTemporaryDir folder;
  const QString chosen = folder.filePath(u"lexbase.mdb"_s);
  QVERIFY(Touch(chosen));

  QtFileOpenDialog adapter;
  adapter.DialogTitle = u"Recherche des bases de données Access"_s;
  adapter.Filter = kFilter;
  adapter.FileName = chosen;
  const std::unique_ptr<QFileDialog> dialog = adapter.BuildDialog();

  QCOMPARE(dialog->windowTitle(), u"Recherche des bases de données Access"_s);
  QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
  QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
  QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
  QCOMPARE(dialog->directory().absolutePath(), folder.path());
  QCOMPARE(dialog->selectedFiles(), QStringList{chosen});
  QCOMPARE(dialog->nameFilters().size(), 2);
  // The operator reads the descriptions; the patterns stay out of sight.
  auto* types = dialog->findChild<QComboBox*>(u"fileTypeCombo"_s);
  QVERIFY(types != nullptr);
  QCOMPARE(types->itemText(0), u"Base de données Access (*.mdb)"_s);
  QCOMPARE(types->itemText(1), u"Tous les Fichiers (*.*)"_s);
}

// The test binary loads Qt's French as the program does and runs under the C locale: what Qt
// writes itself in the dialog is French all the same.
void FileOpenDialogTest::qtTextsAreFrench() {
  QTemporaryDir folder;
  const QString database = folder.filePath(u"lexbase.mdb"_s);
  QVERIFY(Touch(database));
  QtFileOpenDialog adapter;
  adapter.Filter = kFilter;
  adapter.FileName = database;
  const std::unique_ptr<QFileDialog> dialog = adapter.BuildDialog();
  auto text = [&](const QString& labelName) {
    const auto* label = dialog->findChild<QLabel*>(labelName);
    return label != nullptr ? label->text().remove(u'&') : u"<absent>"_s;
  };
  const auto* buttons = dialog->findChild<QDialogButtonBox*>(u"buttonBox"_s);
  QVERIFY(buttons != nullptr);
  QCOMPARE(buttons->button(QDialogButtonBox::Open)->text().remove(u'&'), u"Ouvrir"_s);
  QCOMPARE(buttons->button(QDialogButtonBox::Cancel)->text().remove(u'&'), u"Annuler"_s);
  QCOMPARE(text(u"lookInLabel"_s), u"Voir dans :"_s);
  QCOMPARE(text(u"fileNameLabel"_s), u"Nom de fichier :"_s);
  QCOMPARE(text(u"fileTypeLabel"_s), u"Fichiers de type :"_s);

  const auto* files = dialog->findChild<QAbstractItemView*>(u"treeView"_s);
  QVERIFY(files != nullptr);
  QStringList headers;
  for (int column = 0; column < files->model()->columnCount(); ++column) {
    headers << files->model()->headerData(column, Qt::Horizontal).toString();
  }
  QCOMPARE(headers, (QStringList{u"Nom"_s, u"Taille"_s, u"Type"_s, u"Dernière modification"_s}));
  // The type names come from the MIME database, in Qt's default language.
  auto* model = dialog->findChild<QFileSystemModel*>();
  QVERIFY(model != nullptr);
  QTRY_COMPARE(model->data(model->index(database).siblingAtColumn(2)).toString(),
               u"base de données JET"_s);
  // Missing from Qt's French catalogue; the installer's own supplies it.
  QCOMPARE(model->data(model->index(folder.path()).siblingAtColumn(2)).toString(), u"Dossier"_s);
  QCOMPARE(dialog->findChild<QToolButton*>(u"toParentButton"_s)->toolTip(), u"Dossier parent"_s);
  // The file list's context menu.
  QCOMPARE(dialog->findChild<QAction*>(u"qt_new_folder_action"_s)->text().remove(u'&'),
           u"Nouveau dossier"_s);
}

// The detailed list as the operator sees it at the dialog's own size, under the C locale:
// sizes and dates in French, and each column wide enough for its heading and its values.
void FileOpenDialogTest::fileListIsFrenchAndUncut() {
  QTemporaryDir folder;
  const QString database = folder.filePath(u"lexbase.mdb"_s);
  QFile file(database);
  QVERIFY(file.open(QIODevice::WriteOnly) && file.write("0123456789") == 10);
  file.close();
  QtFileOpenDialog adapter;
  adapter.Filter = kFilter;
  adapter.FileName = database;

  QStringList row, headings, cut;
  AnswerNextModal<QFileDialog>([&](QFileDialog* dialog) {
    auto* files = dialog->findChild<QTreeView*>(u"treeView"_s);
    QModelIndex entry;
    for (int wait = 0; wait < 100 && !entry.isValid(); ++wait) {
      QTest::qWait(20);
      const QModelIndexList found = files->model()->match(
          files->model()->index(0, 0, files->rootIndex()), Qt::DisplayRole, u"lexbase.mdb"_s);
      if (!found.isEmpty()) entry = found.first();
    }
    QHeaderView* header = files->header();
    for (int column = 0; column < 4 && entry.isValid(); ++column) {
      row << entry.siblingAtColumn(column).data().toString();
      headings << files->model()->headerData(column, Qt::Horizontal).toString();
      const int needed =
          std::max(QFontMetrics(files->font()).horizontalAdvance(row.last()),
                   QFontMetrics(header->font()).horizontalAdvance(headings.last()));
      const int right = header->sectionViewportPosition(column) + header->sectionSize(column);
      if (header->sectionSize(column) < needed || right > files->viewport()->width()) {
        cut << u"%1: %2 px needed, %3 px from %4 in %5"_s.arg(headings.last())
                   .arg(needed)
                   .arg(header->sectionSize(column))
                   .arg(header->sectionViewportPosition(column))
                   .arg(files->viewport()->width());
      }
    }
    dialog->reject();
  });
  adapter.ShowOpen();

  QCOMPARE(row.size(), 4);
  QCOMPARE(row[1], u"10 octets"_s);
  // The window's date form, day first.
  QCOMPARE(row[3], QFileInfo(database).lastModified().toString(u"dd/MM/yyyy HH:mm:ss"_s));
  QVERIFY2(cut.isEmpty(), qPrintable(cut.join(u"; "_s)));
}

void FileOpenDialogTest::showOpen_data() {
  QTest::addColumn<bool>("choose");
  QTest::addColumn<bool>("cancelError");
  QTest::addColumn<bool>("raises");

  QTest::newRow("choice") << true << true << false;
  QTest::newRow("cancel raises") << false << true << true;
  QTest::newRow("cancel returns") << false << false << false;
}

void FileOpenDialogTest::showOpen() {
  QFETCH(bool, choose);
  QFETCH(bool, cancelError);
  QFETCH(bool, raises);

  QTemporaryDir folder;
  const QString file = folder.filePath(u"PATBASE.MDB"_s);
  QVERIFY(Touch(file));
  QtFileOpenDialog adapter;
  adapter.DialogTitle = u"Titre"_s;
  adapter.Filter = kFilter;
  adapter.FileName = u"/earlier/name.mdb"_s;
  adapter.CancelError = cancelError;

  QString shownTitle;
  AnswerNextModal<QFileDialog>([&](QFileDialog* dialog) {
    shownTitle = dialog->windowTitle();
    if (choose) {
      dialog->selectFile(file);
      static_cast<QDialog*>(dialog)->accept();  // as the Open button does
    } else {
      dialog->reject();
    }
  });
  bool raised = false;
  try {
    adapter.ShowOpen();
  } catch (const DialogCancelled&) {
    raised = true;
  }

  QCOMPARE(shownTitle, u"Titre"_s);
  QCOMPARE(raised, raises);
  QCOMPARE(adapter.FileName, choose ? file : u"/earlier/name.mdb"_s);
}

void FileOpenDialogTest::opensAgainInTheLastFolder() {
  QTemporaryDir folder;
  const QString file = folder.filePath(u"lexbase.mdb"_s);
  QVERIFY(Touch(file));
  QtFileOpenDialog adapter;
  AnswerNextModal<QFileDialog>([&](QFileDialog* dialog) {
    dialog->selectFile(file);
    static_cast<QDialog*>(dialog)->accept();
  });
  adapter.ShowOpen();
  QCOMPARE(adapter.FileName, file);

  adapter.FileName.clear();
  QCOMPARE(adapter.BuildDialog()->directory().absolutePath(), folder.path());
}

static const bool registered = RegisterTest<FileOpenDialogTest>();

#include "FileOpenDialog_test.moc"
