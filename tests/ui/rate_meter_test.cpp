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

// The carving's lines: the share of the documents done beside the percent,
// the sectors its walk has covered (a sector it stands at is not shown: the
// walk goes down), its pace in files a second, and the source after a blank.
TEST(ProgressLabels, CarvingLinesMoveForward) {
  ChooseLanguage(Language::English);
  ProgressLabels labels;
  labels.Start(ProgressStage::Carve, "/tmp/disk.img");
  EXPECT_EQ(labels.Source(), "Source: /tmp/disk.img");
  ProgressReport report;
  report.progressPercent = 25;
  report.documentsDone = 1;
  report.documentsTotal = 4;
  report.sectorsWalked = 1000;
  report.sectorsTotal = 8000;
  report.sector = 7001;  // the hit being carved: not shown
  report.documentsFound = 1;
  report.filesPerSecond = 12.34;
  report.secondsLeft = 65;
  labels.Apply(report);
  EXPECT_EQ(labels.Line(1), "Progress: 25%   Documents done: 1 / 4");
  EXPECT_EQ(labels.Line(2), "Sectors done: 1000 / 8000");
  EXPECT_EQ(labels.Found(), "Documents found: 1");
  EXPECT_EQ(labels.Rate(), "Speed: 12.3 files/s   Time left: 1:05");
  EXPECT_EQ(labels.Pace(), "Documents found: 1   Speed: 12.3 files/s   Time left: 1:05");
  // A carver's own report of where it reads changes nothing.
  ProgressReport reading;
  reading.sector = 7050;
  labels.Apply(reading);
  EXPECT_EQ(labels.Line(2), "Sectors done: 1000 / 8000");
}

}  // namespace
}  // namespace vellumark
