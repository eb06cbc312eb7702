#include "tools/beaconbar/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <array>

#include "tools/beaconbar/text_table.h"

namespace bcn::cli {
namespace {

constexpr const char* kClearLine = "\x1b[2K";
constexpr const char* kClearBelow = "\x1b[J";
constexpr const char* kHideCursor = "\x1b[?25l";
constexpr const char* kShowCursor = "\x1b[?25h";

}  // namespace

bool isTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

std::size_t terminalColumns(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

std::string redrawSequence(std::size_t previousLines, const std::vector<std::string>& lines) {
  std::string out;
  // CSI n F: to the start of the line n lines up.
  if (previousLines > 0) out += "\x1b[" + std::to_string(previousLines) + "F";
  for (const std::string& line : lines) out += std::string(kClearLine) + line + "\n";
  if (previousLines > lines.size()) out += kClearBelow;
  return out;
}

std::string spinnerLine(std::size_t frame, const std::string& message) {
  static constexpr std::array<char, 4> kFrames = {'|', '/', '-', '\\'};
  return std::string("\r") + kClearLine + kFrames[frame % kFrames.size()] + " " + message;
}

std::string spinnerClear() { return std::string("\r") + kClearLine; }

LiveBlock::LiveBlock(std::FILE* stream) : stream_(stream) {
  std::fputs(kHideCursor, stream_);
  std::fflush(stream_);
}

LiveBlock::~LiveBlock() {
  std::fputs(kShowCursor, stream_);
  std::fflush(stream_);
}

void LiveBlock::show(const std::vector<std::string>& lines) {
  const std::size_t columns = terminalColumns(stream_);
  std::vector<std::string> fitted;
  for (const std::string& line : lines) fitted.push_back(columns == 0 ? line : truncateToWidth(line, columns));
  std::fputs(redrawSequence(shown_, fitted).c_str(), stream_);
  std::fflush(stream_);
  shown_ = lines.size();
}

}  // namespace bcn::cli
