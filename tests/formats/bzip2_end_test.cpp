// The end of a bzip2 stream, as libbz2 finds it, must not depend on how the
// stream's bytes are cut into pieces: the carving feeds it a sector at a
// time, the stream measured ahead a mapped block at a time.
#include "formats/bzip2/bzip2_end.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fixtures.h"

namespace vellumark {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bzip2End::State FedInPieces(const Bytes& bytes, std::size_t piece, std::int64_t& length) {
  Bzip2End end;
  for (std::size_t at = 0; at < bytes.size() && end.Current() == Bzip2End::State::Going; at += piece) {
    end.Feed(ByteView(bytes.data() + at, std::min(piece, bytes.size() - at)));
  }
  length = end.Length();
  return end.Current();
}

TEST(Bzip2End, EndsWhereTheStreamEndsHoweverItIsFed) {
  VELLUMARK_REQUIRE_TOOL("bzip2");
  test::TempDir dir;
  test::WriteFileBytes(dir / "random", test::PatternBytes(150'000, 7));
  const std::string in = "cd '" + dir.path().string() + "' && ";
  ASSERT_EQ(test::Run(in + "{ seq 1 30000; cat random; } > payload"), 0);
  const Bytes blocks = test::Made(dir, in + "bzip2 -1 -c payload > ", "a.bz2");  // three 100 KB blocks
  ASSERT_GT(blocks.size(), 150'000u);
  Bytes followed = blocks;  // another file's bytes right after it
  const Bytes random = test::PatternBytes(4096, 9);
  followed.insert(followed.end(), random.begin(), random.end());
  Bytes damaged = blocks;
  damaged[damaged.size() / 2] ^= 0x01;
  const struct { const char* what; Bytes bytes; Bzip2End::State state; std::int64_t length; } cases[] = {
      {"whole", blocks, Bzip2End::State::Done, static_cast<std::int64_t>(blocks.size())},
      {"followed by other bytes", followed, Bzip2End::State::Done, static_cast<std::int64_t>(blocks.size())},
      {"its last byte missing", Bytes(blocks.begin(), blocks.end() - 1), Bzip2End::State::Going,
       static_cast<std::int64_t>(blocks.size()) - 1},
      {"one bit changed in a block", damaged, Bzip2End::State::Broken, -1},
  };
  for (const auto& c : cases) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{512}, std::size_t{4} << 20}) {
      SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
      std::int64_t length = 0;
      EXPECT_EQ(FedInPieces(c.bytes, piece, length), c.state);
      if (c.length >= 0) {
        EXPECT_EQ(length, c.length);
      }
    }
  }
}

}  // namespace
}  // namespace vellumark
