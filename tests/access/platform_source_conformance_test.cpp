// Both platform layers must behave alike: the engine is tested on the memory
// one and runs on the POSIX one.
#include <gtest/gtest.h>

#include <memory>
#include <numeric>

#include "access/memory_platform_source.h"
#include "access/posix_platform_source.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

struct PosixSetup {
  test::TempDir dir;
  PosixPlatformSource source;
  std::string Place(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    test::WriteFileBytes(dir / name, bytes);
    return dir / name;
  }
};

struct MemorySetup {
  MemoryPlatformSource source;
  std::string Place(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    source.Add(name, bytes).mappable = true;  // as an image file is
    return name;
  }
};

template <typename Harness>
class PlatformSourceConformance : public ::testing::Test {
 protected:
  Harness setup;
  PlatformSource& source() { return setup.source; }
};

using Harnesses = ::testing::Types<PosixSetup, MemorySetup>;
TYPED_TEST_SUITE(PlatformSourceConformance, Harnesses);

TYPED_TEST(PlatformSourceConformance, OpensOnlyWhatExists) {
  EXPECT_FALSE(this->source().Open(this->setup.Place("a", {1}) + ".missing"));
  EXPECT_EQ(this->source().LastOpenFailure().systemError, ENOENT);
  EXPECT_EQ(this->source().LastOpenFailure().refused, RefusedKind::None);
  EXPECT_FALSE(this->source().IsOpen());
  EXPECT_EQ(this->source().Read(nullptr, 0), -1);
}

TYPED_TEST(PlatformSourceConformance, SeeksAndReadsSequentially) {
  const auto bytes = test::PatternBytes(10'000);
  ASSERT_TRUE(this->source().Open(this->setup.Place("a", bytes)));
  EXPECT_EQ(this->source().PartitionLength(), 10'000);
  EXPECT_EQ(this->source().PartitionSectorSize(), std::nullopt);  // a plain file reports none
  EXPECT_EQ(this->source().Seek(0, SeekOrigin::End), 10'000);
  EXPECT_EQ(this->source().Seek(-1, SeekOrigin::Begin), -1);

  ASSERT_EQ(this->source().Seek(4'000, SeekOrigin::Begin), 4'000);
  std::vector<std::uint8_t> got(1'000);
  ASSERT_EQ(this->source().Read(got.data(), 500), 500);
  ASSERT_EQ(this->source().Read(got.data() + 500, 500), 500);  // continues where the first stopped
  EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + 4'000));
}

TYPED_TEST(PlatformSourceConformance, MapsAnImageFilesRangeInPlace) {
  const auto bytes = test::PatternBytes(20'000);
  ASSERT_TRUE(this->source().Open(this->setup.Place("a", bytes)));
  // Neither end on a page.
  const auto mapped = this->source().Map(4'097, 12'000);
  ASSERT_NE(mapped, nullptr);
  ASSERT_EQ(mapped->Size(), 12'000u);
  EXPECT_TRUE(std::equal(mapped->Data(), mapped->Data() + 12'000, bytes.begin() + 4'097));
  test::MappedSum task{mapped->Data(), mapped->Size()};
  EXPECT_TRUE(this->source().ReadMapped(test::SumMapped, &task));
  EXPECT_EQ(task.sum, std::accumulate(bytes.begin() + 4'097, bytes.begin() + 16'097, std::uint64_t{0}));
  // A range that reaches past the end would fault where it does: refused.
  EXPECT_EQ(this->source().Map(19'000, 1'001), nullptr);
  EXPECT_NE(this->source().Map(19'000, 1'000), nullptr);
  EXPECT_EQ(this->source().Map(-1, 10), nullptr);
}

TYPED_TEST(PlatformSourceConformance, ReadsShortAtTheEnd) {
  ASSERT_TRUE(this->source().Open(this->setup.Place("a", test::PatternBytes(1'000))));
  std::vector<std::uint8_t> got(512);
  ASSERT_EQ(this->source().Seek(900, SeekOrigin::Begin), 900);
  EXPECT_EQ(this->source().Read(got.data(), 512), 100);
  EXPECT_EQ(this->source().Read(got.data(), 512), 0);
}

TYPED_TEST(PlatformSourceConformance, ReadsAtAnOffsetWithoutMovingThePosition) {
  const auto bytes = test::PatternBytes(3'000);
  ASSERT_TRUE(this->source().Open(this->setup.Place("a", bytes)));
  ASSERT_EQ(this->source().Seek(100, SeekOrigin::Begin), 100);
  std::vector<std::uint8_t> got(1'000);
  ASSERT_EQ(this->source().ReadAt(got.data(), 1'000, 1'500), 1'000);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + 1'500));
  EXPECT_EQ(this->source().ReadAt(got.data(), 1'000, 2'600), 400);  // short at the end
  EXPECT_EQ(this->source().ReadAt(got.data(), 1, -1), -1);
  ASSERT_EQ(this->source().Read(got.data(), 10), 10);  // the position stayed at 100
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 10, bytes.begin() + 100));
}

TYPED_TEST(PlatformSourceConformance, ReopeningServesTheNewSource) {
  const auto first = test::PatternBytes(2'048, 1);
  const auto second = test::PatternBytes(2'048, 2);
  ASSERT_TRUE(this->source().Open(this->setup.Place("a", first)));
  const std::string secondPath = this->setup.Place("b", second);
  ASSERT_TRUE(this->source().Open(secondPath));
  std::vector<std::uint8_t> got(2'048);
  ASSERT_EQ(this->source().Read(got.data(), got.size()), 2'048);  // position restarts at 0
  EXPECT_EQ(got, second);

  this->source().Close();
  EXPECT_FALSE(this->source().IsOpen());
  EXPECT_EQ(this->source().Read(got.data(), 1), -1);
  EXPECT_EQ(this->source().Seek(0, SeekOrigin::Begin), -1);
}

}  // namespace
}  // namespace vellumark
