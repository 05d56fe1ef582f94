// The file-open dialog adapter and its real QFileDialog form.
#include "app/FileOpenDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

using namespace Qt::StringLiterals;

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
