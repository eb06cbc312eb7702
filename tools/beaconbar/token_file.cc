#include "tools/beaconbar/token_file.h"

#include <cerrno>
#include <system_error>

#include "platform/files.h"
#include "tools/beaconbar/xdg_directory.h"

namespace bcn::cli {
namespace {

bool isBase64Character(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

std::expected<std::filesystem::path, std::string> defaultTokenPath(const char* xdgConfigHome, const char* home) {
  const auto base = xdgDirectory(xdgConfigHome, home, ".config");
  if (!base) return std::unexpected("cannot tell where to keep the pairing token: set XDG_CONFIG_HOME or HOME");
  return *base / "beaconbar" / "token";
}

bool isWellFormedToken(std::string_view token) {
  // 32 bytes encode to 43 characters and one '=' of padding.
  if (token.size() != 44 || token.back() != '=') return false;
  for (std::size_t i = 0; i + 1 < token.size(); ++i) {
    if (!isBase64Character(token[i])) return false;
  }
  return true;
}

std::expected<std::optional<std::string>, std::string> readToken(const std::filesystem::path& path) {
  auto bytes = files::readFile(path, kMaxTokenFileBytes);
  if (!bytes) {
    if (bytes.error().domain == PlatformError::kPosixDomain && bytes.error().code == ENOENT) {
      return std::optional<std::string>();
    }
    return std::unexpected("cannot read the pairing token: " + bytes.error().description);
  }
  std::string text(bytes->begin(), bytes->end());
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!isWellFormedToken(text)) {
    return std::unexpected("the pairing token in " + path.string() + " is damaged; remove it and run: beaconbar pair");
  }
  return std::optional<std::string>(std::move(text));
}

std::expected<void, std::string> prepareTokenDirectory(const std::filesystem::path& path) {
  const std::filesystem::path directory = path.parent_path();
  if (directory.empty()) return {};
  if (auto made = files::createDirectories(directory, 0700); !made) {
    return std::unexpected("cannot create " + directory.string() + ": " + made.error().description);
  }
  return {};
}

std::expected<void, std::string> writeToken(const std::filesystem::path& path, const std::string& token) {
  if (auto prepared = prepareTokenDirectory(path); !prepared) return prepared;
  const std::string line = token + "\n";
  const auto* data = reinterpret_cast<const std::uint8_t*>(line.data());
  if (auto written = files::writeFileAtomically(path, {data, line.size()}, 0600); !written) {
    return std::unexpected("cannot store the pairing token: " + written.error().description);
  }
  return {};
}

std::expected<void, std::string> removeToken(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::remove(path, error);
  if (error) return std::unexpected("cannot remove the pairing token " + path.string() + ": " + error.message());
  return {};
}

}  // namespace bcn::cli
