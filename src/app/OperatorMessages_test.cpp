// SPDX-License-Identifier: Apache-2.0
// Tests of the real message boxes: what the operator sees for the installer's exact texts.
#include "OperatorMessages.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "AppTestSupport.h"

using namespace Qt::StringLiterals;

using namespace app;

Q_DECLARE_METATYPE(OperatorMessages::Icon)

class OperatorMessagesTest : public QObject {
  Q_OBJECT

 private slots:
  void displayedText_data();
  void displayedText();
  void boxShowsTextTitleIconAndOk_data();
  void boxShowsTextTitleIconAndOk();
};

void OperatorMessagesTest::displayedText_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("displayed");

  QTest::newRow("lone carriage return")
      << u"en cours : \r/opt/kvel"_s << u"en cours : \n/opt/kvel"_s;
  QTest::newRow("carriage return and line feed")
      << u"base !\r\nerreur n°3044\r\nChemin"_s << u"base !\nerreur n°3044\nChemin"_s;
  QTest::newRow("line feed kept") << u"a\nb"_s << u"a\nb"_s;
  QTest::newRow("line feed then carriage return") << u"a\n\rb"_s << u"a\n\nb"_s;
  QTest::newRow("two carriage returns") << u"a\r\rb"_s << u"a\n\nb"_s;
  QTest::newRow("trailing blanks kept")
      << u"Installation impossible "_s << u"Installation impossible "_s;
}

void OperatorMessagesTest::displayedText() {
  QFETCH(QString, text);
  QFETCH(QString, displayed);
  QCOMPARE(DisplayedText(text), displayed);
}

void OperatorMessagesTest::boxShowsTextTitleIconAndOk_data() {
  QTest::addColumn<OperatorMessages::Icon>("style");
  QTest::addColumn<int>("icon");  // QMessageBox::Icon

  QTest::newRow("critical") << OperatorMessages::Icon::Critical << int(QMessageBox::Critical);
  QTest::newRow("exclamation") << OperatorMessages::Icon::Exclamation << int(QMessageBox::Warning);
  QTest::newRow("information") << OperatorMessages::Icon::Information
                               << int(QMessageBox::Information);
}

void OperatorMessagesTest::boxShowsTextTitleIconAndOk() {
  QFETCH(OperatorMessages::Icon, style);
  QFETCH(int, icon);

  struct Seen {
    QString title, text;
    int icon = -1;
    Qt::TextFormat format = Qt::AutoText;
    QList<QAbstractButton*> buttons;
    bool modal = false;
    QString okText;
  } seen;
  AnswerNextModal<QMessageBox>([&seen](QMessageBox* box) {
    seen = {box->windowTitle(),
            box->text(),
            int(box->icon()),
            box->textFormat(),
            box->buttons(),
            box->isModal(),
            box->button(QMessageBox::Ok)->text()};
    box->button(QMessageBox::Ok)->click();
  });
  MessageBoxes boxes;
  boxes.Show(u"Base <b>/x/</b>\rnon trouvée !"_s, u"Attention"_s, style);

  QCOMPARE(seen.title, u"Attention"_s);
  QCOMPARE(seen.text, u"Base <b>/x/</b>\nnon trouvée !"_s);
  QCOMPARE(seen.format, Qt::PlainText);
  QCOMPARE(seen.icon, icon);
  QCOMPARE(seen.buttons.size(), 1);
  // Qt's French leaves the button as it is.
  QCOMPARE(seen.okText, u"OK"_s);
  QVERIFY(seen.modal);
}

static const bool registered = RegisterTest<OperatorMessagesTest>();

#include "OperatorMessages_test.moc"
