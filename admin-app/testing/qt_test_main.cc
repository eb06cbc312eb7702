// Test main for the console's suites: a QApplication (on whatever platform
// QT_QPA_PLATFORM names; CTest sets offscreen) around the GoogleTest run.
// Listing the tests needs no display, so it makes none.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
