// SPDX-License-Identifier: Apache-2.0
// Loading of Qt's French translations.
#include "QtFrench.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

using namespace Qt::StringLiterals;

namespace app {

namespace {

bool Install(QCoreApplication& application, const QString& name, const QString& folder) {
  auto* translator = new QTranslator(&application);
  if (!translator->load(name, folder) || !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

}  // namespace

bool InstallQtFrench(QCoreApplication& application) {
  // The installer formats none of its own values through QLocale: only Qt's texts change.
  QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
  const bool qtFrench =
      Install(application, u"qtbase_fr"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  // Installed last, so searched first: its few texts complete Qt's catalogue. It is part of the
  // program, so it is always there; a failure to read it leaves those texts English.
  Install(application, u"installer_fr"_s, u":/translations"_s);
  return qtFrench;
}

}  // namespace app
