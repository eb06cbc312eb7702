// beaconbar-codesign-register: records an installed executable in the
// code-identity registry, so that the daemon's services recognise it as the
// signed program it is. Run at install time, as root, after the executable
// is in its final place (the registry binds its path and its content).
//
//   beaconbar-codesign-register --identifier com.quillbank.Beaconbar.Admin
//       --team-id QB4TEAM123 --certificate developer-id /usr/bin/beaconbar-admin
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/codesign/code_identity_reader.h"
#include "platform/codesign/code_identity_registry.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "beaconbar-codesign-register: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Records an executable in the code-identity registry"};
  std::string identifier, teamID, certificate = "developer-id", executable;
  std::string registryPath = bcn::defaultRegistryPath().string();
  app.add_option("--identifier", identifier, "signing identifier, e.g. com.quillbank.Beaconbar")->required();
  app.add_option("--team-id", teamID, "signing team identifier")->required();
  app.add_option("--certificate", certificate, "developer-id or app-store")->capture_default_str();
  app.add_option("--registry", registryPath, "registry file")->capture_default_str();
  app.add_option("executable", executable, "installed executable (absolute path)")->required();
  CLI11_PARSE(app, argc, argv);

  auto kind = bcn::certificateKindFromName(certificate);
  if (!kind) return fail("unknown certificate kind \"" + certificate + "\" (developer-id or app-store)");
  if (identifier.empty() || teamID.empty()) return fail("identifier and team id must not be empty");

  // The path as the kernel will report it for a running program.
  char resolved[PATH_MAX];
  if (::realpath(executable.c_str(), resolved) == nullptr) {
    return fail(executable + ": " + std::strerror(errno));
  }
  const int fd = ::open(resolved, O_RDONLY | O_CLOEXEC);
  struct stat status {};
  if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    if (fd >= 0) ::close(fd);
    return fail(std::string(resolved) + ": not a readable regular file");
  }
  auto digest = bcn::sha256OfDescriptor(fd);
  ::close(fd);
  if (!digest) return fail(std::string(resolved) + ": read failed");
  if (!bcn::isRootControlled(status)) {
    std::fprintf(stderr,
                 "beaconbar-codesign-register: warning: %s is not owned by root or is writable by others; "
                 "it will count as unsigned until that changes\n",
                 resolved);
  }

  bcn::CodeIdentityRegistry registry;
  if (::access(registryPath.c_str(), F_OK) == 0) {
    // An existing registry must be sound before we add to it; we never
    // replace what we cannot read.
    auto existing = bcn::loadRegistry(registryPath);
    if (!existing) return fail("cannot use " + registryPath + ": " + existing.error().description);
    registry = std::move(*existing);
  }
  registry.record({resolved, *digest, {identifier, teamID, *kind}});
  if (auto saved = bcn::saveRegistry(registryPath, registry); !saved) return fail(saved.error().description);
  std::printf("recorded %s as %s (team %s, %s)\n", resolved, identifier.c_str(), teamID.c_str(), certificate.c_str());
  return 0;
}
