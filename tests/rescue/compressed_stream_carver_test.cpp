#include <string>

#include "rescue/media_carver_fixture.h"
#include "rescue/sector_classifier.h"

namespace vellumark {
namespace {

using namespace test;  // NOLINT

// A directory holding "payload": 229 KB of numbers (which compress well) and
// 60,000 random bytes (which do not), so that every stream spans far more
// sectors than the image keeps; and the shell prefix that works in it.
std::string WithPayload(const TempDir& dir) {
  WriteFileBytes(dir / "random", PatternBytes(60'000, 3));
  const std::string in = "cd '" + dir.path().string() + "' && ";
  EXPECT_EQ(test::Run(in + "{ seq 1 40000; cat random; } > payload"), 0);
  return in;
}

struct Stream { const char* name; Bytes file; };
// Byte edits that break a stream's check; each must leave it unclaimed. at:
// the byte's offset, from the end when negative.
struct Damage { const char* name; std::ptrdiff_t at; };

void ExpectStreams(MediaCarver carve, FileTypeCode code, const std::vector<Stream>& streams,
                   std::initializer_list<Damage> damages) {
  for (const Stream& s : streams) {
    SCOPED_TRACE(s.name);
    const Bytes& f = s.file;
    ASSERT_GT(SectorsOf(f), 61);
    EXPECT_EQ(ClassifySector(f.data(), f.size()), code);
    ExpectCarveProtocol(carve, f, Head(f, f.size() - 1));  // the last byte past the source's end
    // Not a cut of the last byte: the bits of the stream's check in it may
    // happen to match what follows, and the stream's bits may end before it.
    for (const std::size_t cut : {std::size_t{512}, f.size() / 2, f.size() - 8}) {
      EXPECT_EQ(Carve(carve, Head(f, cut), 40), Runs{}) << "cut at " << cut << ", random sectors after";
    }
    for (const Damage& d : damages) {
      const std::size_t at = d.at < 0 ? f.size() - std::size_t(-d.at) : std::size_t(d.at);
      EXPECT_EQ(Carve(carve, With(f, at, {std::uint8_t(f[at] ^ 0x10)})), Runs{}) << d.name;
    }
    EXPECT_EQ(Carve(carve, With(f, f.size() / 2, {std::uint8_t(f[f.size() / 2] ^ 0x01)})), Runs{}) << "data";
  }
}

TEST(GzipCarverRealFiles, MembersCheckedByTheirTrailer) {
  VELLUMARK_REQUIRE_TOOL("gzip");
  TempDir dir;
  const std::string in = WithPayload(dir);
  const Bytes named = Made(dir, in + "gzip -c payload > ", "a.gz");
  const Bytes fast = Made(dir, in + "gzip -1 -n -c payload > ", "b.gz");
  const Bytes both = Made(dir, in + "cat a.gz b.gz > ", "ab.gz");
  ASSERT_EQ(named[3] & 0x08, 0x08);  // the name is stored
  ExpectStreams(GzipCarver, code::kGzip, {{"with name", named}, {"-1, no name", fast}, {"two members", both}},
                {{"CRC-32", -8}, {"length", -4}});
  // A member ending on a sector boundary: the look for a next member gives
  // back the sector after it. The stored name sets the length; random bytes
  // added to the payload bring the name's length under the system's limit.
  Bytes exact;
  for (std::size_t extra = 100; extra < 1000 && exact.empty(); extra += 100) {
    WriteFileBytes(dir / "more", PatternBytes(extra, 4));
    const Bytes nameless = Made(dir, in + "cat payload more > p && gzip -1 -n -c p > ", "p.gz");
    const std::size_t name = 511 - nameless.size() % 512;
    if (name == 0 || name > 255) continue;
    ASSERT_EQ(test::Run(in + "mv p " + std::string(name, 'n')), 0);
    exact = Made(dir, in + "gzip -1 -c " + std::string(name, 'n') + " > ", "exact.gz");
  }
  ASSERT_EQ(exact.size() % 512, 0u);
  EXPECT_EQ(Carve(GzipCarver, exact, 40), Span(2, SectorsOf(exact)));
  EXPECT_EQ(Carve(GzipCarver, Cat({exact, fast}), 40), Span(2, SectorsOf(exact) + SectorsOf(fast)));
}

TEST(Bzip2CarverRealFiles, StreamCheckedByItsCrcs) {
  VELLUMARK_REQUIRE_TOOL("bzip2");
  TempDir dir;
  const std::string in = WithPayload(dir);
  const Bytes best = Made(dir, in + "bzip2 -9 -c payload > ", "a.bz2");
  const Bytes blocks = Made(dir, in + "bzip2 -1 -c payload > ", "b.bz2");  // 100 KB blocks: three of them
  ExpectStreams(Bzip2Carver, code::kBzip2, {{"-9", best}, {"-1, several blocks", blocks}},
                {{"stream CRC", -2}, {"first block's CRC", 10}});
  // A second stream after the first is another file.
  EXPECT_EQ(Carve(Bzip2Carver, Cat({best, blocks}), 40), Span(2, SectorsOf(best)));
  // A sector of something else written over the middle of a block: the
  // stream claims nothing, lest it take a sector a document needs. The
  // random bytes of the payload code at about 8 bits a byte, where foreign
  // bytes decode in step with the block's own and only its CRC shows them.
  const Bytes document = ReadFileBytes(std::string(VELLUMARK_CORPUS_DIR) + "/doc/47304.doc");
  ASSERT_GE(document.size(), 8192u);
  const std::pair<const char*, Bytes> foreign[] = {
      {"random bytes", PatternBytes(512, 9)},
      {"a document's sector", Bytes(document.begin() + 4096, document.begin() + 4608)},
      {"zeros", Bytes(512, 0)},
  };
  for (const Bytes* f : {&best, &blocks}) {
    for (const std::size_t at : {f->size() / 3 / 512 * 512, f->size() * 5 / 6 / 512 * 512}) {
      for (const auto& [what, sector] : foreign) {
        EXPECT_EQ(Carve(Bzip2Carver, With(*f, at, sector), 40), Runs{}) << what << " at " << at;
      }
    }
  }
}

TEST(XzCarverRealFiles, StreamCheckedByBlocksIndexAndFooter) {
  VELLUMARK_REQUIRE_TOOL("xz");
  TempDir dir;
  const std::string in = WithPayload(dir);
  const Bytes crc64 = Made(dir, in + "xz -c payload > ", "a.xz");
  const Bytes crc32 = Made(dir, in + "xz -0 --check=crc32 -c payload > ", "b.xz");
  const Bytes sha256 = Made(dir, in + "xz --check=sha256 --block-size=100000 -c payload > ", "c.xz");
  ExpectStreams(XzCarver, code::kXz, {{"CRC-64", crc64}, {"CRC-32", crc32}, {"SHA-256, several blocks", sha256}},
                {{"footer CRC", -12}, {"backward size", -7}, {"index CRC", -14}});
  EXPECT_EQ(Carve(XzCarver, Cat({crc32, Bytes(8, 0)}), 40), Span(2, SectorsOf(crc32))) << "stream padding";
}

}  // namespace
}  // namespace vellumark
