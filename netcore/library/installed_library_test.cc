// NetCore as a program outside this tree sees it: installed into a fresh
// prefix, then the examples built against that prefix alone, once through
// find_package(NetCore) and once through pkg-config, and run. Fails when a
// public header includes one that is not installed or needs a private
// dependency, a name the examples use is not exported, or the package
// files point somewhere wrong.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/subprocess.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

namespace fs = std::filesystem;

ProcessResult run(const std::vector<std::string>& argv, std::chrono::seconds limit = std::chrono::seconds(120)) {
  auto result = runProcess(argv, {.timeout = limit, .maxOutputBytes = 1 << 20});
  if (!result) {
    ADD_FAILURE() << "cannot start " << argv.front();
    return {};
  }
  return *result;
}

std::string describe(const ProcessResult& r) {
  return "exit " + std::to_string(r.exitCode) + " signal " + std::to_string(r.signal) + "\n" + r.standardOutput +
         r.standardError;
}

// Installs the library's two components (runtime and development) into a
// new prefix; the programs' components, which record themselves in the
// code-identity registry, stay out.
class InstalledLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* component : {"netcore", "netcore_dev"}) {
      const ProcessResult installed = run({BCN_CMAKE_COMMAND, "--install", BCN_BINARY_DIR, "--component", component,
                                           "--prefix", prefix_.path().string()});
      ASSERT_EQ(installed.exitCode, 0) << describe(installed);
    }
  }

  fs::path libdir() const { return prefix_.path() / BCN_INSTALL_LIBDIR; }
  fs::path includeRoot() const { return prefix_.path() / "include" / "netcore"; }

  // Interface names the rate example prints, one per "<name> in ..." line.
  std::set<std::string> ratesNames(const fs::path& program) {
    const ProcessResult ran = run({program.string()}, std::chrono::seconds(30));
    EXPECT_EQ(ran.exitCode, 0) << describe(ran);
    EXPECT_NE(ran.standardError.find("netcore " BCN_NETCORE_VERSION), std::string::npos) << ran.standardError;
    std::set<std::string> names;
    std::istringstream lines(ran.standardOutput);
    for (std::string line; std::getline(lines, line);) {
      const auto space = line.find(" in ");
      EXPECT_NE(space, std::string::npos) << line;
      if (space != std::string::npos) names.insert(line.substr(0, space));
    }
    return names;
  }

  static std::set<std::string> toolNames() {
    const ProcessResult listed = run({BCN_BEACONBAR, "interfaces", "--json"});
    EXPECT_EQ(listed.exitCode, 0) << describe(listed);
    std::set<std::string> names;
    const auto json = nlohmann::json::parse(listed.standardOutput, nullptr, false);
    EXPECT_FALSE(json.is_discarded()) << listed.standardOutput;
    if (json.is_discarded()) return names;
    for (const auto& interface : json.at("interfaces")) names.insert(interface.at("name").get<std::string>());
    return names;
  }

  // The example's names equal the tool's, read just before and after; an
  // interface coming or going meanwhile (other tests make some) retries.
  void expectSameInterfacesAsTool(const fs::path& program) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      const auto before = toolNames();
      const auto seen = ratesNames(program);
      const auto after = toolNames();
      if (before != after) continue;
      EXPECT_FALSE(seen.empty());
      EXPECT_EQ(seen, before);
      return;
    }
    ADD_FAILURE() << "the machine's interfaces kept changing";
  }

  testing::TempDir prefix_;
};

TEST_F(InstalledLibraryTest, LibraryCarriesItsMajorVersionInTheSoname) {
  const fs::path real = libdir() / "libnetcore.so." BCN_NETCORE_VERSION;
  ASSERT_TRUE(fs::is_regular_file(real));
  EXPECT_EQ(fs::read_symlink(libdir() / "libnetcore.so.0"), real.filename());
  EXPECT_EQ(fs::read_symlink(libdir() / "libnetcore.so"), fs::path("libnetcore.so.0"));
  const ProcessResult dynamic = run({"readelf", "-d", real.string()});
  EXPECT_NE(dynamic.standardOutput.find("Library soname: [libnetcore.so.0]"), std::string::npos)
      << dynamic.standardOutput;
}

TEST_F(InstalledLibraryTest, ExamplesBuildWithFindPackageAndRun) {
  const fs::path build = prefix_.path() / "examples-cmake";
  std::vector<std::string> configure = {BCN_CMAKE_COMMAND, "-S", BCN_EXAMPLES_DIR, "-B", build.string(), "-G", "Ninja",
                                        "-DCMAKE_PREFIX_PATH=" + prefix_.path().string(),
                                        "-DCMAKE_CXX_COMPILER=" BCN_CXX_COMPILER,
                                        "-DCMAKE_CXX_FLAGS=" BCN_CONSUMER_FLAGS,
                                        // Only the prefix may supply NetCore, not a copy installed on the machine.
                                        "-DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF"};
  const ProcessResult configured = run(configure);
  ASSERT_EQ(configured.exitCode, 0) << describe(configured);
  const ProcessResult built = run({BCN_CMAKE_COMMAND, "--build", build.string()}, std::chrono::seconds(240));
  ASSERT_EQ(built.exitCode, 0) << describe(built);
  ASSERT_TRUE(fs::exists(build / "netcore-watch-changes"));
  expectSameInterfacesAsTool(build / "netcore-rates");
}

TEST_F(InstalledLibraryTest, ExamplesBuildWithPkgConfigAloneAndRun) {
  const fs::path build = prefix_.path() / "examples-make";
  fs::create_directories(build);
  const std::string ldflags = std::string(BCN_CONSUMER_FLAGS) + " -Wl,-rpath," + libdir().string();
  const ProcessResult built =
      run({"env", "PKG_CONFIG_LIBDIR=" + (libdir() / "pkgconfig").string(), "PKG_CONFIG_PATH=",
           "CXX=" BCN_CXX_COMPILER, "CXXFLAGS=" BCN_CONSUMER_FLAGS, "LDFLAGS=" + ldflags, "make", "-C",
           build.string(), "-f", std::string(BCN_EXAMPLES_DIR) + "/Makefile", "VPATH=" BCN_EXAMPLES_DIR},
          std::chrono::seconds(240));
  ASSERT_EQ(built.exitCode, 0) << describe(built);
  ASSERT_TRUE(fs::exists(build / "netcore-watch-changes"));
  expectSameInterfacesAsTool(build / "netcore-rates");
}

// Each entry header compiles on its own with only the installed include
// directory, and nothing it pulls in comes from the library's private
// dependencies (a program has only the standard library besides NetCore).
// In GNU mode, which CMake gives programs by default: it defines `unix`
// and `linux` as macros, which a header must not use as names.
TEST_F(InstalledLibraryTest, EntryHeadersCompileAloneAgainstTheInstalledTree) {
  std::istringstream headers(BCN_ENTRY_HEADERS);
  int checked = 0;
  for (std::string header; std::getline(headers, header, ',');) {
    const fs::path source = prefix_.path() / ("alone_" + std::to_string(checked++) + ".cc");
    std::ofstream(source) << "#include <" << header << ">\n";
    const fs::path deps = source.string() + ".d";
    std::vector<std::string> argv = {BCN_CXX_COMPILER, "-std=gnu++23", "-Wall", "-Wextra", "-Werror", "-fsyntax-only",
                                     "-MD", "-MF", deps.string(), "-I", includeRoot().string(), source.string()};
    const ProcessResult compiled = run(argv);
    ASSERT_EQ(compiled.exitCode, 0) << header << ": " << describe(compiled);
    std::ifstream in(deps);
    const std::string used((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* privateDependency : {"/plist/", "/nlohmann/", "/openssl/", "/asio", "/uriparser/", "/libnl3/",
                                          "/systemd/", BCN_SOURCE_DIR "/"})
      EXPECT_EQ(used.find(privateDependency), std::string::npos) << header << " pulls in " << privateDependency;
  }
  EXPECT_GE(checked, 9);
}

}  // namespace
}  // namespace bcn
