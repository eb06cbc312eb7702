// The JSON form of an interface snapshot, shared by `interfaces --json`
// and `overview --json`. The keys are part of the tool's interface and are
// listed in docs/cli.md; absent values are JSON null, never left out, so a
// consumer sees the same keys for every interface. Pure; thread-safe.
#pragma once

#include <nlohmann/json.hpp>

#include "netcore/history/rate_aggregate.h"
#include "netcore/history/rate_sample.h"
#include "netcore/interfaces/interface_snapshot.h"

namespace bcn::cli {

nlohmann::ordered_json interfaceJson(const InterfaceSnapshot& snapshot);

// A number, or null for infinity and NaN, which JSON cannot hold.
nlohmann::ordered_json jsonNumber(double value);

// {"in": bytes/s, "out": bytes/s, "seconds": duration}; null for no sample.
nlohmann::ordered_json rateJson(const std::optional<RateSample>& sample);

// {"seconds", "bytesIn", "bytesOut", "averageIn", "averageOut", "minIn",
// "maxIn", "minOut", "maxOut"}; null for an empty aggregate, whose minimums
// are infinite and have no JSON form.
nlohmann::ordered_json aggregateJson(const RateAggregate& aggregate);

}  // namespace bcn::cli
