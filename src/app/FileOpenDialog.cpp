// SPDX-License-Identifier: Apache-2.0
// The file-open dialog adapter and its real QFileDialog form.
#include "FileOpenDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace app {

namespace {

// The columns of the dialog's detailed file list.
enum FileColumn { kName = 0, kSize = 1, kType = 2, kModified = 3 };

// Qt writes the sizes and dates of the file list in the system's language (LANG); this proxy
// writes them in French whatever LANG, the dates in the window's day-first form.
class FrenchFileDetails : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& index, int role) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || files == nullptr ||
        (index.column() != kSize && index.column() != kModified)) {
      return QIdentityProxyModel::data(index, role);
    }
    const QModelIndex source = mapToSource(index);
    if (index.column() == kModified) {
      return files->lastModified(source).toString(u"dd/MM/yyyy HH:mm:ss"_s);
    }
    if (files->isDir(source)) return QString();
    return QLocale(QLocale::French, QLocale::France).formattedDataSize(files->size(source));
  }
};

// The size, type and date columns take the width of their heading and widest value, the name
// column what is left, so that nothing is cut at the dialog's size.
void FitColumns(QFileDialog& dialog) {
  auto* files = dialog.findChild<QTreeView*>(u"treeView"_s);
  if (files == nullptr) return;
  QHeaderView* header = files->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(kName, QHeaderView::Stretch);
  for (int column : {kSize, kType, kModified}) {
    header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
  }
}

}  // namespace

void FileOpenDialog::ShowOpen() {
  std::optional<QString> chosen = AskForFile();
  if (chosen) {
    FileName = *chosen;
    return;
  }
  if (CancelError) throw DialogCancelled();
}

QtFileOpenDialog::QtFileOpenDialog(QWidget* owner) : owner_(owner) {}

std::unique_ptr<QFileDialog> QtFileOpenDialog::BuildDialog() const {
  QWidget* parent = owner_ && owner_->isVisible() ? owner_.data() : nullptr;
  auto dialog = std::make_unique<QFileDialog>(parent, DialogTitle);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  // The descriptions already name their patterns; the list shows them as written.
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setNameFilters(NameFiltersFromFilter(Filter));
  dialog->setProxyModel(new FrenchFileDetails(dialog.get()));
  FitColumns(*dialog);
  if (!FileName.isEmpty()) {
    dialog->selectFile(FileName);
  } else if (!lastFolder_.isEmpty()) {
    dialog->setDirectory(lastFolder_);
  }
  return dialog;
}

std::optional<QString> QtFileOpenDialog::AskForFile() {
  std::unique_ptr<QFileDialog> dialog = BuildDialog();
  if (dialog->exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog->selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  lastFolder_ = QFileInfo(chosen.first()).absolutePath();
  return chosen.first();
}

QStringList NameFiltersFromFilter(const QString& filter) {
  const QStringList pieces = filter.split(u'|');
  QStringList nameFilters;
  for (qsizetype pairStart = 0; pairStart + 1 < pieces.size(); pairStart += 2) {
    QStringList patterns;
    for (const QString& pattern : pieces[pairStart + 1].split(u';')) {
      if (!pattern.trimmed().isEmpty()) patterns << pattern.trimmed();
    }
    if (patterns.isEmpty()) continue;
    nameFilters << pieces[pairStart] + u" ("_s + patterns.join(u' ') + u')';
  }
  return nameFilters;
}

}  // namespace app
