#include "tools/beaconbar/text_table.h"

#include <algorithm>

namespace bcn::cli {

std::size_t displayWidth(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string truncateToWidth(const std::string& text, std::size_t width) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (seen++ == width) return text.substr(0, i);
  }
  return text;
}

std::string padRight(const std::string& text, std::size_t width) {
  const std::size_t used = displayWidth(text);
  return used >= width ? text : text + std::string(width - used, ' ');
}

std::string TextTable::render() const {
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], displayWidth(row[i]));
  }
  std::string out;
  for (const auto& row : rows_) {
    std::string line = indent_;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += i + 1 < row.size() ? padRight(row[i], widths[i] + 2) : row[i];
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

}  // namespace bcn::cli
