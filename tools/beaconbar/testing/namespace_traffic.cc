#include "tools/beaconbar/testing/namespace_traffic.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <thread>

namespace bcn::cli::testing {

std::size_t sendDatagrams(const bcn::testing::TestNamespace& from, const std::string& address,
                          std::chrono::milliseconds duration) {
  using std::chrono::steady_clock;
  return from
      .inside([&] {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9);
        inet_pton(AF_INET, address.c_str(), &to.sin_addr);
        const std::string payload(1000, 'x');
        std::size_t sent = 0;
        for (const auto end = steady_clock::now() + duration; steady_clock::now() < end;) {
          if (sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) {
            sent += payload.size();
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        close(fd);
        return sent;
      })
      .value_or(0);
}

std::uint64_t receivedBytes(const bcn::testing::TestNamespace& where, const std::string& link) {
  const auto links = nlohmann::json::parse(where.ipOutput("-s -j link show dev " + link));
  return links.at(0).at("stats64").at("rx").at("bytes").get<std::uint64_t>();
}

}  // namespace bcn::cli::testing
