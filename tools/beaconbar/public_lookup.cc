#include "tools/beaconbar/public_lookup.h"

#include <cstdio>

#include "netcore/publicip/lookup_request.h"
#include "netcore/publicip/public_ip_provider.h"
#include "netcore/publicip/public_ip_service.h"

namespace bcn::cli {

std::expected<LookupTarget, std::string> lookupTarget(const std::string& provider,
                                                      const std::optional<std::string>& url) {
  if (url) {
    if (!makeLookupRequest(*url)) return std::unexpected("not an http or https URL with a host: " + *url);
    return LookupTarget{*url, *url};
  }
  const auto known = PublicIPProvider::fromRawValue(provider);
  if (!known || !known->url()) return std::unexpected("unknown provider '" + provider + "' (use echoA or echoB)");
  return LookupTarget{std::string(known->title()), *known->url()};
}

PublicLookup::PublicLookup(LookupTarget target, std::optional<std::string> jsonKeyPath)
    : target_(std::move(target)), started_(std::chrono::steady_clock::now()) {
  std::promise<PublicIPResult> promise;
  result_ = promise.get_future();
  worker_ = std::jthread([url = target_.url, keyPath = std::move(jsonKeyPath),
                          promise = std::move(promise)](std::stop_token stop) mutable {
    promise.set_value(PublicIPService::lookup(url, keyPath, stop));
  });
}

PublicLookup::~PublicLookup() = default;  // the jthread asks for a stop and joins

std::pair<PublicAddressReport, PublicLookup::Outcome> PublicLookup::wait(SignalWaiter& signals,
                                                                         std::chrono::steady_clock::time_point deadline,
                                                                         const std::function<void()>& tick) {
  using namespace std::chrono;
  Outcome outcome = Outcome::finished;
  while (result_.wait_for(seconds(0)) != std::future_status::ready) {
    const auto left = deadline - steady_clock::now();
    if (left <= steady_clock::duration::zero()) {
      outcome = Outcome::timedOut;
      break;
    }
    if (signals.waitFor(std::min<steady_clock::duration>(left, milliseconds(100)))) {
      outcome = Outcome::interrupted;
      break;
    }
    if (tick) tick();
  }
  if (outcome != Outcome::finished) worker_.request_stop();
  PublicAddressReport report{target_.source, target_.url, result_.get()};
  if (outcome == Outcome::timedOut && report.failed()) {
    char limit[32];
    std::snprintf(limit, sizeof limit, "%.2g", duration<double>(deadline - started_).count());
    report.result.error = "no answer within " + std::string(limit) + " s";
  }
  return {std::move(report), outcome};
}

}  // namespace bcn::cli
