// Runs the window tests inside one QApplication (offscreen under CTest).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Rilmaton"));
  QCoreApplication::setApplicationVersion(QStringLiteral("1.01.0001"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
