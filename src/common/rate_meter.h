#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace vellumark {

// How fast a run over a known number of bytes goes and how long it has left,
// measured over its last few seconds, so that a slow stretch of disk shows
// soon while one slow read does not swing the figures.
class RateMeter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kWindow{5};

  RateMeter(std::int64_t totalBytes, Clock::time_point start);

  // done bytes of the total are behind the run at now.
  void Update(std::int64_t done, Clock::time_point now);
  // Nothing until the run has gone on for a second: the first figures would
  // say more about the start than about the disk.
  std::optional<double> BytesPerSecond() const;
  std::optional<std::int64_t> SecondsLeft() const;

 private:
  std::int64_t total_;
  std::deque<std::pair<Clock::time_point, std::int64_t>> samples_;
};

// "1:02:03" or "2:03": hours only where there are any.
std::string DurationText(std::int64_t seconds);
// Megabytes (10^6 bytes) per second with one decimal: "84.2".
std::string MegabytesPerSecondText(double bytesPerSecond);

}  // namespace vellumark
