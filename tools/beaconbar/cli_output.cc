#include "tools/beaconbar/cli_output.h"

#include <cstdio>

namespace bcn::cli {
namespace {

std::string dump(const nlohmann::ordered_json& json, int indent) {
  return json.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

int fail(const std::string& message, int status) { return failAs("beaconbar", message, status); }

int failAs(std::string_view program, const std::string& message, int status) {
  std::string line = message;
  // One line, whatever the message carries along from below.
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(program.size()), program.data(), line.c_str());
  return status;
}

void printJson(const nlohmann::ordered_json& json) { printText(dump(json, 2) + "\n"); }

void printJsonLine(const nlohmann::ordered_json& json) {
  printText(dump(json, -1) + "\n");
  std::fflush(stdout);
}

void printText(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace bcn::cli
