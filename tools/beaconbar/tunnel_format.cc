#include "tools/beaconbar/tunnel_format.h"

#include "netcore/sysconfig/keyed_json.h"
#include "tools/beaconbar/text_table.h"

namespace bcn::cli {

std::string formatTunnelOwners(const TunnelOwnerMap& owners, const std::string& indent) {
  if (owners.empty()) return indent + "No tunnel interfaces are open.\n";
  TextTable table(indent);
  table.addRow({"INTERFACE", "PID", "PROGRAM", "PATH"});
  for (const auto& [name, owner] : owners) {
    table.addRow({name, std::to_string(owner.pid), owner.name.empty() ? "?" : owner.name,
                  owner.path.empty() ? "?" : owner.path});
  }
  return table.render();
}

nlohmann::ordered_json tunnelOwnersJson(const TunnelOwnerMap& owners) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const auto& [name, owner] : owners) {
    nlohmann::ordered_json entry{{"interface", name}};
    const nlohmann::ordered_json fields = toJson(owner);
    for (const auto& [key, value] : fields.items()) entry[key] = value;
    list.push_back(std::move(entry));
  }
  return list;
}

}  // namespace bcn::cli
