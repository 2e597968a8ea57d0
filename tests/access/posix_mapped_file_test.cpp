// Mapped pages of an image file can fail after they were mapped (the file is
// cut shorter, the disk fails); reading them must then fail the read, not
// end the process, and leave the next reads working.
#include "access/posix_mapped_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <numeric>

#include "access/posix_platform_source.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

TEST(PosixMappedFile, AFileCutShorterWhileMappedFailsTheReadAndTheNextReadsWork) {
  test::TempDir dir;
  const std::string path = dir / "image.img";
  const auto bytes = test::PatternBytes(256 * 1024);
  const std::uint64_t total = std::accumulate(bytes.begin(), bytes.end(), std::uint64_t{0});
  // Twice: the first failure must leave the bus error unblocked and handled.
  for (int round = 0; round < 2; ++round) {
    test::WriteFileBytes(path, bytes);
    PosixPlatformSource source;
    ASSERT_TRUE(source.Open(path));
    const auto mapped = source.Map(0, static_cast<std::int64_t>(bytes.size()));
    ASSERT_NE(mapped, nullptr);
    test::MappedSum whole{mapped->Data(), mapped->Size()};
    ASSERT_TRUE(source.ReadMapped(test::SumMapped, &whole));
    EXPECT_EQ(whole.sum, total);

    ASSERT_EQ(::truncate(path.c_str(), 8192), 0) << round;
    test::MappedSum cut{mapped->Data(), mapped->Size()};
    EXPECT_FALSE(source.ReadMapped(test::SumMapped, &cut)) << round;
    // The pages still there read as before.
    test::MappedSum front{mapped->Data(), 8192};
    EXPECT_TRUE(source.ReadMapped(test::SumMapped, &front)) << round;
    EXPECT_EQ(front.sum, std::accumulate(bytes.begin(), bytes.begin() + 8192, std::uint64_t{0}));
  }
}

void BusErrorAfterAGuardedRead() {
  test::MappedSum nothing{nullptr, 0};
  ReadMappedGuarded(test::SumMapped, &nothing);  // the handler is in place from here on
  ::raise(SIGBUS);
}

// Ended by the bus error itself: a guard left armed after its read would
// jump back into a frame long gone and end otherwise, or not at all. Under
// AddressSanitizer the handler passed the signal on to is the sanitizer's,
// which names the signal and ends the process its own way (an exit status,
// or an abort, as its options say).
TEST(PosixMappedFileDeathTest, ABusErrorOutsideAGuardedReadStillEndsTheProcess) {
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_EXIT(BusErrorAfterAGuardedRead(), [](int status) { return status != 0; }, "AddressSanitizer: BUS on");
#else
  EXPECT_EXIT(BusErrorAfterAGuardedRead(), ::testing::KilledBySignal(SIGBUS), "");
#endif
}

}  // namespace
}  // namespace vellumark
