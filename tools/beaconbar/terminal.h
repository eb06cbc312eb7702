// Terminal output for the live views: redrawing a block of lines in place
// (watch) and a one-line spinner for waits longer than a second. The escape
// sequences are produced by pure functions so they can be checked without
// a terminal; LiveBlock and Spinner only write them. Not thread-safe; one
// owner per stream.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace bcn::cli {

bool isTerminal(std::FILE* stream);
// Columns of the terminal behind `stream`; 0 when unknown.
std::size_t terminalColumns(std::FILE* stream);

// The bytes that replace the `previousLines` lines written last (the cursor
// sits below them) with `lines`: back to the first of them, each line
// cleared and rewritten, and whatever is left below cleared. With
// previousLines 0 it simply writes the lines.
std::string redrawSequence(std::size_t previousLines, const std::vector<std::string>& lines);

// The spinner's line for frame `frame`: a turning bar and the message,
// starting with a carriage return and a clear-line so it overwrites itself.
std::string spinnerLine(std::size_t frame, const std::string& message);
// Clears the spinner's line.
std::string spinnerClear();

// A block of lines redrawn in place on a terminal; the cursor is hidden
// while it exists. Lines are cut to the terminal's width, since a wrapped
// line would throw the count of lines to go back over.
class LiveBlock {
 public:
  explicit LiveBlock(std::FILE* stream);
  ~LiveBlock();
  LiveBlock(const LiveBlock&) = delete;
  LiveBlock& operator=(const LiveBlock&) = delete;

  void show(const std::vector<std::string>& lines);

 private:
  std::FILE* stream_;
  std::size_t shown_ = 0;
};

}  // namespace bcn::cli
