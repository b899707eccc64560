// Runs the window tests inside one QApplication (offscreen under CTest).
#include <gtest/gtest.h>

#include <QApplication>

#include "core/base/version.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Rilmaton"));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(ril::kVersionText));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
