// The pace shown below the progress windows' labels: measured over the last
// few seconds, nothing before the first second, and texts that read well.
#include "common/rate_meter.h"

#include <gtest/gtest.h>

#include "texts/message_table.h"
#include "texts/progress_labels.h"

namespace vellumark {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(RateMeter, MeasuresTheLastSecondsAndTellsTimeLeft) {
  const RateMeter::Clock::time_point start{};
  RateMeter meter(1'000'000'000, start);
  meter.Update(50'000'000, start + milliseconds(500));
  EXPECT_EQ(meter.BytesPerSecond(), std::nullopt);  // too soon to say
  EXPECT_EQ(meter.SecondsLeft(), std::nullopt);
  meter.Update(100'000'000, start + seconds(1));
  EXPECT_DOUBLE_EQ(*meter.BytesPerSecond(), 100e6);
  EXPECT_EQ(meter.SecondsLeft(), 9);
  // Ten seconds at 100 MB/s, then the disk slows to 10 MB/s: after a window
  // of the slow part, the speed is that of the slow part alone.
  for (int s = 2; s <= 10; ++s) meter.Update(s * 100'000'000LL, start + seconds(s));
  for (int s = 11; s <= 16; ++s) meter.Update(1'000'000'000LL + (s - 10) * 10'000'000LL, start + seconds(s));
  EXPECT_NEAR(*meter.BytesPerSecond(), 10e6, 1);
  // Past the total (a range that grew) leaves nothing, never a negative time.
  meter.Update(1'100'000'000, start + seconds(17));
  EXPECT_EQ(meter.SecondsLeft(), 0);
}

TEST(RateMeter, AStalledRunHasNoTimeLeftAndAClockThatGoesBackIsIgnored) {
  const RateMeter::Clock::time_point start{seconds(100)};
  RateMeter meter(1'000, start);
  meter.Update(0, start + seconds(3));
  EXPECT_EQ(meter.BytesPerSecond(), 0.0);
  EXPECT_EQ(meter.SecondsLeft(), std::nullopt);
  meter.Update(500, start - seconds(50));
  EXPECT_EQ(meter.BytesPerSecond(), 0.0);
}

TEST(RateMeter, Texts) {
  EXPECT_EQ(DurationText(0), "0:00");
  EXPECT_EQ(DurationText(59), "0:59");
  EXPECT_EQ(DurationText(3599), "59:59");
  EXPECT_EQ(DurationText(3600 * 26 + 61), "26:01:01");
  EXPECT_EQ(MegabytesPerSecondText(84'249'999), "84.2");
}

TEST(ProgressLabels, PaceBelowTheLabels) {
  ChooseLanguage(Language::English);
  ProgressLabels labels;
  labels.Start(ProgressStage::Search, "disk.img");
  ProgressReport report;
  report.sector = 10;
  labels.Apply(report);
  EXPECT_EQ(labels.Pace(), "");
  report.bytesPerSecond = 123.46e6;
  report.secondsLeft = 75;
  labels.Apply(report);
  EXPECT_EQ(labels.Pace(), "Speed: 123.5 MB/s   Time left: 1:15");
  labels.Start(ProgressStage::Carve, "disk.img");
  EXPECT_EQ(labels.Pace(), "");
  ProgressReport carving;
  carving.documentsFound = 4;
  labels.Apply(carving);
  EXPECT_EQ(labels.Pace(), "Documents found: 4");
}

}  // namespace
}  // namespace vellumark
