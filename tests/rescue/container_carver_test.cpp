#include <algorithm>
#include <filesystem>
#include "common/byte_order.h"
#include "rescue/carvers/carver_table.h"
#include "rescue/media_carver_fixture.h"
#include "rescue/sector_classifier.h"

namespace vellumark {
namespace {
namespace fs = std::filesystem;
using namespace test;  // NOLINT
Bytes Times(const Bytes& b, int n) { return n > 0 ? Cat({b, Times(b, n - 1)}) : Bytes{}; }
// sectors: claimed from the hit on (-1: all of the file's sectors); tail: random sectors after it.
struct Case { const char* name; Bytes file; std::int64_t sectors = -1; std::int64_t tail = 40; };
void ExpectClaims(MediaCarver carve, std::initializer_list<Case> cases) {
  for (const Case& c : cases)
    EXPECT_EQ(Carve(carve, c.file, c.tail), Span(2, c.sectors < 0 ? SectorsOf(c.file) : c.sectors)) << c.name;
}
// A directory holding payload.bin (5,000 random bytes) and the shell prefix that works in it.
std::string WithPayload(const TempDir& dir) {
  WriteFileBytes(dir / "payload.bin", PatternBytes(5000, 9));
  return "cd '" + dir.path().string() + "' && ";
}
// An MP4 box: big-endian size, type, filler up to size (8 bytes at least).
Bytes Box(const char* type, std::uint32_t size) {
  Bytes b = {std::uint8_t(size >> 24), std::uint8_t(size >> 16), std::uint8_t(size >> 8), std::uint8_t(size)};
  b.insert(b.end(), type, type + 4);
  return b.resize(std::max<std::uint32_t>(size, 8), 0x5A), b;
}
TEST(Mp4CarverSynthetic, TopLevelBoxesUpToMoov) {
  const Bytes ftyp = Box("ftyp", 24), mdat = Box("mdat", 3000), moov = Box("moov", 900);
  ExpectClaims(Mp4Carver, {
      {"ftyp of 255 bytes", Cat({Box("ftyp", 255), mdat, moov})},
      {"ftyp of 256 bytes", Cat({Box("ftyp", 256), mdat, moov}), 0},
      {"every accepted type", Cat({ftyp, Box("free", 8), Box("isom", 100), Box("uuid", 600), mdat, moov})},
      {"nothing after moov, which ends on a sector boundary", Cat({ftyp, Box("moov", 1000), mdat}), 2},
      {"80 boxes of 500 bytes: the walk cuts back", Cat({ftyp, Times(Box("free", 500), 80), mdat, moov})},
      {"unknown type", Cat({ftyp, Box("wide", 8), mdat, moov}), 0},
      {"free of size 0", Cat({ftyp, Box("free", 0), mdat, moov}), 0},
      {"mdat of size 1", Cat({ftyp, Box("mdat", 1), mdat, moov}), 0},
      {"source ends inside mdat", Head(Cat({ftyp, Box("mdat", 200'000)}), 3000), 0},
  });
  for (std::uint32_t first : {24u, 248u})  // box sizes around the steps of the unread middle
    for (std::uint32_t middle : {1000u, 1016u, 1024u, 1025u, 2048u, 2049u, 5000u})
      EXPECT_EQ(Carve(Mp4Carver, Cat({Box("ftyp", first), Box("mdat", middle), moov, mdat})),
                Span(2, (first + middle + 900 + 511) / 512)) << first << "+" << middle;
  ExpectMiddleUnread(Mp4Carver, Cat({ftyp, Box("mdat", 300'000), moov}));
}

TEST(Mp4CarverRealFiles, FfmpegMoovAfterAndBeforeMdat) {
  VELLUMARK_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string ffmpeg = "ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=2:size=160x120:rate=10 -c:v mpeg4 ";
  const Bytes late = Made(dir, ffmpeg, "late.mp4"), early = Made(dir, ffmpeg + "-movflags +faststart ", "early.mp4");
  EXPECT_EQ(ClassifySector(late.data(), late.size()), code::kMp4);
  ExpectCarveProtocol(Mp4Carver, late, Head(late, late.size() - 600));  // moov cut by the source's end
  const std::size_t at = LoadBe32(early.data()), moovEnd = at + LoadBe32(early.data() + at);
  ASSERT_EQ(std::string(early.begin() + at + 4, early.begin() + at + 8), "moov");
  EXPECT_EQ(Carve(Mp4Carver, early, 40), Span(2, SectorsOf(Head(early, moovEnd))));
}

// A RAR block: CRC, type, flags (0x8000 when added is given), header size, added size; then added bytes.
const Bytes kMarker = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
Bytes Block(std::uint8_t type, std::uint16_t header, std::int64_t added = -1) {
  Bytes b = Cat({{0, 0, type}, Le(added >= 0 ? 0x8000 : 0, 2), Le(header, 2), added >= 0 ? Le(added, 4) : Bytes{}});
  b.resize(header, 0x5A);
  return b.resize(header + (added > 0 && added < (1 << 24) ? added : 0), 0x3C), b;
}
Bytes Rar(const Bytes& middle, const Bytes& end = Block(0x7B, 7)) {
  return Cat({kMarker, Block(0x73, 13), middle, end});
}
TEST(RarCarverSynthetic, BlocksUpToEndOfArchive) {
  ExpectClaims(RarCarver, {
      {"5,000 packed bytes", Rar(Block(0x74, 32, 5000)), 10},
      {"ends on a sector boundary", Rar(Block(0x74, 32, 5120 - 59)), 10},
      {"0x7A block", Rar(Block(0x7A, 600))},
      {"80 blocks of 500 bytes: the walk cuts back", Rar(Cat({Times(Block(0x7A, 500), 80), Block(0x74, 32, 900)}))},
      {"0x7C block", Rar(Block(0x7C, 600)), 0},
      {"0x72 block", Rar(Block(0x72, 600)), 0},
      {"block of size 0", Rar(With(Block(0x74, 32), 5, {0, 0})), 0},
      {"no end of archive, zeros after", Rar(Block(0x74, 32, 5000), Bytes(1024, 0)), 0},
      // Read as signed, 32 - 16 would land on the end block put inside the file header.
      {"added size, top bit set", With(Rar(Block(0x74, 32, 0xFFFFFFF0)), 7 + 13 + 16, {0, 0, 0x7B, 0, 0, 7, 0}), 0},
  });
  ExpectMiddleUnread(RarCarver, Rar(Block(0x74, 32, 300'000)));
}

TEST(RarCarverRealFiles, Corpus) {
  const fs::path dir = fs::path(VELLUMARK_CORPUS_DIR) / "rar";
  if (!fs::is_directory(dir)) VELLUMARK_CANNOT_RUN("RAR corpus not found at " << dir);
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const Bytes f = ReadFileBytes(entry.path().string());
    // RAR 5 has another marker; the two oldest archives end without an end-of-archive block.
    const bool none = name.rfind("rar5-", 0) == 0 || name == "rar15-comment.rar" || name == "rar202-comment-nopsw.rar";
    EXPECT_EQ(Carve(RarCarver, Cat({f, Bytes(1024, 0)})), Span(2, none ? 0 : SectorsOf(f))) << name;
  }
  const Bytes fixture = ReadFileBytes((dir / "fixture.rar").string());
  ExpectCarveProtocol(RarCarver, fixture, Head(fixture, 1000));
}

// Where the first data descriptor's signature stands.
std::size_t DescriptorAt(const Bytes& zip) {
  const Bytes signature = {'P', 'K', 7, 8};
  return static_cast<std::size_t>(std::search(zip.begin(), zip.end(), signature.begin(), signature.end()) - zip.begin());
}

TEST(ZipCarverRealFiles, ArchivesOfAnyNumberOfMembers) {
  VELLUMARK_REQUIRE_TOOL("zip");
  TempDir dir;
  const std::string in = WithPayload(dir), zip = in + "zip -q ";
  const Bytes one = Made(dir, zip + "-X -0 ", "one.zip", " payload.bin");
  const Bytes extras = Made(dir, zip, "extras.zip", " payload.bin");  // extra fields differ between the headers
  const Bytes commented = Made(dir, in + "head -c 300 /dev/zero | tr '\\0' c | zip -q -X -z ", "c.zip", " payload.bin");
  const Bytes two = Made(dir, zip + "-X ", "two.zip", " payload.bin one.zip");
  const Bytes streamed = Made(dir, in + "cat payload.bin | zip -q -X - - | cat > ", "dd.zip");
  // Python writes ZIP64 sizes and, to a pipe, data descriptors with them.
  const Bytes zip64 = Made(dir, in + "python3 -c \"import zipfile,sys\n"
                                     "with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:\n"
                                     "  for n in ('a', 'b'):\n"
                                     "    with z.open(n, 'w', force_zip64=True) as m: m.write(open('payload.bin','rb').read())\n"
                                     "\" | cat > ", "zip64.zip");
  ASSERT_EQ(one.size(), 5120u);  // 30 + 11 + 5,000 + 46 + 11 + 22: ends on a sector boundary
  ASSERT_NE(LoadLe16(extras.data() + 28), LoadLe16(extras.data() + LoadLe32(extras.data() + extras.size() - 6) + 30));
  ASSERT_GE(commented.size(), one.size() + 300);  // the comment lies in sectors of its own
  ASSERT_EQ(streamed[6] & 8, 8);                  // a data descriptor follows the data
  ASSERT_LT(DescriptorAt(streamed), streamed.size());
  ASSERT_EQ(zip64[6] & 8, 8);
  ASSERT_EQ(LoadLe32(zip64.data() + 18), 0xFFFFFFFFu);
  // A central directory entry whose member is missing: another archive's end.
  Bytes lost = two;
  const std::uint32_t centralAt = LoadLe32(two.data() + two.size() - 6);
  lost[centralAt] = 'Q';
  // Sizes in the local header and a data descriptor after the data all the
  // same, as some writers do: the descriptor (signature, CRC, two sizes) is
  // part of the member.
  Bytes described = Head(one, 5041);
  described[6] |= 8;
  const Bytes crc(one.begin() + 14, one.begin() + 18);
  Bytes central(one.begin() + 5041, one.begin() + 5098);
  central[8] |= 8;
  Bytes end(one.begin() + 5098, one.end());
  end = With(end, 16, Le(5041 + 16, 4));
  described = Cat({described, {'P', 'K', 7, 8}, crc, Le(5000, 4), Le(5000, 4), central, end});
  ASSERT_EQ(described.size(), 5136u);
  ExpectClaims(ZipCarver, {
      {"one stored member", one, 10},
      {"extra fields", extras},
      {"300-byte comment", commented},
      {"two members", two},
      {"data descriptor", streamed},
      {"sizes in the local header and a data descriptor", described, 11},
      {"ZIP64 sizes and descriptors", zip64},
      {"end record signature", With(one, 5098, {'Q'}), 0},
      {"first central entry damaged", lost, 0},
      {"descriptor's CRC wrong", With(streamed, DescriptorAt(streamed) + 4, {0x00, 0x00}), 0},
  });
  ExpectCarveProtocol(ZipCarver, one, Head(one, 3000));
  ExpectCarveProtocol(ZipCarver, streamed, Head(streamed, streamed.size() - 30));
}

// Office documents as their programs write them: Word with the sizes in the
// local headers, LibreOffice with data descriptors after deflated members.
TEST(ZipCarverRealFiles, OfficeDocuments) {
  const fs::path corpus = fs::path(VELLUMARK_CORPUS_DIR) / "ooxml";
  if (!fs::is_directory(corpus)) VELLUMARK_CANNOT_RUN("no office corpus at " << corpus);
  int tried = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    const Bytes f = ReadFileBytes(entry.path().string());
    if (f.size() < 1024 || LoadLe32(f.data()) != 0x04034B50) continue;
    EXPECT_EQ(Carve(ZipCarver, f), Span(2, SectorsOf(f))) << entry.path().filename();
    ++tried;
  }
  EXPECT_GE(tried, 30);
  const Bytes odt = ReadFileBytes((corpus / "Bug44292.odt").string());
  ExpectCarveProtocol(ZipCarver, odt, Head(odt, odt.size() / 2));
}

TEST(CabCarver, DeclaredLength) {
  const auto cab = [](std::uint32_t size) { return Sector(Cat({{'M', 'S', 'C', 'F'}, Le(0, 4), Le(size, 4)})); };
  ExpectClaims(CabCarver, {
      {"0: the hit sector", cab(0), 1},
      {"513", cab(513), 2},
      {"top bit set: runs to the source's end and keeps it", cab(0x80000000), 41},
      {"MSCE", With(cab(600), 3, {'E'}), 0},
  });
  VELLUMARK_REQUIRE_TOOL("gcab");
  TempDir dir;
  const Bytes made = Made(dir, WithPayload(dir) + "gcab -c ", "one.cab", " payload.bin");
  ASSERT_EQ(LoadLe32(made.data() + 8), made.size());
  ExpectCarveProtocol(CabCarver, made, With(made, 0, {'m'}));
}

TEST(SevenZipCarver, SignatureHeaderLength) {
  const auto sevenZ = [](std::uint64_t offset, std::uint64_t size, std::uint8_t version = 3) {
    return Sector(Cat({{0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0, version}, Le(0, 4), Le(offset, 8), Le(size, 8)}));
  };
  ExpectClaims(SevenZipCarver, {
      {"10,000 + 200", sevenZ(10'000, 200), 20},
      {"480 + 0: the hit sector", sevenZ(480, 0), 1},
      {"0 + 481", sevenZ(0, 481), 2},
      {"top bit set: runs to the source's end and keeps it", sevenZ(std::uint64_t{1} << 63, 0), 41},
      {"format version 0.4", sevenZ(10'000, 200, 4), 20},
      {"format version 0.5", sevenZ(10'000, 200, 5), 0},
  });
  VELLUMARK_REQUIRE_TOOL("7z");
  TempDir dir;
  // 7z writes format version 0.4, found by a code of its own; as 0.3, whose
  // signature header is laid out alike, it is found by the older code.
  const Bytes made = Made(dir, WithPayload(dir) + "7z a -bd ", "x.7z", " payload.bin >/dev/null");
  const Bytes patched = With(made, 7, {3});
  ASSERT_EQ(made[7], 4);
  ASSERT_EQ(32 + LoadLe64(made.data() + 12) + LoadLe64(made.data() + 20), made.size());
  EXPECT_EQ(ClassifySector(made.data(), made.size()), code::kSevenZipCurrent);
  EXPECT_EQ(ClassifySector(patched.data(), patched.size()), code::kSevenZip);
  EXPECT_EQ(CarverFor(code::kSevenZipCurrent), CarverFor(code::kSevenZip));
  const Bytes unknownVersion = With(made, 7, {5});
  ExpectCarveProtocol(SevenZipCarver, made, unknownVersion);
  ExpectCarveProtocol(SevenZipCarver, patched, unknownVersion);
}

}  // namespace
}  // namespace vellumark
