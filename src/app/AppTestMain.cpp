// SPDX-License-Identifier: Apache-2.0
// Runs every Qt Test class of the installer window's tests in one binary.
#include <QApplication>
#include <QTest>

#include "QtFrench.h"
#include "AppTestSupport.h"

using namespace app;

std::vector<TestFactory>& app::RegisteredTests() {
  static std::vector<TestFactory> tests;
  return tests;
}

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  // As the program does at start-up, so that the dialogs are seen as the operator sees them.
  InstallQtFrench(application);
  // Closing a window in one test must not end the application under the next ones.
  QApplication::setQuitOnLastWindowClosed(false);
  int failedClasses = 0;
  for (const TestFactory& make : RegisteredTests()) {
    std::unique_ptr<QObject> test = make();
    if (QTest::qExec(test.get(), argc, argv) != 0) ++failedClasses;
  }
  return failedClasses == 0 ? 0 : 1;
}
