#include "exporter/metrics_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "netcore/publicip/network_error.h"
#include "netcore/publicip/public_ip_error.h"

namespace bcn::metrics {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

InterfaceSnapshot interface(std::string name, std::uint64_t bytesIn) {
  InterfaceSnapshot s;
  s.name = std::move(name);
  s.flags = 0x1 | 0x40;  // up, running
  s.mtu = 1500;
  s.counters.bytesIn = bytesIn;
  s.counters.bytesOut = bytesIn * 2;
  s.counters.dropsIn = 3;
  s.functionalType = FunctionalType::wired;
  s.linkAddress = LinkAddress{{0x02, 0x00, 0x5e, 0x10, 0x20, 0x30}, 6};
  return s;
}

std::string render(const MachineReading& reading, const PublicAddressState& state = {},
                   const ReaderHealth& health = {}) {
  const auto families = buildFamilies(reading, state, health);
  return writeExposition(families);
}

TEST(MetricsModelTest, InterfaceCountersInfoAndSpeed) {
  MachineReading reading;
  reading.interfaces.push_back(interface("eth0", 1000));
  reading.interfaces.back().baudrate = 1'000'000'000;
  InterfaceSnapshot down = interface("dummy0", 5);
  down.flags = 0;
  reading.interfaces.push_back(down);
  reading.configuration.interfaces["eth0"] = InterfaceMetadata{"eth0", "Ethernet", "Ethernet", std::nullopt};
  const std::string out = render(reading);
  EXPECT_THAT(out, HasSubstr("beaconbar_interface_receive_bytes_total{interface=\"eth0\"} 1000\n"));
  EXPECT_THAT(out, HasSubstr("beaconbar_interface_transmit_bytes_total{interface=\"eth0\"} 2000\n"));
  EXPECT_THAT(out, HasSubstr("beaconbar_interface_receive_drops_total{interface=\"dummy0\"} 3\n"));
  EXPECT_THAT(out, HasSubstr("beaconbar_interface_up{interface=\"eth0\"} 1\n"));
  EXPECT_THAT(out, HasSubstr("beaconbar_interface_up{interface=\"dummy0\"} 0\n"));
  // Bits per second on the wire, bytes per second in the metric.
  EXPECT_THAT(out, HasSubstr("beaconbar_interface_speed_bytes{interface=\"eth0\"} 125000000\n"));
  EXPECT_THAT(out, Not(HasSubstr("beaconbar_interface_speed_bytes{interface=\"dummy0\"}")));
  EXPECT_THAT(out, HasSubstr("beaconbar_interface_info{interface=\"eth0\",type=\"Ethernet\",functional_type=\"wired\","
                             "hardware_address=\"02:00:5e:10:20:30\",mtu=\"1500\"} 1\n"));
  EXPECT_THAT(out, HasSubstr("# TYPE beaconbar_interface_receive_bytes_total counter\n"));
  EXPECT_THAT(out, HasSubstr("# TYPE beaconbar_interface_info gauge\n"));
}

TEST(MetricsModelTest, RemovedInterfaceLeavesNoSeriesButFamiliesStay) {
  MachineReading before;
  before.interfaces = {interface("veth-a", 10), interface("veth-b", 20)};
  MachineReading after;
  after.interfaces = {interface("veth-b", 30)};
  EXPECT_THAT(render(before), HasSubstr("interface=\"veth-a\""));
  const std::string out = render(after);
  EXPECT_THAT(out, Not(HasSubstr("veth-a")));
  EXPECT_THAT(out, HasSubstr("beaconbar_interface_receive_bytes_total{interface=\"veth-b\"} 30\n"));
  MachineReading none;
  EXPECT_THAT(render(none), HasSubstr("# TYPE beaconbar_interface_receive_bytes_total counter\n"));
}

TEST(MetricsModelTest, HostileNamesStayInsideTheirLabel) {
  MachineReading reading;
  reading.interfaces.push_back(interface("ev\"il\\\nif\xFF", 1));
  reading.tunnelOwners.emplace();
  (*reading.tunnelOwners)["tun\"0"] = TunnelOwner{4242, "VPN \"Pro\"\nx\xC3", "/opt/v\\pn"};
  const std::string out = render(reading);
  EXPECT_THAT(out, HasSubstr("beaconbar_interface_receive_bytes_total{interface=\"ev\\\"il\\\\\\nif\xEF\xBF\xBD\"} 1\n"));
  EXPECT_THAT(out, HasSubstr("beaconbar_tunnel_owner_info{interface=\"tun\\\"0\",pid=\"4242\","
                             "process=\"VPN \\\"Pro\\\"\\nx\xEF\xBF\xBD\",path=\"/opt/v\\\\pn\"} 1\n"));
  EXPECT_EQ(validUtf8(out), out);
}

TEST(MetricsModelTest, ServicesPrimaryInterfacesAndTunnelsAbsentWhenUnknown) {
  MachineReading reading;
  reading.configuration.services = {{"svc-1", "Wired", true, "eth0", false}, {"svc-2", "VPN", false, std::nullopt, false}};
  reading.configuration.primaryIPv4Interface = "eth0";
  const std::string out = render(reading);
  EXPECT_THAT(out, HasSubstr("beaconbar_service_enabled{service_id=\"svc-1\",name=\"Wired\",interface=\"eth0\"} 1\n"));
  EXPECT_THAT(out, HasSubstr("beaconbar_service_enabled{service_id=\"svc-2\",name=\"VPN\",interface=\"\"} 0\n"));
  EXPECT_THAT(out, HasSubstr("beaconbar_primary_interface_info{family=\"ipv4\",interface=\"eth0\"} 1\n"));
  EXPECT_THAT(out, Not(HasSubstr("family=\"ipv6\"")));
  EXPECT_THAT(out, Not(HasSubstr("beaconbar_tunnel_owner_info{")));
  EXPECT_THAT(out, HasSubstr("# TYPE beaconbar_tunnel_owner_info gauge\n"));
}

TEST(MetricsModelTest, PublicAddressesAndHealth) {
  PublicAddressState state;
  state.provider = "echo.example";
  state.ipv4.address = "198.51.100.7";
  state.ipv4.lastSuccess = 1700000000;
  state.ipv6.failures = {{"network", 2}, {"timeout", 1}};
  ReaderHealth health;
  health.readingSeconds = 0.0125;
  health.readingErrors = {{"tunnel_owners", 3}};
  const std::string out = render(MachineReading{}, state, health);
  EXPECT_THAT(out, HasSubstr("beaconbar_public_address_info{family=\"ipv4\",address=\"198.51.100.7\","
                             "provider=\"echo.example\"} 1\n"));
  EXPECT_THAT(out, Not(HasSubstr("beaconbar_public_address_info{family=\"ipv6\"")));
  EXPECT_THAT(out, HasSubstr("beaconbar_public_address_last_success_timestamp_seconds{family=\"ipv4\"} 1700000000\n"));
  EXPECT_THAT(out, HasSubstr("beaconbar_public_address_lookup_failures_total{family=\"ipv6\",kind=\"network\"} 2\n"));
  EXPECT_THAT(out, HasSubstr("beaconbar_public_address_lookup_failures_total{family=\"ipv6\",kind=\"timeout\"} 1\n"));
  EXPECT_THAT(out, HasSubstr("beaconbar_scrape_duration_seconds 0.0125\n"));
  EXPECT_THAT(out, HasSubstr("beaconbar_reading_errors_total{source=\"tunnel_owners\"} 3\n"));
}

TEST(MetricsModelTest, LookupFailureKinds) {
  EXPECT_EQ(lookupFailureKind(PublicIPError::http(503).description()), "http");
  EXPECT_EQ(lookupFailureKind(PublicIPError::badURL().description()), "bad_url");
  EXPECT_EQ(lookupFailureKind(PublicIPError::malformed().description()), "malformed");
  EXPECT_EQ(lookupFailureKind(PublicIPError::noAddress().description()), "no_address");
  EXPECT_EQ(lookupFailureKind(PublicIPService::timedOutError().description), "timeout");
  EXPECT_EQ(lookupFailureKind(PublicIPService::cancelledError().description), "cancelled");
  EXPECT_EQ(lookupFailureKind("Connection refused"), "network");
  EXPECT_EQ(lookupFailureKind("The server answered"), "network");
}

}  // namespace
}  // namespace bcn::metrics
