// The dynamic symbol table of libnetcore.so against the installed headers:
// every exported name belongs to a class or function that an installed
// header marks NETCORE_EXPORT, and each of the library's public classes is
// there. The rule comes from the headers, so a parser, shim function or
// test helper that leaks, or a public class that loses its mark, fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/subprocess.h"

namespace bcn {
namespace {

namespace fs = std::filesystem;

// Qualified names ("bcn::Foo", "bcn::dynstore::openDynamicStore") of the
// classes and functions `header` marks, with the namespaces it opens.
void collectMarkedNames(const fs::path& header, std::set<std::string>& names) {
  std::ifstream in(header);
  std::string line;
  std::string scope;
  static const std::regex kNamespace(R"(^namespace ([A-Za-z_:]+) \{)");
  static const std::regex kClass(R"(^(?:class|struct) NETCORE_EXPORT (std::hash<[^>]+>|[A-Za-z_]\w*))");
  static const std::regex kFunction(R"(^NETCORE_EXPORT [^(]*?([A-Za-z_]\w*)\()");
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_search(line, m, kNamespace)) {
      scope = m[1].str();
    } else if (line.starts_with("}  // namespace")) {
      scope.clear();
    } else if (std::regex_search(line, m, kClass)) {
      const std::string name = m[1].str();
      names.insert(name.starts_with("std::") ? name : scope + "::" + name);
    } else if (std::regex_search(line, m, kFunction)) {
      names.insert(scope + "::" + m[1].str());
    }
  }
}

std::set<std::string> markedNames() {
  std::set<std::string> names;
  for (const fs::path& root : {fs::path(BCN_SOURCE_DIR), fs::path(BCN_GENERATED_INCLUDE_DIR)}) {
    std::istringstream headers(BCN_PUBLIC_HEADERS);
    std::string header;
    while (std::getline(headers, header, ','))
      if (fs::exists(root / header)) collectMarkedNames(root / header, names);
  }
  return names;
}

// "typeinfo for X", "vtable for X", "X::member(...)", "X(...)" → owner X
// when X is one of `names`; empty when none owns it.
std::string ownerOf(std::string symbol, const std::set<std::string>& names) {
  for (std::string_view prefix : {"typeinfo name for ", "typeinfo for ", "vtable for "})
    if (symbol.starts_with(prefix)) symbol.erase(0, prefix.size());
  std::string best;
  for (const std::string& name : names) {
    if (!symbol.starts_with(name)) continue;
    const std::string rest = symbol.substr(name.size());
    if (rest.empty() || rest.starts_with("::") || rest.starts_with("(") || rest.starts_with("[abi:"))
      if (name.size() > best.size()) best = name;
  }
  return best;
}

struct Symbol {
  char kind;
  std::string name;
};

std::vector<Symbol> exportedSymbols() {
  auto listed = runProcess({"nm", "-D", "--defined-only", "-C", BCN_NETCORE_LIBRARY},
                           {.timeout = std::chrono::seconds(60), .maxOutputBytes = 16 << 20});
  EXPECT_TRUE(listed.has_value());
  if (!listed) return {};
  EXPECT_EQ(listed->exitCode, 0) << listed->standardError;
  std::vector<Symbol> symbols;
  std::istringstream lines(listed->standardOutput);
  std::string line;
  while (std::getline(lines, line)) {
    // "<address> <kind> <name>[@@version]"
    const auto first = line.find(' ');
    if (first == std::string::npos || first + 3 > line.size()) continue;
    std::string name = line.substr(first + 3);
    if (const auto at = name.find('@'); at != std::string::npos) name.erase(at);
    if (line[first + 1] == 'A') continue;  // the version node itself
    symbols.push_back({line[first + 1], name});
  }
  return symbols;
}

TEST(ExportedSymbolsTest, EveryExportedNameIsMarkedInAnInstalledHeader) {
  const std::set<std::string> names = markedNames();
  ASSERT_FALSE(names.empty());
  const std::vector<Symbol> symbols = exportedSymbols();
  ASSERT_FALSE(symbols.empty());
  std::vector<std::string> strays;
  for (const Symbol& symbol : symbols)
    if (ownerOf(symbol.name, names).empty()) strays.push_back(std::string(1, symbol.kind) + " " + symbol.name);
  EXPECT_TRUE(strays.empty()) << strays.size() << " exported names no installed header marks, e.g.\n"
                              << (strays.empty() ? "" : strays.front());
  std::cout << "libnetcore exports " << symbols.size() << " symbols of " << names.size() << " marked names\n";
}

TEST(ExportedSymbolsTest, EachPublicClassIsExported) {
  const std::set<std::string> names = markedNames();
  const std::vector<Symbol> symbols = exportedSymbols();
  for (const char* cls : {"bcn::InterfaceReader", "bcn::CounterDeltaTracker", "bcn::RateHistory",
                          "bcn::HistoryStore", "bcn::SystemConfigurationReader", "bcn::NetworkChangeWatcher",
                          "bcn::TunnelOwners", "bcn::PinMatcher", "bcn::PublicIPService::lookup",
                          "bcn::netcoreVersion"}) {
    EXPECT_TRUE(names.contains(cls)) << cls << " is not marked NETCORE_EXPORT in an installed header";
    const bool present = std::ranges::any_of(symbols, [&](const Symbol& s) { return ownerOf(s.name, {cls}) == cls; });
    EXPECT_TRUE(present) << cls << " has no symbol in the library";
  }
}

TEST(ExportedSymbolsTest, InternalLayersStayInside) {
  // Names the library is built from but keeps: the kernel shim (flat bcn_
  // functions and bcn::shim), parsers and their helpers, test support.
  const std::regex internal(R"(^(bcn_|bcn::(shim|netlink|testing|keyed|ipc|utf|crypto|files)::|bcn::\w*(_internal|_detail)::))");
  std::vector<std::string> leaked;
  for (const Symbol& symbol : exportedSymbols())
    if (std::regex_search(symbol.name, internal)) leaked.push_back(symbol.name);
  EXPECT_TRUE(leaked.empty()) << leaked.size() << " internal names exported, e.g. " << (leaked.empty() ? "" : leaked.front());
}

}  // namespace
}  // namespace bcn
