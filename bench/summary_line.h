// The one line each benchmark prints per target it checks, which
// scripts/bench.sh collects into its closing table. Tab-separated, after a
// fixed tag, so that free-form output around it cannot be mistaken for one:
//
//   bench-summary <bench> <case> <anchor ratio> <floor ratio> <target> <met|missed|n/a>
//
// Ratios are text that says which way they go ("lsof/ours 31.2x"); "-"
// when a run has none (a skipped anchor, a benchmark without a floor).
#pragma once

#include <cstdio>
#include <string>

namespace bcn::bench {

inline std::string ratioText(const char* what, double ratio) {
  if (!(ratio > 0)) return "-";
  char text[96];
  std::snprintf(text, sizeof text, "%s %.2fx", what, ratio);
  return text;
}

// `met`: 1 met, 0 missed, -1 not measured.
inline void printSummaryLine(const std::string& bench, const std::string& kase, const std::string& anchor,
                             const std::string& floor, const std::string& target, int met) {
  std::printf("bench-summary\t%s\t%s\t%s\t%s\t%s\t%s\n", bench.c_str(), kase.c_str(), anchor.c_str(), floor.c_str(),
              target.c_str(), met > 0 ? "met" : met == 0 ? "missed" : "n/a");
  std::fflush(stdout);
}

}  // namespace bcn::bench
