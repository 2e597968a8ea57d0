#include <cstdio>
#include <string>

#include "rescue/media_carver_fixture.h"
#include "rescue/sector_classifier.h"

namespace vellumark {
namespace {

using namespace test;  // NOLINT

// The header block at offset with a new size field, its checksum made to hold.
Bytes Resized(Bytes f, std::size_t header, const Bytes& sizeField) {
  std::copy(sizeField.begin(), sizeField.end(), f.begin() + header + 124);
  std::fill(f.begin() + header + 148, f.begin() + header + 156, ' ');
  unsigned sum = 0;
  for (std::size_t i = 0; i < 512; ++i) sum += f[header + i];
  char text[8];
  std::snprintf(text, sizeof text, "%06o", sum);
  std::copy(text, text + 7, f.begin() + header + 148);
  return f;
}
Bytes Octal(std::uint64_t v) {
  char text[12];
  std::snprintf(text, sizeof text, "%011llo", static_cast<unsigned long long>(v));
  return Bytes(text, text + 12);
}
Bytes Base256(std::uint64_t v) {
  Bytes field(12, 0);
  field[0] = 0x80;
  for (int i = 0; i < 8; ++i) field[11 - i] = std::uint8_t(v >> (8 * i));
  return field;
}

// A tree with a 30,000-byte file first (so that a cut early on falls in its
// data), an empty file, a 512-byte file, a directory, a link and a path of
// 150 characters; and the shell prefix that works in it.
std::string WithTree(const TempDir& dir) {
  WriteFileBytes(dir / "payload", PatternBytes(30'000, 7));
  WriteFileBytes(dir / "block", PatternBytes(512, 8));
  const std::string in = "cd '" + dir.path().string() + "' && ";
  const std::string deep = std::string(70, 'd') + "/" + std::string(79, 'f');
  EXPECT_EQ(test::Run(in + "mkdir sub " + std::string(70, 'd') + " && : > empty && ln -s payload link && cp block " + deep),
            0);
  return in + "tar -c --owner=0 --group=0 -f ";
}
const std::string kMembers = " payload empty block sub link " + std::string(70, 'd');

TEST(TarCarverRealFiles, UstarGnuPaxAndSparse) {
  VELLUMARK_REQUIRE_TOOL("tar");
  TempDir dir;
  const std::string tar = WithTree(dir);
  const Bytes ustar = Made(dir, tar, "u.tar", " --format=ustar" + kMembers);
  const Bytes gnu = Made(dir, tar, "g.tar", " --format=gnu" + kMembers);
  const Bytes pax = Made(dir, tar, "p.tar", " --format=pax" + kMembers);
  ASSERT_EQ(test::Run("cd '" + dir.path().string() + "' && truncate -s 3M sparse && for i in 1 2 3 4 5 6 7 8 9; do "
                "echo data | dd of=sparse bs=1 seek=${i}00000 conv=notrunc status=none; done"), 0);
  const Bytes sparse = Made(dir, tar, "s.tar", " --format=gnu -S sparse");
  ASSERT_EQ(sparse[156], 'S');
  ASSERT_NE(sparse[482], 0);  // more holes than the header holds: sparse blocks follow
  ASSERT_NE(std::string(gnu.begin(), gnu.end()).find("././@LongLink"), std::string::npos);
  // cut: a place inside the first member's data.
  const struct { const char* name; const Bytes& f; std::size_t cut; } archives[] = {
      {"ustar", ustar, 20'000}, {"gnu", gnu, 20'000}, {"pax", pax, 20'000}, {"gnu sparse", sparse, 1500}};
  for (const auto& [name, f, cut] : archives) {
    SCOPED_TRACE(name);
    ASSERT_EQ(f.size() % 10240, 0u);  // padded to whole records
    EXPECT_EQ(ClassifySector(f.data(), f.size()), code::kTar);
    ExpectCarveProtocol(TarCarver, f, Head(f, cut));
    for (const std::size_t at : {std::size_t{1024}, cut, f.size() - 10'240}) {
      EXPECT_EQ(Carve(TarCarver, Head(f, at), 0), Runs{}) << "cut at " << at;
    }
  }
  // The second header starts after the first's 30,000 bytes of data.
  EXPECT_EQ(Carve(TarCarver, With(ustar, 512 + 30'208, {'X'})), Runs{}) << "second header's checksum";
  EXPECT_EQ(Carve(TarCarver, Resized(ustar, 0, Octal(30'000))), Span(2, SectorsOf(ustar))) << "octal rewritten";
  EXPECT_EQ(Carve(TarCarver, Resized(ustar, 0, Base256(30'000))), Span(2, SectorsOf(ustar))) << "base 256";
  EXPECT_EQ(Carve(TarCarver, Resized(ustar, 0, With(Base256(30'000), 0, {0xFF}))), Runs{}) << "negative base 256";
  // A size one block short or two blocks long leads into member data; one
  // block long would pass over the empty file's header onto the next.
  EXPECT_EQ(Carve(TarCarver, Resized(ustar, 0, Octal(30'000 - 512))), Runs{}) << "size a block short";
  EXPECT_EQ(Carve(TarCarver, Resized(ustar, 0, Octal(30'000 + 1024))), Runs{}) << "size two blocks long";
}

TEST(TarCarverRealFiles, EndBlocksAndRecordPadding) {
  VELLUMARK_REQUIRE_TOOL("tar");
  TempDir dir;
  const std::string tar = WithTree(dir);
  const Bytes unpadded = Made(dir, tar, "b1.tar", " -b 1 --format=gnu" + kMembers);
  ASSERT_NE(unpadded.size() % 10240, 0u);
  const std::int64_t n = SectorsOf(unpadded), toRecord = (10240 - unpadded.size() % 10240) / 512;
  EXPECT_EQ(Carve(TarCarver, unpadded, 40), Span(2, n)) << "random sector after the end blocks, given back";
  EXPECT_EQ(Carve(TarCarver, Cat({unpadded, Bytes(2 * 512, 0)}), 40), Span(2, n + std::min<std::int64_t>(2, toRecord)))
      << "zeros after them";
  EXPECT_EQ(Carve(TarCarver, Cat({unpadded, Bytes(30 * 512, 0)}), 40), Span(2, n + toRecord)) << "to the record";
  EXPECT_EQ(Carve(TarCarver, Head(unpadded, unpadded.size() - 512), 40), Runs{}) << "one end block, then random";
  ExpectCarveProtocol(TarCarver, unpadded, Head(unpadded, unpadded.size() - 512));
}

}  // namespace
}  // namespace vellumark
