// SPDX-License-Identifier: Apache-2.0
// The window's texts drawn with the fonts the package brings: run under a private fontconfig
// configuration that knows only the package's font dependency (Liberation) and the fonts every
// Debian system has (DejaVu), with none of the system's family aliases, so that the texts are
// measured as a clean desktop draws them. Every text of the window must fit, whole, in the part
// of its control that is seen.
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTest>

#include "frmInstallFichiers.h"

using namespace Qt::StringLiterals;

using namespace app;

class WindowTextsTest : public QObject {
  Q_OBJECT

 private slots:
  void arialTextsUseMetricCompatibleFont();
  void everyTextFits();
};

// The controls laid out for Arial get a face with Arial's metrics, not a fallback.
void WindowTextsTest::arialTextsUseMetricCompatibleFont() {
  frmInstallFichiers window;
  for (const QString& name : {u"Label1"_s, u"LabelEmplacement"_s, u"Label4"_s,
                              u"txtCheminApplication"_s, u"txtCheminMedecin"_s}) {
    const QWidget* control = window.findChild<QWidget*>(name);
    QVERIFY2(control != nullptr, qPrintable(name));
    QCOMPARE(QFontInfo(control->font()).family(), u"Liberation Sans"_s);
  }
}

void WindowTextsTest::everyTextFits() {
  frmInstallFichiers window;
  const QWidget* client = window.findChild<QWidget*>(u"ClientArea"_s);
  QVERIFY(client != nullptr);
  int checked = 0;

  // A label's text, as the label lays it out, within the label and within the client area that
  // clips it (the banner's title is a child of the banner, which overhangs the client area).
  for (const QLabel* label : window.findChildren<QLabel*>()) {
    if (label->text().isEmpty()) continue;
    const QRect textRect = QFontMetrics(label->font())
                               .boundingRect(label->contentsRect(), int(label->alignment()),
                                             label->text());
    const QRect seen = QRect(label->mapTo(client, QPoint(0, 0)), label->size()) & client->rect();
    const QRect textInClient(label->mapTo(client, textRect.topLeft()), textRect.size());
    QVERIFY2(label->contentsRect().contains(textRect) && seen.contains(textInClient),
             qPrintable(u"%1: \"%2\" needs %3 x %4 px from (%5, %6); %7 x %8 px are seen"_s
                            .arg(label->objectName(), label->text())
                            .arg(textRect.width())
                            .arg(textRect.height())
                            .arg(textInClient.x())
                            .arg(textInClient.y())
                            .arg(seen.width())
                            .arg(seen.height())));
    ++checked;
  }

  // A button's caption beside its icon, inside the bevel and the style's margins.
  for (const QPushButton* button : window.findChildren<QPushButton*>()) {
    const QFontMetrics metrics(button->font());
    const QString caption = QString(button->text()).remove(u'&');
    const QStyle* style = button->style();
    const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    const int iconWidth = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
    const int needed = metrics.horizontalAdvance(caption) + iconWidth + 2 * (frame + margin);
    QVERIFY2(needed <= button->width() && metrics.height() + 2 * frame <= button->height(),
             qPrintable(u"%1: \"%2\" needs %3 x %4 px in %5 x %6"_s.arg(button->objectName(), caption)
                            .arg(needed)
                            .arg(metrics.height() + 2 * frame)
                            .arg(button->width())
                            .arg(button->height())));
    ++checked;
  }
  QCOMPARE(checked, 7);  // three labels, Ok, Annuler and the two browse buttons
}

QTEST_MAIN(WindowTextsTest)

#include "WindowTexts_test.moc"
