// Test main for the console's suites: a QApplication (on whatever platform
// QT_QPA_PLATFORM names; CTest sets offscreen) around the GoogleTest run.
// Listing the tests needs no display, so it makes none.
//
// Without XDG_RUNTIME_DIR (CI, a root shell without a login session) Qt
// makes and keeps <tmp>/runtime-<user>; the run gets a runtime directory
// of its own instead and removes it at the end.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class OwnRuntimeDirectory {
 public:
  OwnRuntimeDirectory() {
    const char* given = std::getenv("XDG_RUNTIME_DIR");
    if (given != nullptr && *given != '\0') return;
    std::string name = (std::filesystem::temp_directory_path() / "bcn-qt-runtime-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) return;  // Qt then falls back as before
    path_ = name;
    ::setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
  }
  ~OwnRuntimeDirectory() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  OwnRuntimeDirectory(const OwnRuntimeDirectory&) = delete;
  OwnRuntimeDirectory& operator=(const OwnRuntimeDirectory&) = delete;

 private:
  std::filesystem::path path_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  OwnRuntimeDirectory runtime;
  int status = 0;
  {
    QApplication application(argc, argv);
    status = RUN_ALL_TESTS();
  }
  return status;
}
