// TextTable: left-aligned columns separated by two spaces, for the tool's
// tabular outputs. Cells are measured in code points, so names with
// non-ASCII letters line up; trailing blanks are never written. A plain
// value; one owner fills it.
#pragma once

#include <string>
#include <vector>

namespace bcn::cli {

class TextTable {
 public:
  // `indent` is put before every line.
  explicit TextTable(std::string indent = "") : indent_(std::move(indent)) {}

  void addRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
  bool empty() const { return rows_.empty(); }

  // One line per row, each ending in a newline. Rows may have different
  // numbers of cells; a column is as wide as its widest cell.
  std::string render() const;

 private:
  std::string indent_;
  std::vector<std::vector<std::string>> rows_;
};

// Code points in a UTF-8 text (bytes that do not start a sequence are not
// counted).
std::size_t displayWidth(const std::string& text);

// The first `width` code points of `text`.
std::string truncateToWidth(const std::string& text, std::size_t width);

// `text` followed by blanks up to `width` code points.
std::string padRight(const std::string& text, std::size_t width);

}  // namespace bcn::cli
