#include "common/rate_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vellumark {

RateMeter::RateMeter(std::int64_t totalBytes, Clock::time_point start) : total_(totalBytes) {
  samples_.emplace_back(start, 0);
}

void RateMeter::Update(std::int64_t done, Clock::time_point now) {
  if (now < samples_.back().first) return;  // a clock that went back says nothing
  samples_.emplace_back(now, done);
  // Keep one sample at or before the window's start, so that the span
  // measured is the whole window once the run is that long.
  while (samples_.size() > 2 && now - samples_[1].first >= kWindow) samples_.pop_front();
}

std::optional<double> RateMeter::BytesPerSecond() const {
  const auto& [firstTime, firstDone] = samples_.front();
  const auto& [lastTime, lastDone] = samples_.back();
  const double seconds = std::chrono::duration<double>(lastTime - firstTime).count();
  if (seconds < 1.0) return std::nullopt;
  return static_cast<double>(lastDone - firstDone) / seconds;
}

std::optional<std::int64_t> RateMeter::SecondsLeft() const {
  const auto rate = BytesPerSecond();
  if (!rate || *rate <= 0.0) return std::nullopt;
  const std::int64_t left = std::max<std::int64_t>(total_ - samples_.back().second, 0);
  return static_cast<std::int64_t>(std::ceil(static_cast<double>(left) / *rate));
}

std::string DurationText(std::int64_t seconds) {
  char text[32];
  const std::int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  if (h > 0) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(h), static_cast<long long>(m),
                  static_cast<long long>(s));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(m), static_cast<long long>(s));
  }
  return text;
}

std::string MegabytesPerSecondText(double bytesPerSecond) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", bytesPerSecond / 1e6);
  return text;
}

}  // namespace vellumark
