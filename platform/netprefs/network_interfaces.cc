#include "platform/netprefs/network_interfaces.h"

#include "platform/netprefs/default_preferences.h"

namespace bcn::netprefs {

std::vector<NetworkInterfaceInfo> networkInterfaces(const std::vector<KernelLink>& links) {
  std::vector<NetworkInterfaceInfo> interfaces;
  for (const KernelLink& link : links) {
    if (!isConfigurableLink(link)) continue;
    NetworkInterfaceInfo info;
    info.bsdName = link.name;
    info.displayName = defaultServiceName(link);
    info.interfaceType = describeLink(link).interfaceType;
    if (!link.hardwareAddress.empty()) info.hardwareAddress = link.hardwareAddress;
    interfaces.push_back(std::move(info));
  }
  return interfaces;
}

std::vector<NetworkInterfaceInfo> copyAllNetworkInterfaces() {
  return networkInterfaces(readKernelLinks().value_or(std::vector<KernelLink>{}));
}

}  // namespace bcn::netprefs
