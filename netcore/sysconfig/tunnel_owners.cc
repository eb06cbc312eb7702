#include "netcore/sysconfig/tunnel_owners.h"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "netcore/c_string.h"
#include "netcore/shim/bcn_utun_owners.h"
#include "netcore/sysconfig/bundle_info.h"

namespace bcn {
namespace {

// Operating-system programs are shown by their executable name; no bundle
// is opened for them.
constexpr std::string_view kSystemPrefixes[] = {"/System/", "/usr/", "/Library/Apple/", "/lib/",
                                                "/lib64/"};
constexpr std::string_view kApplicationSuffix = ".app";
constexpr std::string_view kInnerBundleSuffixes[] = {".app", ".appex", ".systemextension", ".xpc"};
constexpr std::size_t kMaxPathBytes = 4096;

// The last component, trailing slashes ignored; "/" stays "/".
std::string lastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return std::string(path);
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::vector<std::string_view> nonEmptyComponents(std::string_view path) {
  std::vector<std::string_view> components;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view component = path.substr(0, slash);
    if (!component.empty()) components.push_back(component);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return components;
}

// The index of the bundle a path belongs to: the outermost application,
// since helpers and extensions inside one are part of it; otherwise the
// innermost bundle of any kind. Absent when no component is a bundle.
std::optional<std::size_t> bundleComponent(std::span<const std::string_view> components) {
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (components[i].ends_with(kApplicationSuffix)) return i;
  }
  for (std::size_t i = components.size(); i-- > 0;) {
    for (const std::string_view suffix : kInnerBundleSuffixes) {
      if (components[i].ends_with(suffix)) return i;
    }
  }
  return std::nullopt;
}

// "Foo.app" gives "Foo"; a component that is nothing but an extension
// (".app") is a hidden name and keeps it.
std::string withoutExtension(std::string_view component) {
  const std::size_t dot = component.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::string(component);
  return std::string(component.substr(0, dot));
}

std::optional<std::string> textValue(const PlistDictionary& info, std::string_view key) {
  const PlistValue* value = info.find(key);
  if (value == nullptr || value->text() == nullptr) return std::nullopt;
  return *value->text();
}

// The owner map's key: the interface name, or utunN for a record that
// carries only its unit.
std::string interfaceKey(const bcn_utun_owner_t& record) {
  std::string name = decodeCString(std::span<const char>(record.name));
  if (name.empty() && record.unit > 0) name = "utun" + std::to_string(record.unit - 1);
  return name;
}

}  // namespace

std::map<std::string, TunnelOwner> TunnelOwners::scan() { return scan("/proc"); }

std::map<std::string, TunnelOwner> TunnelOwners::scan(const std::filesystem::path& procRoot) {
  std::vector<bcn_utun_owner_t> records(kMaxFindings);
  const std::int32_t count =
      std::clamp(bcn_utun_owners_at(procRoot.c_str(), records.data(), kMaxFindings), 0, kMaxFindings);

  std::map<std::string, TunnelOwner> owners;
  for (const bcn_utun_owner_t& record : std::span(records).first(static_cast<std::size_t>(count))) {
    std::string key = interfaceKey(record);
    if (key.empty()) continue;
    std::array<char, kMaxPathBytes> buffer{};
    std::string path;
    if (bcn_get_process_path_at(procRoot.c_str(), record.pid, buffer.data(), buffer.size())) {
      path = decodeCString(std::span<const char>(buffer));
    }
    std::string name = displayName(path);
    owners.insert_or_assign(std::move(key), TunnelOwner{record.pid, std::move(name), std::move(path)});
  }
  return owners;
}

std::string TunnelOwners::displayName(std::string_view path) {
  std::string fallback = lastPathComponent(path);
  for (const std::string_view prefix : kSystemPrefixes) {
    if (path.starts_with(prefix)) return fallback;
  }
  const std::vector<std::string_view> components = nonEmptyComponents(path);
  const std::optional<std::size_t> chosen = bundleComponent(components);
  if (!chosen) return fallback;

  std::string bundle;
  for (std::size_t i = 0; i <= *chosen; ++i) {
    bundle += '/';
    bundle += components[i];
  }
  if (const std::optional<PlistDictionary> info = readBundleInfo(bundle)) {
    if (auto name = textValue(*info, "CFBundleDisplayName")) return *name;
    if (auto name = textValue(*info, "CFBundleName")) return *name;
  }
  return withoutExtension(components[*chosen]);
}

}  // namespace bcn
