// SPDX-License-Identifier: Apache-2.0
// Tests of the window's four pictures as the program carries them: file sizes, dimensions,
// bit depths, and a progressive JPEG for the banner; and the package's menu icon, which must be
// the application icon.
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include "AppTestSupport.h"
#include "frmInstallFichiers.h"

using namespace Qt::StringLiterals;

using namespace app;

namespace {

QByteArray ReadResource(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint16 Little16(const QByteArray& data, qsizetype at) {
  return qFromLittleEndian<quint16>(data.constData() + at);
}
quint32 Little32(const QByteArray& data, qsizetype at) {
  return qFromLittleEndian<quint32>(data.constData() + at);
}
quint16 Big16(const QByteArray& data, qsizetype at) {
  return qFromBigEndian<quint16>(data.constData() + at);
}

}  // namespace

class PicturesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { ApplicationIcon(); }  // registers the pictures
  void banner();
  void icons_data();
  void icons();
  void bannerIconAndBrowseIconDiffer();
  void applicationIcon();
  void menuIconIsTheApplicationIcon();
};

void PicturesTest::banner() {
  const QByteArray jpeg = ReadResource(u":/pictures/banner.jpg"_s);
  QCOMPARE(jpeg.size(), 21492);
  QCOMPARE(Big16(jpeg, 0), quint16(0xFFD8));

  // Walk the marker segments up to the first scan; the frame header must be SOF2.
  quint8 frameMarker = 0;
  qsizetype at = 2;
  while (at + 4 <= jpeg.size() && quint8(jpeg[at]) == 0xFF && quint8(jpeg[at + 1]) != 0xDA) {
    const quint8 marker = quint8(jpeg[at + 1]);
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      QCOMPARE(frameMarker, quint8(0));  // one frame only
      frameMarker = marker;
      QCOMPARE(quint8(jpeg[at + 4]), quint8(8));    // bits per sample
      QCOMPARE(Big16(jpeg, at + 5), quint16(53));   // height
      QCOMPARE(Big16(jpeg, at + 7), quint16(513));  // width
      QCOMPARE(quint8(jpeg[at + 9]), quint8(3));    // components
    }
    at += 2 + Big16(jpeg, at + 2);
  }
  QCOMPARE(frameMarker, quint8(0xC2));

  QImage image;
  QVERIFY(image.loadFromData(jpeg, "JPEG"));
  QCOMPARE(image.size(), QSize(513, 53));
}

void PicturesTest::icons_data() {
  QTest::addColumn<QString>("path");
  QTest::addColumn<int>("side");
  QTest::addColumn<int>("fileSize");
  QTest::addColumn<int>("imageBytes");

  QTest::newRow("window icon") << u":/pictures/window-icon.ico"_s << 16 << 1406 << 1384;
  QTest::newRow("Image1") << u":/pictures/database.ico"_s << 32 << 2238 << 2216;
  QTest::newRow("browse buttons") << u":/pictures/browse.ico"_s << 32 << 2238 << 2216;
}

void PicturesTest::icons() {
  QFETCH(QString, path);
  QFETCH(int, side);
  QFETCH(int, fileSize);
  QFETCH(int, imageBytes);

  const QByteArray ico = ReadResource(path);
  QCOMPARE(ico.size(), fileSize);
  QCOMPARE(Little16(ico, 0), quint16(0));  // reserved
  QCOMPARE(Little16(ico, 2), quint16(1));  // an icon
  QCOMPARE(Little16(ico, 4), quint16(1));  // one image
  QCOMPARE(int(quint8(ico[6])), side);
  QCOMPARE(int(quint8(ico[7])), side);
  QCOMPARE(Little16(ico, 12), quint16(8));  // bits per pixel
  QCOMPARE(int(Little32(ico, 14)), imageBytes);
  const quint32 image = Little32(ico, 18);
  QCOMPARE(int(image) + imageBytes, fileSize);
  QCOMPARE(Little32(ico, image), quint32(40));  // BITMAPINFOHEADER
  QCOMPARE(int(Little32(ico, image + 4)), side);
  QCOMPARE(int(Little32(ico, image + 8)), 2 * side);  // pixels and mask
  QCOMPARE(Little16(ico, image + 14), quint16(8));

  QImage decoded;
  QVERIFY(decoded.loadFromData(ico, "ICO"));
  QCOMPARE(decoded.size(), QSize(side, side));
  QVERIFY(decoded.hasAlphaChannel());
}

void PicturesTest::bannerIconAndBrowseIconDiffer() {
  QVERIFY(ReadResource(u":/pictures/database.ico"_s) != ReadResource(u":/pictures/browse.ico"_s));
}

void PicturesTest::applicationIcon() {
  const QStringList searchPaths = QIcon::themeSearchPaths();
  const QString themeName = QIcon::themeName();
  // No theme holds it: the embedded pictures, at every size the package ships.
  QIcon::setThemeSearchPaths({});
  QCOMPARE(ApplicationIcon().availableSizes(),
           (QList<QSize>{QSize(16, 16), QSize(48, 48), QSize(64, 64), QSize(128, 128), QSize(256, 256)}));
  // A theme that holds it, as the installed package's hicolor icons: the theme's.
  QTemporaryDir themes;
  QVERIFY(QDir(themes.path()).mkpath(u"hicolor/32x32/apps"_s));
  QFile index(themes.filePath(u"hicolor/index.theme"_s));
  QVERIFY(index.open(QIODevice::WriteOnly));
  index.write("[Icon Theme]\nName=hicolor\nDirectories=32x32/apps\n\n[32x32/apps]\nSize=32\n");
  index.close();
  QImage picture(32, 32, QImage::Format_ARGB32);
  picture.fill(Qt::red);
  QVERIFY(picture.save(themes.filePath(u"hicolor/32x32/apps/installateur-conventions.png"_s)));
  QIcon::setThemeSearchPaths({themes.path()});
  QIcon::setThemeName(u"hicolor"_s);
  const QList<QSize> themed = ApplicationIcon().availableSizes();
  QIcon::setThemeSearchPaths(searchPaths);
  QIcon::setThemeName(themeName);
  QCOMPARE(themed, QList<QSize>{QSize(32, 32)});
}

void PicturesTest::menuIconIsTheApplicationIcon() {
  QImage menuIcon(u"" PACKAGE_ICON ""_s);
  QCOMPARE(menuIcon.size(), QSize(16, 16));
  QImage windowIcon;
  QVERIFY(windowIcon.loadFromData(ReadResource(u":/pictures/window-icon.ico"_s), "ICO"));
  // Premultiplied, so that the colour hidden under a transparent pixel does not count.
  QCOMPARE(menuIcon.convertToFormat(QImage::Format_ARGB32_Premultiplied),
           windowIcon.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

static const bool registered = RegisterTest<PicturesTest>();

#include "Pictures_test.moc"
