// SPDX-License-Identifier: Apache-2.0
// The installer window: its controls built in code, its frame, and its click handlers.
#include "frmInstallFichiers.h"

#include <qdrawutil.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <limits>

#include "InstallationRun.h"
#include "StartupCheck.h"

using namespace Qt::StringLiterals;

// The pictures are compiled into this static library; registering them by hand keeps the linker
// from dropping them, since nothing else refers to them by name. Outside the namespace: Qt's
// resource functions are global.
static void RegisterPictures() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(pictures);
    return true;
  }();
  (void)registered;
}

namespace app {

namespace {

const QString kBannerTitle = u"Installation des Tables de Convention de TEST pour le KVEL"_s;

// A screen reader sees the window as a window (a plain widget would be a "filler" with no
// role of its own), named by its accessible name.
QAccessibleInterface* WindowAccessibility(const QString& className, QObject* object) {
  if (className == QLatin1StringView(frmInstallFichiers::staticMetaObject.className()) && object != nullptr &&
      object->isWidgetType()) {
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
  }
  return nullptr;
}

// The banner picture. It takes the focus in its turn; while it has it, a dotted white rectangle
// runs inside the part of the banner that the client area shows, so the keyboard user sees it.
class BannerPicture : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QLabel::paintEvent(event);
    if (!hasFocus()) return;
    QPainter painter(this);
    painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
    // The banner overhangs the client area by 4 rows above and 6 columns on the right.
    painter.drawRect(QRect(2, 6, width() - 6 - 5, height() - 4 - 5));
  }
};

// What each browse button accepts, and how it refuses any other file.
struct BrowseRow {
  QString acceptedEnding;  // "/" and the file name, in upper case: 12 characters
  QString rejection;
};

const BrowseRow* BrowseRowOf(int index) {
  static const BrowseRow rows[2] = {
      {u"/LEXBASE.MDB"_s, u"Le fichier sélectionné n'est pas une Base LEXBASE.MDB !"_s},
      {u"/PATBASE.MDB"_s, u"Le fichier sélectionné n'est pas une Base PATBASE.MDB !"_s},
  };
  return index == 0 || index == 1 ? &rows[index] : nullptr;
}

// The file types the browse buttons offer, handed to the dialog as written, blanks included.
QString DatabaseFilter() {
  return u"Base de données Access (*.mdb) | *.mdb|Tous les Fichiers  (*.*) |*.*"_s;
}

// The compared ending is the separator and the file name; the field receives the chosen path
// without the file name alone, so the folder keeps its final separator.
constexpr qsizetype kAcceptedEndingLength = 12;
constexpr qsizetype kDatabaseFileNameLength = 11;

// The window was laid out for Arial's metrics. Where Arial is missing, the package's own
// dependency, Liberation Sans, has the same metrics; it is asked for by name, so that the texts
// keep their width even where no configuration maps Arial to it and another family would be
// picked (DejaVu Sans, wider, cuts the banner's title).
QFont ArialPixels(int pixelSize, bool bold = false) {
  QFont font;
  font.setFamilies({u"Arial"_s, u"Liberation Sans"_s});
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, const QFont& font,
                  const QRect& geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setFont(font);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(geometry);
  return label;
}

template <typename Label = QLabel>
QLabel* MakePicture(QWidget* parent, const QString& name, const QPixmap& picture,
                    const QRect& geometry) {
  auto* label = new Label(parent);
  label->setObjectName(name);
  label->setPixmap(picture);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(geometry);
  return label;
}

QLineEdit* MakeTextBox(QWidget* parent, const QString& name, const QRect& geometry) {
  auto* textBox = new QLineEdit(parent);
  textBox->setObjectName(name);
  textBox->setFont(ArialPixels(13));
  textBox->setMaxLength(std::numeric_limits<int>::max());
  textBox->setGeometry(geometry);
  return textBox;
}

// A button that is neither a default nor an auto-default one, so Enter never presses it.
QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& text,
                        const QRect& geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  button->setDefault(false);
  button->setGeometry(geometry);
  return button;
}

// A one-pixel horizontal line from x = `fromX` up to (not including) `toX`, in `colour`.
QWidget* MakeLine(QWidget* parent, const QString& name, int fromX, int toX, int y,
                  QPalette::ColorRole colour) {
  auto* line = new QWidget(parent);
  line->setObjectName(name);
  line->setBackgroundRole(colour);
  line->setAutoFillBackground(true);
  line->setGeometry(fromX, y, toX - fromX, 1);
  return line;
}

}  // namespace

QString DisplayName() { return u"Installation des conventions de test"_s; }

QIcon ApplicationIcon() {
  RegisterPictures();
  QIcon embedded(u":/pictures/window-icon.ico"_s);
  for (const int side : {48, 64, 128, 256}) {
    embedded.addFile(u":/icons/%1x%1/installateur-conventions.png"_s.arg(side), QSize(side, side));
  }
  return QIcon::fromTheme(u"installateur-conventions"_s, embedded);
}

frmInstallFichiers::frmInstallFichiers(std::unique_ptr<OperatorMessages> messages,
                                       std::unique_ptr<FileOpenDialog> rechDiag)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint),
      messages_(messages ? std::move(messages) : std::make_unique<MessageBoxes>(this)),
      rechDiag_(rechDiag ? std::move(rechDiag) : std::make_unique<QtFileOpenDialog>(this)) {
  RegisterPictures();
  static const bool accessibilityInstalled = [] {
    QAccessible::installFactory(WindowAccessibility);
    return true;
  }();
  (void)accessibilityInstalled;
  setObjectName(u"frmInstallFichiers"_s);
  // The window shows no title bar; the title is what taskbars and window lists show.
  setWindowTitle(DisplayName());
  setAccessibleName(kBannerTitle);
  setWindowIcon(ApplicationIcon());
  setFixedSize(kClientWidth + 2 * kFrameThickness, kClientHeight + 2 * kFrameThickness);
  BuildControls();

  rechDiag_->DialogTitle = u"Recherche des bases de données Access"_s;
  rechDiag_->Filter = u"Fichiers MAJ (*.*) |*.*"_s;

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
  }
  txtCheminApplication_->setFocus();
}

frmInstallFichiers::~frmInstallFichiers() = default;

void frmInstallFichiers::BuildControls() {
  client_ = new QWidget(this);
  client_->setObjectName(u"ClientArea"_s);
  client_->setGeometry(kFrameThickness, kFrameThickness, kClientWidth, kClientHeight);

  // Created in the window's control order; the banner's title and icon are children of it.
  picture1_ = MakePicture<BannerPicture>(
      client_, u"Picture1"_s, QPixmap(u":/pictures/banner.jpg"_s), QRect(0, -4, 513, 53));
  picture1_->setFocusPolicy(Qt::StrongFocus);
  picture1_->setAccessibleName(kBannerTitle);
  QLabel* label1 = MakeLabel(picture1_, u"Label1"_s, kBannerTitle, ArialPixels(15, true),
                             QRect(56, 18, 451, 20));
  QPalette white = label1->palette();
  white.setColor(QPalette::WindowText, Qt::white);
  label1->setPalette(white);
  MakePicture(picture1_, u"Image1"_s, QPixmap(u":/pictures/database.ico"_s), QRect(14, 11, 32, 32));

  txtCheminMedecin_ = MakeTextBox(client_, u"txtCheminMedecin"_s, QRect(14, 143, 386, 24));
  cmdParcourir_[0] =
      MakeButton(client_, u"CmdParcourir0"_s, u"Parcourir"_s, QRect(405, 94, 96, 22));
  cmdQuitter_ = MakeButton(client_, u"cmdQuitter"_s, u"&Annuler"_s, QRect(256, 196, 81, 26));
  txtCheminApplication_ = MakeTextBox(client_, u"txtCheminApplication"_s, QRect(14, 94, 386, 24));
  cmdOK_ = MakeButton(client_, u"cmdOK"_s, u"&Ok"_s, QRect(171, 195, 81, 26));
  cmdParcourir_[1] =
      MakeButton(client_, u"CmdParcourir1"_s, u"Parcourir"_s, QRect(404, 143, 96, 22));

  const QFont labelFont = ArialPixels(12);
  QLabel* label4 =
      MakeLabel(client_, u"Label4"_s, u"Chemin d'installation de la base Patbase.mdb"_s, labelFont,
                QRect(15, 126, 367, 21));
  QWidget* line4 = MakeLine(client_, u"Line4"_s, -6, 507, 49, QPalette::WindowText);
  QWidget* line3 = MakeLine(client_, u"Line3"_s, -5, 507, 50, QPalette::Base);
  QLabel* labelEmplacement =
      MakeLabel(client_, u"LabelEmplacement"_s, u"Chemin d'installation de la base Lexbase.mdb"_s,
                labelFont, QRect(15, 77, 396, 21));
  QWidget* line2 = MakeLine(client_, u"Line2"_s, 0, 507, 179, QPalette::Base);
  QWidget* line1 = MakeLine(client_, u"Line1"_s, 0, 507, 180, QPalette::WindowText);

  for (QLabel* label : {label4, labelEmplacement}) {
    label->setBackgroundRole(QPalette::Button);
    label->setForegroundRole(QPalette::ButtonText);
    label->setAutoFillBackground(true);
  }
  // Labels and lines are drawn on the window's own surface, beneath every text box and button:
  // where a label reaches into the text box below it, the text box shows.
  for (QWidget* drawn :
       std::initializer_list<QWidget*>{label4, labelEmplacement, line4, line3, line2, line1}) {
    drawn->lower();
  }

  // A screen reader names each folder field after the label above it, and each browse button
  // after the database it looks for. No access key comes with the labels: their texts hold none.
  labelEmplacement->setBuddy(txtCheminApplication_);
  label4->setBuddy(txtCheminMedecin_);
  cmdParcourir_[0]->setAccessibleName(u"Parcourir pour la base Lexbase.mdb"_s);
  cmdParcourir_[1]->setAccessibleName(u"Parcourir pour la base Patbase.mdb"_s);

  const QIcon browseIcon(u":/pictures/browse.ico"_s);
  for (int index = 0; index < 2; ++index) {
    QPushButton* button = cmdParcourir_[index];
    button->setProperty("Index", index);
    button->setIcon(browseIcon);
    button->setIconSize(QSize(16, 16));
    connect(button, &QAbstractButton::clicked, this, [this, index] { CmdParcourir_Click(index); });
  }
  connect(cmdOK_, &QAbstractButton::clicked, this, &frmInstallFichiers::cmdOK_Click);
  connect(cmdQuitter_, &QAbstractButton::clicked, this, &frmInstallFichiers::cmdQuitter_Click);

  QWidget::setTabOrder(txtCheminApplication_, cmdParcourir_[0]);
  QWidget::setTabOrder(cmdParcourir_[0], txtCheminMedecin_);
  QWidget::setTabOrder(txtCheminMedecin_, cmdParcourir_[1]);
  QWidget::setTabOrder(cmdParcourir_[1], cmdOK_);
  QWidget::setTabOrder(cmdOK_, cmdQuitter_);
  QWidget::setTabOrder(cmdQuitter_, picture1_);
}

bool frmInstallFichiers::Form_Load(const QString& programFolder) {
  programFolder_ = programFolder;
  const std::optional<QString> missing = StartupCheckMessage(programFolder);
  if (!missing) return true;
  messages_->Show(*missing, MissingSourceTitle(), OperatorMessages::Icon::Critical);
  return false;
}

QString frmInstallFichiers::CheminApplication() const { return txtCheminApplication_->text(); }

QString frmInstallFichiers::CheminMedecin() const { return txtCheminMedecin_->text(); }

void frmInstallFichiers::SetCheminApplication(const QString& text) {
  txtCheminApplication_->setText(text);
}

void frmInstallFichiers::SetCheminMedecin(const QString& text) { txtCheminMedecin_->setText(text); }

bool frmInstallFichiers::IsOkEnabled() const { return cmdOK_->isEnabled(); }

void frmInstallFichiers::SetOkEnabled(bool enabled) { cmdOK_->setEnabled(enabled); }

void frmInstallFichiers::SetWaitCursor(bool waiting) {
  if (waiting) {
    setCursor(Qt::WaitCursor);
  } else {
    unsetCursor();
  }
}

void frmInstallFichiers::cmdOK_Click() { RunInstallation(*this); }

void frmInstallFichiers::cmdQuitter_Click() { close(); }

void frmInstallFichiers::CmdParcourir_Click(int index) {
  const BrowseRow* row = BrowseRowOf(index);
  if (row == nullptr) return;
  QLineEdit* field = index == 0 ? txtCheminApplication_ : txtCheminMedecin_;
  try {
    // Emptied once per click: after a wrong file the dialog opens again on that file.
    rechDiag_->FileName = QString();
    for (;;) {
      rechDiag_->Filter = DatabaseFilter();
      rechDiag_->CancelError = true;
      rechDiag_->ShowOpen();
      const QString chosen = rechDiag_->FileName;
      if (chosen.right(kAcceptedEndingLength).toUpper() == row->acceptedEnding) {
        field->setText(chosen.chopped(kDatabaseFileNameLength));
        return;
      }
      messages_->Show(row->rejection, u"Attention"_s, OperatorMessages::Icon::Critical);
    }
  } catch (const std::exception&) {
    // A cancel, or any failure of the dialog, ends the click without a word.
  }
}

void frmInstallFichiers::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  // The fixed dialog frame: a raised two-pixel bevel, then one pixel of the face colour.
  qDrawWinPanel(&painter, rect(), palette(), false);
}

}  // namespace app
