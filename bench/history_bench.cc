// Traffic history under a realistic load: one sample per second per
// interface, retention raw 600 s, minute 1 day, hour 30 days, 16 interfaces
// with full tiers. Measures add throughput, aggregate latency, and saving
// and loading the history file beside the anchor: the same buckets stored
// as one keyed record per bucket in a binary plist, the layout the packed
// "buckets" data replaces. Prints a summary with the ratios at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/summary_line.h"
#include "netcore/history/history_store.h"
#include "netcore/history/rate_history.h"
#include "platform/files.h"
#include "platform/plist.h"

namespace bcn {
namespace {

constexpr int kInterfaces = 16;
constexpr double kDay = 86'400;
const RateHistory::Retention kRetention{600, kDay, 30 * kDay};
const Date kNow{725'846'400};  // 2024-01-01 00:00:00 UTC

// ~30 days of one sample per second, pruned every minute as a client would.
RateHistory fullHistory(std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<std::uint64_t> bytes(0, 2'000'000);
  RateHistory h(kRetention);
  const double first = kNow.secondsSince2001 - 30 * kDay - 3600;
  for (double t = first; t <= kNow.secondsSince2001; t += 1) {
    h.add({Date{t}, 1, bytes(rng), bytes(rng) / 4});
    if (static_cast<std::int64_t>(t) % 60 == 0) h.prune(Date{t});
  }
  h.prune(kNow);
  return h;
}

const HistoryMap& histories() {
  static const HistoryMap map = [] {
    HistoryMap m;
    for (int i = 0; i < kInterfaces; ++i) m.emplace("if" + std::to_string(i), fullHistory(i + 1));
    return m;
  }();
  return map;
}

// ---- the anchor layout: {key: {"tiers": [{..., "buckets": [{8 keys}]}]}}

PlistValue encodeKeyed(const HistoryMap& map) {
  std::vector<PlistDictionary::Entry> root;
  for (const auto& [key, history] : map) {
    PlistArray tiers;
    for (const auto& tier : history.tiers) {
      PlistArray buckets;
      buckets.reserve(tier.buckets.size());
      for (const auto& b : tier.buckets) {
        buckets.push_back(PlistDictionary{{"start", b.start},     {"seconds", b.seconds},
                                          {"bytesIn", b.bytesIn}, {"bytesOut", b.bytesOut},
                                          {"minIn", b.minIn},     {"maxIn", b.maxIn},
                                          {"minOut", b.minOut},   {"maxOut", b.maxOut}});
      }
      tiers.push_back(PlistDictionary{{"granularity", tier.granularity},
                                      {"retention", tier.retention},
                                      {"buckets", std::move(buckets)}});
    }
    root.emplace_back(key, PlistDictionary{{"tiers", std::move(tiers)}});
  }
  return PlistDictionary::fromEntries(std::move(root));
}

double realAt(const PlistDictionary& d, const char* key) {
  const PlistValue* v = d.find(key);
  return v != nullptr ? v->real().value_or(0) : 0;
}

std::uint64_t countAt(const PlistDictionary& d, const char* key) {
  const PlistValue* v = d.find(key);
  return v != nullptr ? v->uint64().value_or(0) : 0;
}

HistoryMap decodeKeyed(const PlistValue& value) {
  HistoryMap map;
  const PlistDictionary* root = value.dictionary();
  if (root == nullptr) return map;
  for (const auto& [key, historyValue] : *root) {
    RateHistory history;
    const PlistValue* tiers = historyValue.dictionary()->find("tiers");
    for (const PlistValue& tierValue : *tiers->array()) {
      const PlistDictionary& t = *tierValue.dictionary();
      RateHistory::Tier tier{realAt(t, "granularity"), realAt(t, "retention"), {}};
      for (const PlistValue& bucketValue : *t.find("buckets")->array()) {
        const PlistDictionary& b = *bucketValue.dictionary();
        tier.buckets.push_back({realAt(b, "start"), realAt(b, "seconds"), countAt(b, "bytesIn"),
                                countAt(b, "bytesOut"), realAt(b, "minIn"), realAt(b, "maxIn"),
                                realAt(b, "minOut"), realAt(b, "maxOut")});
      }
      history.tiers.push_back(std::move(tier));
    }
    map.emplace(key, std::move(history));
  }
  return map;
}

// ---- scratch directory for the files

const std::filesystem::path& scratch() {
  static const std::filesystem::path dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "history_bench.XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) std::abort();
    return std::filesystem::path(tmpl);
  }();
  return dir;
}

// ---- benchmarks

void BM_Add(benchmark::State& state) {
  RateHistory h = histories().begin()->second;
  double t = kNow.secondsSince2001;
  std::uint64_t n = 0;
  // Ten minutes of samples, then the client prunes; the prune is timed too.
  constexpr int kBatch = 600;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      t += 1;
      h.add({Date{t}, 1, ++n * 7 % 1'000'003, n % 4099});
    }
    h.prune(Date{t});
  }
  benchmark::DoNotOptimize(h);
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_Add);

void BM_Aggregate(benchmark::State& state) {
  const RateHistory& h = histories().begin()->second;
  const double period = static_cast<double>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(h.aggregate(period, kNow));
}
BENCHMARK(BM_Aggregate)->Arg(3600)->Arg(30 * 86'400)->Unit(benchmark::kMicrosecond);

void BM_SaveCompact(benchmark::State& state) {
  const HistoryStore store(scratch() / "compact" / "history.plist");
  for (auto _ : state) {
    if (!store.save(histories())) state.SkipWithError("save failed");
  }
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(store.url()));
}
BENCHMARK(BM_SaveCompact)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadCompact(benchmark::State& state) {
  const HistoryStore store(scratch() / "compact" / "history.plist");
  if (!store.save(histories())) state.SkipWithError("save failed");
  for (auto _ : state) {
    HistoryMap loaded = store.load();
    if (loaded.size() != kInterfaces) state.SkipWithError("load lost histories");
    benchmark::DoNotOptimize(loaded);
  }
}
BENCHMARK(BM_LoadCompact)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveKeyedAnchor(benchmark::State& state) {
  const auto dir = scratch() / "keyed";
  const auto path = dir / "history.plist";
  for (auto _ : state) {
    auto bytes = encodeBinaryPlist(encodeKeyed(histories()));
    if (!bytes || !files::createDirectories(dir, 0755) ||
        !files::writeFileAtomically(path, *bytes, 0644)) {
      state.SkipWithError("save failed");
    }
  }
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(path));
}
BENCHMARK(BM_SaveKeyedAnchor)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadKeyedAnchor(benchmark::State& state) {
  const auto path = scratch() / "keyed" / "history.plist";
  for (auto _ : state) {
    auto bytes = files::readFile(path, PlistLimits::kMaxBytes);
    auto value = bytes ? decodePlist(*bytes) : std::unexpected(bytes.error());
    HistoryMap loaded = value ? decodeKeyed(*value) : HistoryMap{};
    if (loaded != histories()) state.SkipWithError("keyed layout did not round-trip");
    benchmark::DoNotOptimize(loaded);
  }
}
BENCHMARK(BM_LoadKeyedAnchor)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps seconds per iteration and counters of every run for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      auto& r = results[run.benchmark_name()];
      r.seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
      for (const auto& [name, counter] : run.counters) r.counters[name] = counter.value;
    }
  }
  struct Result {
    double seconds = 0;
    std::map<std::string, double> counters;
  };
  std::map<std::string, Result> results;
};

}  // namespace
}  // namespace bcn

int main(int argc, char** argv) {
  using bcn::histories;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::printf("building %d histories with full tiers...\n", bcn::kInterfaces);
  const auto& h = histories().begin()->second;
  std::printf("tiers of one history: %zu raw, %zu minute, %zu hour buckets\n",
              h.tiers[0].buckets.size(), h.tiers[1].buckets.size(), h.tiers[2].buckets.size());

  bcn::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::filesystem::remove_all(bcn::scratch());

  auto& r = reporter.results;
  auto has = [&](const char* name) { return r.count(name) != 0; };
  std::printf("\n== history_bench summary\n");
  if (has("BM_Add")) {
    const double perSecond = 600 / r["BM_Add"].seconds;
    std::printf("add (with a prune every 600 samples): %.1f M samples/s (target >= 20 M/s)\n",
                perSecond / 1e6);
    bcn::bench::printSummaryLine("history_bench", "add",
                                 "-", "-", ">= 20 M samples/s", perSecond >= 20e6);
  }
  for (const char* name : {"BM_Aggregate/3600", "BM_Aggregate/2592000"}) {
    if (has(name)) {
      std::printf("aggregate(period %s s) on full tiers: %.2f us (target <= 20 us)\n",
                  std::string(name).substr(13).c_str(), r[name].seconds * 1e6);
      bcn::bench::printSummaryLine("history_bench",
                                   "aggregate, period " + std::string(name).substr(13) + " s",
                                   "-", "-", "<= 20 us", r[name].seconds <= 20e-6);
    }
  }
  if (has("BM_SaveCompact/real_time") && has("BM_SaveKeyedAnchor/real_time") &&
      has("BM_LoadCompact/real_time") && has("BM_LoadKeyedAnchor/real_time")) {
    auto& sc = r["BM_SaveCompact/real_time"];
    auto& sk = r["BM_SaveKeyedAnchor/real_time"];
    auto& lc = r["BM_LoadCompact/real_time"];
    auto& lk = r["BM_LoadKeyedAnchor/real_time"];
    const double compactBytes = sc.counters["file_bytes"];
    const double keyedBytes = sk.counters["file_bytes"];
    std::printf("file size:  compact %.0f bytes, keyed-record anchor %.0f bytes, anchor/compact %.2fx "
                "(target >= 3x)\n",
                compactBytes, keyedBytes, keyedBytes / compactBytes);
    std::printf("load:       compact %.2f ms, keyed-record anchor %.2f ms, anchor/compact %.2fx "
                "(target >= 3x)\n",
                lc.seconds * 1e3, lk.seconds * 1e3, lk.seconds / lc.seconds);
    std::printf("save:       compact %.2f ms, keyed-record anchor %.2f ms, anchor/compact %.2fx\n",
                sc.seconds * 1e3, sk.seconds * 1e3, sk.seconds / sc.seconds);
    bcn::bench::printSummaryLine("history_bench", "file size", bcn::bench::ratioText("keyed/ours", keyedBytes / compactBytes),
                                 "-", ">= 3x anchor", keyedBytes / compactBytes >= 3);
    bcn::bench::printSummaryLine("history_bench", "load", bcn::bench::ratioText("keyed/ours", lk.seconds / lc.seconds),
                                 "-", ">= 3x anchor", lk.seconds / lc.seconds >= 3);
  }
  return 0;
}
