#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "platform/testing/test_support.h"

namespace bcn::files {
namespace {

using testing::TempDir;

std::vector<std::uint8_t> bytesOf(std::string_view s) { return {s.begin(), s.end()}; }

unsigned modeOf(const std::filesystem::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

std::size_t entriesIn(const std::filesystem::path& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

TEST(WriteFileAtomically, CreatesAndReplacesWithExactMode) {
  TempDir dir;
  const auto file = dir / "state.plist";
  const mode_t oldMask = ::umask(077);
  ASSERT_TRUE(writeFileAtomically(file, bytesOf("first"), 0644));
  ::umask(oldMask);
  EXPECT_EQ(testing::readText(file), "first");
  EXPECT_EQ(modeOf(file), 0644u) << "the umask must not narrow the requested mode";

  ASSERT_TRUE(writeFileAtomically(file, bytesOf("second, longer"), 0600));
  EXPECT_EQ(testing::readText(file), "second, longer");
  EXPECT_EQ(modeOf(file), 0600u);
  EXPECT_EQ(entriesIn(dir.path()), 1u) << "no temporary file may be left behind";
}

// A crash between linking and renaming strands a temporary name; a later
// process with the same pid must not be locked out by it.
TEST(WriteFileAtomically, StrandedTemporaryNamesDoNotBlockSaves) {
  TempDir dir;
  for (int n = 0; n <= 60; ++n) {
    testing::writeText(dir / (".state.tmp-" + std::to_string(::getpid()) + "-" + std::to_string(n)), "stale");
  }
  ASSERT_TRUE(writeFileAtomically(dir / "state", bytesOf("fresh"), 0600));
  EXPECT_EQ(testing::readText(dir / "state"), "fresh");
  EXPECT_EQ(entriesIn(dir.path()), 62u) << "stale files are left alone; the new one is in place";
}

// What a killed writer stranded is swept by the next save, but only when
// the writer is certainly gone and the file is certainly not in flight.
TEST(WriteFileAtomically, ASaveSweepsWhatDeadWritersStranded) {
  TempDir dir;
  // Above pid_max, so no process can have it.
  const std::string dead = std::to_string(std::stoll(testing::readText("/proc/sys/kernel/pid_max")) + 1);
  const auto stranded = [&](const std::string& name, bool old) {
    testing::writeText(dir / name, "stale");
    if (old) {
      const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 120, 0}};
      EXPECT_EQ(::utimensat(AT_FDCWD, (dir / name).c_str(), times, 0), 0);
    }
  };
  stranded(".state.tmp-" + dead + "-0", true);                        // swept
  stranded(".state.tmp-" + dead + "-1", false);                       // may still be renamed: kept
  stranded(".state.tmp-1-0", true);                                   // its writer (init) runs: kept
  stranded(".state.tmp-" + std::to_string(::getpid()) + "-9", true);  // this process's own: kept
  stranded(".other.tmp-" + dead + "-0", true);                        // another file's: kept
  stranded(".state.tmp-x-0", true);                                   // not our naming: kept
  ASSERT_TRUE(writeFileAtomically(dir / "state", bytesOf("fresh"), 0600));
  EXPECT_FALSE(std::filesystem::exists(dir / (".state.tmp-" + dead + "-0")));
  EXPECT_EQ(entriesIn(dir.path()), 6u);
  EXPECT_EQ(testing::readText(dir / "state"), "fresh");
}

TEST(WriteFileAtomically, EmptyContentIsAValidFile) {
  TempDir dir;
  ASSERT_TRUE(writeFileAtomically(dir / "empty", {}, 0600));
  EXPECT_EQ(std::filesystem::file_size(dir / "empty"), 0u);
}

TEST(WriteFileAtomically, MissingDirectoryFailsWithTheSystemsError) {
  TempDir dir;
  auto result = writeFileAtomically(dir / "nowhere" / "file", bytesOf("x"), 0600);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().domain, PlatformError::kPosixDomain);
  EXPECT_EQ(result.error().code, ENOENT);
  EXPECT_NE(result.error().description.find("nowhere"), std::string::npos);
}

TEST(WriteFileAtomically, ReadOnlyDirectoryKeepsTheOldFile) {
  TempDir dir;
  const auto file = dir / "state";
  ASSERT_TRUE(writeFileAtomically(file, bytesOf("old"), 0600));
  const int outcome = testing::withReadOnlyDirectory(dir.path(), [&] {
    auto result = writeFileAtomically(file, bytesOf("new"), 0600);
    if (result) return 1;
    if (result.error().code != EROFS && result.error().code != EACCES) return 2;
    return testing::readText(file) == "old" ? 0 : 3;
  });
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(testing::readText(file), "old");
  EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(WriteFileAtomically, TargetThatIsADirectoryFailsAndStays) {
  TempDir dir;
  std::filesystem::create_directory(dir / "taken");
  auto result = writeFileAtomically(dir / "taken", bytesOf("x"), 0600);
  ASSERT_FALSE(result);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "taken"));
  EXPECT_EQ(entriesIn(dir.path()), 1u) << "the temporary file must be removed on failure";
}

TEST(ReadFile, ReadsWholeFilesWithinTheLimit) {
  TempDir dir;
  const std::string big(200'000, 'z');
  testing::writeText(dir / "big", big);
  auto all = readFile(dir / "big", big.size());
  ASSERT_TRUE(all);
  EXPECT_EQ(all->size(), big.size());
  auto over = readFile(dir / "big", big.size() - 1);
  ASSERT_FALSE(over);
  EXPECT_EQ(over.error().code, EFBIG);
}

TEST(ReadFile, RefusesMissingFilesAndDirectories) {
  TempDir dir;
  EXPECT_EQ(readFile(dir / "missing", 10).error().code, ENOENT);
  EXPECT_EQ(readFile(dir.path(), 10).error().code, EISDIR);
}

TEST(ReadFile, OwnedByRefusesAnotherOwnersFileEvenThroughALink) {
  TempDir dir;
  testing::writeText(dir / "mine", "mine");
  EXPECT_EQ(readFileOwnedBy(dir / "mine", 100, ::geteuid()), bytesOf("mine"));
  std::filesystem::create_symlink(dir / "mine", dir / "link");
  EXPECT_EQ(readFileOwnedBy(dir / "link", 100, ::geteuid()), bytesOf("mine"));
  auto other = readFileOwnedBy(dir / "link", 100, ::geteuid() + 1);
  ASSERT_FALSE(other);
  EXPECT_EQ(other.error().code, EPERM);
}

TEST(ReadFile, RefusesAFifoWithoutWaitingForAWriter) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const int result = testing::runInChild([&] {
    ::alarm(10);
    return readFile(dir / "fifo", 10).error().code == EINVAL ? 0 : 1;
  });
  EXPECT_EQ(result, 0) << "-1: the read blocked until the alarm";
}

TEST(SetAside, MovesTheFileToTheFirstFreeNameAndNeverReplacesOne) {
  TempDir dir;
  const auto file = dir / "state.plist";
  ASSERT_TRUE(writeFileAtomically(file, bytesOf("first"), 0600));
  auto first = setAside(file, "unreadable");
  ASSERT_TRUE(first) << first.error().description;
  EXPECT_EQ(*first, dir / "state.plist.unreadable");
  EXPECT_FALSE(std::filesystem::exists(file));

  ASSERT_TRUE(writeFileAtomically(file, bytesOf("second"), 0600));
  auto second = setAside(file, "unreadable");
  ASSERT_TRUE(second);
  EXPECT_EQ(*second, dir / "state.plist.unreadable-2");
  EXPECT_EQ(readFile(*first, 100), bytesOf("first"));
  EXPECT_EQ(readFile(*second, 100), bytesOf("second"));

  auto missing = setAside(file, "unreadable");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, ENOENT);
  EXPECT_EQ(entriesIn(dir.path()), 2u);
}

TEST(CreateDirectories, CreatesTheChainWithTheModeAndKeepsExistingOnes) {
  TempDir dir;
  std::filesystem::create_directory(dir / "existing");
  ::chmod((dir / "existing").c_str(), 0751);
  const auto deep = dir / "existing" / "a" / "b";
  ASSERT_TRUE(createDirectories(deep, 0700));
  EXPECT_EQ(modeOf(dir / "existing"), 0751u);
  EXPECT_EQ(modeOf(dir / "existing" / "a"), 0700u);
  EXPECT_EQ(modeOf(deep), 0700u);
  EXPECT_TRUE(createDirectories(deep, 0700)) << "an existing chain is not an error";
}

TEST(CreateDirectories, AFileInTheWayIsNotADirectory) {
  TempDir dir;
  testing::writeText(dir / "file", "x");
  auto result = createDirectories(dir / "file" / "sub", 0700);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, ENOTDIR);
}

TEST(SetModeAndOwner, ChangesOwnerOnlyWithPrivilege) {
  TempDir dir;
  testing::writeText(dir / "f", "x");
  if (testing::runningAsRoot()) {
    ASSERT_TRUE(setModeAndOwner(dir / "f", 0640, 4321, 4322));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "f").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
  } else {
    auto result = setModeAndOwner(dir / "f", 0640, 0, 0);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, EPERM);
  }
}

}  // namespace
}  // namespace bcn::files
