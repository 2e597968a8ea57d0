#include "rescue/sector_classifier.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/fixtures.h"

namespace vellumark {
namespace {

using namespace code;
using Bytes = std::vector<std::uint8_t>;
using Sector = std::array<std::uint8_t, 512>;
using Edit = std::function<void(Sector&)>;

Bytes Str(std::string_view text) { return Bytes(text.begin(), text.end()); }
Bytes Be16(int v) { return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)}; }
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes With(Bytes b, std::size_t at, const Bytes& patch) {
  std::copy(patch.begin(), patch.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
  return b;
}

const Bytes kAsf = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0, 0xAA, 0, 0x62, 0xCE, 0x6C};
const Bytes kAsfProps = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const Bytes kOle = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
const Bytes kJet = Str("Standard Jet DB");
const Bytes kLayer1 = {0xFF, 0xFF, 0x84, 0x00};  // MPEG 1 layer I, 256 kbit/s, 48 kHz: frames of 256 bytes
const Bytes kPi = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
const Bytes kXzMagic = {0xFD, '7', 'z', 'X', 'Z', 0};

struct Patch { std::size_t offset; Bytes bytes; };

Sector Make(const std::vector<Patch>& patches) {
  Sector s{};
  for (const Patch& p : patches) std::memcpy(s.data() + p.offset, p.bytes.data(), p.bytes.size());
  return s;
}

constexpr std::uint16_t Date(int yearsSince1980, int month, int day) {
  return static_cast<std::uint16_t>(yearsSince1980 << 9 | month << 5 | day);
}

// A short entry: 11-byte name, attributes at 11, write date at 24, size at 28.
void PutEntry(Sector& s, int index, std::string_view name, std::uint8_t attributes,
              std::uint16_t date = Date(20, 6, 15), std::uint32_t size = 100) {
  std::uint8_t* e = s.data() + index * 32;
  std::memcpy(e, name.data(), 11);
  e[11] = attributes;
  e[24] = date & 0xFF, e[25] = date >> 8;
  for (int i = 0; i < 4; ++i) e[28 + i] = static_cast<std::uint8_t>(size >> (8 * i));
}

std::vector<Patch> Riff(std::string_view form) { return {{0, Str("RIFF")}, {8, Str(form)}}; }

FileTypeCode Classify(const Sector& s) { return ClassifySector(s.data(), s.size()); }

TEST(SectorClassifier, SignaturesAndNearMisses) {
  const struct { const char* name; std::vector<Patch> patches; FileTypeCode expected; } cases[] = {
      {"zero sector", {}, kNone},
      {"jpeg", {{0, {0xFF, 0xD8, 0xFF, 0xE0}}}, kJpeg}, {"jpeg dqt", {{0, {0xFF, 0xD8, 0xFF, 0xDB}}}, kJpegQuantFirst},
      {"jpeg bad", {{0, {0xFF, 0xD8, 0xFE, 0xDB}}}, kNone},
      {"gif89a", {{0, Str("GIF89a")}}, kGif}, {"gif87a", {{0, Str("GIF87a")}}, kGif},
      {"gif88a", {{0, Str("GIF88a")}}, kNone}, {"gif87A", {{0, Str("GIF87A")}}, kNone},
      {"bmp, size at 2", {{0, Str("BM")}, {2, {0x36, 0x10, 0x0E, 0}}}, kBmp},
      {"bmp, byte 6", {{0, Str("BM")}, {6, {1}}}, kNone}, {"bmp, byte 9", {{0, Str("BM")}, {9, {1}}}, kNone},
      {"bmp before jet", {{0, Str("BM")}, {4, kJet}}, kNone},
      {"ole", {{0, kOle}}, kCompoundDocument}, {"ole, byte 7", {{0, kOle}, {7, {0xE0}}}, kNone},
      {"jet at 4", {{4, kJet}}, kJetDatabase}, {"jet at 0", {{0, kJet}}, kNone},
      {"jet before riff", {{0, Str("RIFF")}, {4, kJet}}, kJetDatabase},
      {"avi", Riff("AVI "), kRiffAvi}, {"cdxa", Riff("CDXA"), kRiffCdxa}, {"wave", Riff("WAVE"), kRiffWave},
      {"acon", Riff("ACON"), kRiffAcon}, {"avix", Riff("AVIX"), kRiffOther}, {"webp", Riff("WEBP"), kRiffOther},
      {"form padded with spaces", Riff("AB  "), kRiffOther}, {"form with a space inside", Riff("A BC"), kNone},
      {"form starting with a space", Riff(" ABC"), kNone}, {"form of zeros", {{0, Str("RIFF")}}, kNone},
      {"form with a dot", Riff("WEB."), kNone},
      {"riff form at 4", {{0, Str("RIFF")}, {4, Str("WAVE")}}, kNone},
      {"asf props at 30", {{0, kAsf}, {30, kAsfProps}}, kAsfPropertiesFirst},
      {"asf props at 24", {{0, kAsf}, {24, kAsfProps}}, kAsfOther},
      {"asf, byte 45", {{0, kAsf}, {30, kAsfProps}, {45, {0x66}}}, kAsfOther},
      {"mp4 box 24", {{0, {0, 0, 0, 24}}, {4, Str("ftyp")}}, kMp4},
      {"mp4 box 65535", {{0, {0, 0, 0xFF, 0xFF}}, {4, Str("ftyp")}}, kMp4},
      {"mp4 box 65536", {{0, {0, 1, 0, 0}}, {4, Str("ftyp")}}, kNone}, {"ftyp at 8", {{8, Str("ftyp")}}, kNone},
      {"png", {{0, {0x89, 'P', 'N', 'G'}}}, kPng}, {"png, byte 3", {{0, {0x89, 'P', 'N', 'F'}}}, kNone},
      {"id3", {{0, Str("ID3")}}, kMp3Id3},
      {"rar", {{0, {'R', 'a', 'r', '!', 0x1A, 7, 0}}}, kRar}, {"rar5", {{0, {'R', 'a', 'r', '!', 0x1A, 7, 1}}}, kNone},
      {"zip", {{0, {'P', 'K', 3, 4}}}, kZip}, {"zip end", {{0, {'P', 'K', 5, 6}}}, kNone},
      {"cab", {{0, Str("MSCF")}}, kCab},
      {"7z 0.3", {{0, {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0, 3}}}, kSevenZip},
      {"7z 0.4", {{0, {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0, 4}}}, code::kSevenZipCurrent},
      {"7z 0.5", {{0, {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0, 5}}}, kNone},
      // MPEG audio: two frame headers of one stream, the second where the first frame ends.
      {"mpeg 1 layer I, 256 bytes", {{0, kLayer1}, {256, kLayer1}}, kMpegAudio},
      {"mpeg 2.5 layer III, 417 bytes", {{0, {0xFF, 0xE3, 0x80, 0}}, {417, {0xFF, 0xE3, 0x82, 0}}}, kMpegAudio},
      {"mpeg 2 layer II, 384 bytes", {{0, {0xFF, 0xF5, 0x84, 0}}, {384, {0xFF, 0xF5, 0x84, 0}}}, kMpegAudio},
      {"mpeg layer I, padded: four bytes more", {{0, {0xFF, 0xFF, 0x86, 0}}, {260, kLayer1}}, kMpegAudio},
      {"mpeg, second header a byte early", {{0, kLayer1}, {255, kLayer1}}, kNone},
      {"mpeg, second header another sample rate", {{0, kLayer1}, {256, {0xFF, 0xFF, 0x80, 0}}}, kNone},
      {"mpeg, second header another layer", {{0, kLayer1}, {256, {0xFF, 0xFD, 0x84, 0}}}, kNone},
      {"mpeg, one header", {{0, kLayer1}}, kNone},
      {"mpeg, frame of 576 bytes", {{0, {0xFF, 0xFB, 0x98, 0}}, {576 % 512, {0xFF, 0xFB, 0x98, 0}}}, kNone},
      {"mpeg, frame of 505 bytes", {{0, {0xFF, 0xFB, 0x8A, 0}}, {505, {0xFF, 0xFB, 0x88, 0}}}, kMpegAudio},
      {"mpeg, reserved version", {{0, {0xFF, 0xEF, 0x84, 0}}, {256, {0xFF, 0xEF, 0x84, 0}}}, kNone},
      {"mpeg, reserved layer", {{0, {0xFF, 0xF9, 0x84, 0}}, {256, {0xFF, 0xF9, 0x84, 0}}}, kNone},
      {"mpeg, free format", {{0, {0xFF, 0xFF, 0x04, 0}}, {256, kLayer1}}, kNone},
      {"mpeg, bit rate 15", {{0, {0xFF, 0xFF, 0xF4, 0}}, {256, kLayer1}}, kNone},
      {"mpeg, reserved sample rate", {{0, {0xFF, 0xFF, 0x8C, 0}}, {256, kLayer1}}, kNone},
      {"mpeg, reserved emphasis", {{0, {0xFF, 0xFF, 0x84, 2}}, {256, kLayer1}}, kNone},
      {"mpeg, sync of 11 bits", {{0, {0xFF, 0xDF, 0x84, 0}}, {256, kLayer1}}, kNone},
      {"pdf", {{0, Str("%PDF-1.7")}}, kPdf}, {"pdf, no dash", {{0, Str("%PDF1.7")}}, kNone},
      {"pdf at 1", {{1, Str("%PDF-1.7")}}, kNone},
      {"gzip", {{0, {0x1F, 0x8B, 8, 0x08}}}, kGzip}, {"gzip, all defined flags", {{0, {0x1F, 0x8B, 8, 0x1F}}}, kGzip},
      {"gzip, reserved flag", {{0, {0x1F, 0x8B, 8, 0x20}}}, kNone}, {"gzip, method 7", {{0, {0x1F, 0x8B, 7, 0}}}, kNone},
      {"bzip2, block", {{0, Str("BZh9")}, {4, kPi}}, kBzip2}, {"bzip2, level 1", {{0, Str("BZh1")}, {4, kPi}}, kBzip2},
      {"bzip2, empty", {{0, Str("BZh9")}, {4, {0x17, 0x72, 0x45, 0x38, 0x50, 0x90}}}, kBzip2},
      {"bzip2, level 0", {{0, Str("BZh0")}, {4, kPi}}, kNone},
      {"bzip2, no block magic", {{0, Str("BZh9")}, {4, {0x31, 0x41, 0x59, 0x26, 0x53, 0x58}}}, kNone},
      {"xz, crc64", {{0, kXzMagic}, {6, {0, 4}}}, kXz}, {"xz, no check", {{0, kXzMagic}, {6, {0, 0}}}, kXz},
      {"xz, sha256", {{0, kXzMagic}, {6, {0, 10}}}, kXz}, {"xz, check 2", {{0, kXzMagic}, {6, {0, 2}}}, kNone},
      {"xz, first flag byte", {{0, kXzMagic}, {6, {1, 4}}}, kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(Classify(Make(c.patches)), c.expected) << c.name;
}

// A sector padded to its full size with zeros from the given bytes.
std::vector<Patch> At0(const Bytes& bytes) { return {{0, bytes}}; }

TEST(SectorClassifier, ProgramsMediaFontsAndDatabases) {
  const Bytes elf64 = {0x7F, 'E', 'L', 'F', 2, 1, 1}, elf32be = {0x7F, 'E', 'L', 'F', 1, 2, 1};
  const Bytes oggBos = Cat({Str("OggS"), {0, 0x02}}), flac = Cat({Str("fLaC"), {0, 0, 0, 34}});
  const Bytes sqlite = Cat({Str("SQLite format 3"), {0}});
  const auto sfnt = [](Bytes version, int tables, int searchRange, int selector, int rangeShift) {
    return Cat({version, Be16(tables), Be16(searchRange), Be16(selector), Be16(rangeShift)});
  };
  const Bytes ttf = {0, 1, 0, 0};
  const Bytes ebml = {0x1A, 0x45, 0xDF, 0xA3};
  const struct { const char* name; std::vector<Patch> patches; FileTypeCode expected; } cases[] = {
      {"elf 64-bit little-endian", {{0, elf64}, {20, {1, 0, 0, 0}}, {52, {64, 0}}}, kElf},
      {"elf 32-bit big-endian", {{0, elf32be}, {20, {0, 0, 0, 1}}, {40, {0, 52}}}, kElf},
      {"elf header size of the other class", {{0, elf64}, {20, {1, 0, 0, 0}}, {52, {52, 0}}}, kNone},
      {"elf version 0", {{0, elf64}, {52, {64, 0}}}, kNone},
      {"elf class 3", {{0, With(elf64, 4, {3})}, {20, {1, 0, 0, 0}}, {52, {64, 0}}}, kNone},
      {"elf version in the other byte order", {{0, elf32be}, {20, {1, 0, 0, 0}}, {40, {0, 52}}}, kNone},
      {"pe at 0x80", {{0, Str("MZ")}, {0x3C, {0x80, 0, 0, 0}}, {0x80, {'P', 'E', 0, 0}}}, kPe},
      {"pe at 508, the last place in the sector", {{0, Str("MZ")}, {0x3C, {0xFC, 1, 0, 0}}, {508, {'P', 'E', 0, 0}}}, kPe},
      {"pe at 509, running out of the sector", {{0, Str("MZ")}, {0x3C, {0xFD, 1, 0, 0}}, {509, {'P', 'E', 0}}}, kNone},
      {"pe beyond the sector", {{0, Str("MZ")}, {0x3C, {0, 2, 0, 0}}}, kNone},
      {"mz without pe", {{0, Str("MZ")}, {0x3C, {0x80, 0, 0, 0}}, {0x80, Str("NE")}}, kNone},
      {"ogg first page", {{0, oggBos}}, kOgg},
      {"ogg first and last page", {{0, With(oggBos, 5, {0x06})}}, kOgg},
      {"ogg page in the middle", {{0, With(oggBos, 5, {0x00})}}, kNone},
      {"ogg first page continuing a packet", {{0, With(oggBos, 5, {0x03})}}, kNone},
      {"ogg version 1", {{0, With(oggBos, 4, {1})}}, kNone},
      {"flac", At0(flac), kFlac}, {"flac, STREAMINFO the last block", At0(With(flac, 4, {0x80})), kFlac},
      {"flac, first block padding", At0(With(flac, 4, {1})), kNone},
      {"flac, STREAMINFO of 33 bytes", At0(With(flac, 7, {33})), kNone},
      {"sqlite 3", At0(sqlite), kSqlite}, {"sqlite 2", At0(With(sqlite, 14, {'2'})), kNone},
      {"sqlite 3, no terminating zero", At0(With(sqlite, 15, {'x'})), kNone},
      {"truetype, 17 tables", At0(sfnt(ttf, 17, 256, 4, 16)), kSfntFont},
      {"opentype cff, 10 tables", At0(sfnt(Str("OTTO"), 10, 128, 3, 32)), kSfntFont},
      {"apple truetype, 1 table", At0(sfnt(Str("true"), 1, 16, 0, 0)), kSfntFont},
      {"truetype, range shift off by one", At0(sfnt(ttf, 17, 256, 4, 17)), kNone},
      {"truetype, no tables", At0(sfnt(ttf, 0, 0, 0, 0)), kNone},
      {"truetype, version 2", At0(sfnt({0, 2, 0, 0}, 17, 256, 4, 16)), kNone},
      {"woff", {{0, Str("wOFF")}, {12, {0, 14, 0, 0}}}, kWoff},
      {"woff, reserved set", {{0, Str("wOFF")}, {12, {0, 14, 0, 1}}}, kNone},
      {"woff, no tables", {{0, Str("wOFF")}}, kNone},
      {"tiff little-endian", At0({'I', 'I', 42, 0, 8, 0, 0, 0}), kTiff},
      {"tiff big-endian", At0({'M', 'M', 0, 42, 0, 0, 0, 8}), kTiff},
      {"tiff, first directory at 7", At0({'I', 'I', 42, 0, 7, 0, 0, 0}), kNone},
      {"tiff, magic in the other byte order", At0({'M', 'M', 42, 0, 0, 0, 0, 8}), kNone},
      {"bigtiff", At0({'I', 'I', 43, 0, 8, 0, 0, 0}), kNone},
      {"ebml header of 35 bytes", At0(Cat({ebml, {0xA3}})), kMatroska},
      {"ebml header of 500 bytes, two-byte size", At0(Cat({ebml, {0x41, 0xF4}})), kMatroska},
      {"ebml header of 507 bytes", At0(Cat({ebml, {0x41, 0xFB}})), kNone},
      {"ebml header of unknown size", At0(Cat({ebml, {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}})), kNone},
      {"ebml size without a length marker", At0(Cat({ebml, {0x00, 0xA3}})), kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(Classify(Make(c.patches)), c.expected) << c.name;
}

// Each sector is a good directory; the first entry's name decides whether a
// signature test answers first.
TEST(SectorClassifier, SignaturesComeBeforeTheDirectoryTest) {
  const struct { std::string_view name; FileTypeCode expected; } cases[] = {
      {"RIFXDATATXT", kFatDirectory}, {"BNAAAAAADOC", kFatDirectory}, {"BMAAAAAADOC", kNone},
      {"RIFF    XYZ", kRiffOther}, {"RIFF    X Z", kNone}, {"RIFF    AVI", kRiffAvi}, {"MSCFILE TXT", kCab},
      {"ID3TAGS TXT", kMp3Id3}, {"MZ      EXE", kFatDirectory}, {"OggS    TXT", kFatDirectory},
      {"fLaC    TXT", kFatDirectory},
      {"GIF87a  TXT", kGif},
      {"%PDF-   TXT", kPdf},
      {"BZH9    TXT", kFatDirectory},  // no bzip2 block after the level
  };
  for (const auto& c : cases) {
    Sector s{};
    PutEntry(s, 0, c.name, 0x20);
    PutEntry(s, 1, "OTHER   TXT", 0x20);
    EXPECT_EQ(Classify(s), c.expected) << c.name;
  }
}

TEST(SectorClassifier, ReadsOnlyTheFirstSectorAndPadsShortBuffers) {
  Sector entry{};
  PutEntry(entry, 0, "README  TXT", 0x20);
  Bytes dir(1024);
  std::memcpy(dir.data(), entry.data(), 32);
  dir[9 * 32] = 'X';  // a stray entry after the end of the directory
  Bytes asf(64);
  std::memcpy(asf.data(), kAsf.data(), 16);
  std::memcpy(asf.data() + 30, kAsfProps.data(), 16);
  const Bytes cab = Str("MSCF1234"), gif = Str("GIF89a"), jpeg = {0xFF, 0xD8, 0xFF, 0xDB}, bmp = Str("BM");
  const struct { const Bytes& bytes; std::size_t size; FileTypeCode expected; } cases[] = {
      {cab, 0, kNone}, {jpeg, 3, kJpeg}, {jpeg, 4, kJpegQuantFirst}, {bmp, 2, kBmp}, {cab, 3, kNone},
      {cab, 4, kCab}, {gif, 5, kNone}, {asf, 45, kAsfOther}, {asf, 46, kAsfPropertiesFirst},
      {dir, 32, kFatDirectory}, {dir, 288, kFatDirectory}, {dir, 289, kNone}};
  for (const auto& c : cases) EXPECT_EQ(ClassifySector(c.bytes.data(), c.size), c.expected) << "size " << c.size;
  dir[9 * 32] = 0;
  dir[512] = 'X';  // entry 16 belongs to the next sector
  EXPECT_EQ(ClassifySector(dir.data(), dir.size()), kFatDirectory);
}

// A tar header block with its checksum written as tar writes it (six octal
// digits, NUL, space) or as edited.
Sector TarHeader(std::string_view magic, int checksumDelta = 0, bool leadingSpaces = false,
                 const std::vector<Patch>& name = {{0, Str("notes.txt")}}) {
  std::vector<Patch> patches = name;
  patches.insert(patches.end(), {{100, Str("0000644")}, {124, Str("00000001750")}, {156, Str("0")},
                                 {257, Str(magic)}, {345, {0xE9, 0xE8}}});  // two bytes above 127 in the prefix
  Sector s = Make(patches);
  unsigned sum = 8 * ' ';
  for (std::size_t i = 0; i < s.size(); ++i) sum += i >= 148 && i < 156 ? 0 : s[i];
  char text[9];
  std::snprintf(text, sizeof text, leadingSpaces ? "%6o" : "%06o", sum + checksumDelta);
  std::memcpy(s.data() + 148, text, 7);
  s[155] = ' ';
  return s;
}

TEST(SectorClassifier, TarHeaderChecksum) {
  const int signedDelta = -2 * 256;  // the two high bytes summed as signed
  const struct { const char* name; Sector sector; FileTypeCode expected; } cases[] = {
      {"ustar", TarHeader(std::string_view("ustar\0" "00", 8)), kTar},
      {"gnu", TarHeader(std::string_view("ustar  \0", 8)), kTar},
      {"checksum with leading spaces", TarHeader("ustar  ", 0, true), kTar},
      {"checksum summed as signed bytes", TarHeader("ustar  ", signedDelta), kTar},
      {"checksum one more", TarHeader("ustar  ", 1), kNone},
      {"checksum one less", TarHeader("ustar  ", -1), kNone},
      {"magic USTAR", TarHeader("USTAR  "), kNone},
      {"checksum digit 8", [] { Sector s = TarHeader("ustar  "); s[148] = '8'; return s; }(), kNone},
      {"checksum field blank", [] { Sector s = TarHeader("ustar  "); std::memset(&s[148], ' ', 8); return s; }(),
       kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(Classify(c.sector), c.expected) << c.name;
}

// A tar header whose name begins like another format's first sector: the
// signatures tested before the tar header's answer first, those after it
// do not (each still answers with the header's magic broken). The order is
// the classifier's, whichever way it finds the tests a first byte allows.
TEST(SectorClassifier, TarHeaderAmongTheOtherSignatures) {
  const Bytes elf = {0x7F, 'E', 'L', 'F', 2, 1, 1};
  const struct { const char* name; std::vector<Patch> start; FileTypeCode withTar, alone; } cases[] = {
      {"jet at 4", {{0, Str("notes")}, {4, kJet}}, kJetDatabase, kJetDatabase},
      {"riff of no form", {{0, Str("RIFF    X Z")}}, kNone, kNone},
      {"riff form", {{0, Str("RIFF    WEBP")}}, kRiffOther, kRiffOther},
      {"pdf", {{0, Str("%PDF-1.7")}}, kPdf, kPdf},
      {"bzip2", {{0, Str("BZh9")}, {4, kPi}}, kBzip2, kBzip2},
      {"elf", {{0, elf}, {20, {1, 0, 0, 0}}, {52, {64, 0}}}, kTar, kElf},
      {"ogg", {{0, Cat({Str("OggS"), {0, 0x02}})}}, kTar, kOgg},
      {"flac", {{0, Cat({Str("fLaC"), {0, 0, 0, 34}})}}, kTar, kFlac},
      {"tiff", {{0, {'I', 'I', 42, 0, 8, 0, 0, 0}}}, kTar, kTiff},
      {"sqlite", {{0, Cat({Str("SQLite format 3"), {0}})}}, kTar, kSqlite},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Classify(TarHeader("ustar  ", 0, false, c.start)), c.withTar) << c.name;
    EXPECT_EQ(Classify(TarHeader("USTAR  ", 0, false, c.start)), c.alone) << c.name << ", magic broken";
  }
}

TEST(SectorClassifier, NameCharactersOverAllBytes) {
  const std::string_view forbidden = "\"*/:<>?\\|";
  for (int b = 0; b < 256; ++b) {
    const bool expected = b >= 0x20 && b != 0xFF && forbidden.find(static_cast<char>(b)) == std::string_view::npos;
    EXPECT_EQ(IsNameChar(static_cast<std::uint8_t>(b)), expected) << "byte " << b;
  }
}

Edit Entry0(std::string_view name, std::uint8_t attributes, std::uint16_t date, std::uint32_t size = 100) {
  return [=](Sector& s) { PutEntry(s, 0, name, attributes, date, size); };
}
Edit Byte(std::size_t offset, std::uint8_t value) {
  return [=](Sector& s) { s[offset] = value; };
}
Edit Dated(int year, int month, int day) { return Entry0("README  TXT", 0x20, Date(year, month, day)); }
Edit Sixteen(std::uint8_t lastAttributes) {
  return [=](Sector& s) {
    for (int i = 0; i < 16; ++i) PutEntry(s, i, "FILE    TXT", i == 15 ? lastAttributes : 0x20);
  };
}

// Edits of a sector holding one valid short entry ("README  TXT") and 15 free ones.
TEST(SectorClassifierDirectory, EntryRules) {
  const struct { const char* name; Edit edit; bool directory; } cases[] = {
      {"one valid entry", [](Sector&) {}, true},
      {"attr 0x2F", Byte(11, 0x2F), true}, {"attr 0x80", Byte(11, 0x80), false},
      {"attr 0x30, size 0", Entry0("README  TXT", 0x30, Date(20, 6, 15), 0), false},
      {"attr 0x22 is no name byte", Byte(11, '"'), true},
      {"empty subdirectory", Entry0("PHOTOS     ", 0x10, Date(20, 6, 15), 0), true},
      {"subdirectory with size", Byte(11, 0x10), false}, {"hidden subdirectory with size", Byte(11, 0x12), false},
      {"subdirectory size top byte", Entry0("PHOTOS     ", 0x10, Date(20, 6, 15), 1u << 24), false},
      {"year 4", Dated(4, 6, 15), false},   {"year 5", Dated(5, 6, 15), true},
      {"month 0", Dated(20, 0, 15), false}, {"month 1", Dated(20, 1, 15), true},
      {"month 12", Dated(20, 12, 15), true}, {"month 13", Dated(20, 13, 15), false},
      {"day 0", Dated(20, 6, 0), false},    {"day 1", Dated(20, 6, 1), true},
      {"date only at 16", [](Sector& s) { Entry0("README  TXT", 0x20, 0)(s), s[16] = 0xCF, s[17] = 0x28; }, false},
      {"first 0x20", Byte(0, 0x20), false}, {"first 0x21", Byte(0, 0x21), true}, {"first 0x05", Byte(0, 0x05), false},
      {"first '?' not a name test", Byte(0, '?'), true},
      {"'*' at 1", Byte(1, '*'), false},    {"'|' at 10", Byte(10, '|'), false},
      {"long-name entry alone", Byte(11, 0x0F), false},
      {"long-name entry then short", [](Sector& s) {  // UTF-16 name bytes are no short-name bytes
         PutEntry(s, 1, "README  TXT", 0x20), PutEntry(s, 0, std::string_view("\x01R\0E\0A\0D\0M\0", 11), 0x0F, 0, ~0u);
       }, true},
      {"one deleted entry", [](Sector& s) { s.fill(0), s[0] = 0xE5; }, false},
      {"two deleted, garbage", [](Sector& s) { s.fill(0), s[0] = s[32] = 0xE5, s[11] = 0xFF, s[34] = '*'; }, true},
      {"deleted and long-name", [](Sector& s) { s[0] = 0xE5, PutEntry(s, 1, "ABCDEFGHIJK", 0x0F, 0); }, false},
      {"valid after the end", [](Sector& s) { s[0] = 0, PutEntry(s, 1, "README  TXT", 0x20); }, false},
      {"stray at entry 9", Byte(9 * 32, 'X'), false}, {"stray at entry 15", Byte(15 * 32, 'X'), false},
      {"tail of a free entry", Byte(9 * 32 + 5, 'X'), true},
      {"sixteen valid", Sixteen(0x20), true}, {"bad last of sixteen", Sixteen(0x40), false},
      {"all bytes E5", [](Sector& s) { s.fill(0xE5); }, true},
      {"lower-case name and extension", Byte(12, 0x18), true}, {"case byte 0x01", Byte(12, 0x01), false},
      {"case byte 0x80", Byte(12, 0x80), false},
      {"hundredths 199", Byte(13, 199), true}, {"hundredths 200", Byte(13, 200), false},
      {"written 23:59:58", [](Sector& s) { s[22] = 0x7D, s[23] = 0xBF; }, true},
      {"written at hour 24", Byte(23, 24 << 3), false},
      {"written at minute 60", [](Sector& s) { s[22] = 0x80, s[23] = 0x07; }, false},
      {"created at second 60", Byte(14, 30), false},
      {"a JPEG's last 28 bytes and zeros", [](Sector& s) {
         const std::uint8_t tail[] = {0xE2, 0x8C, 0xB2, 0x6A, 0x8D, 0x6B, 0x5B, 0xA0, 0xD3, 0xD0, 0xE1, 0x26, 0xA6, 0x1C,
                                      0x6C, 0x8D, 0xC5, 0x10, 0x33, 0xF9, 0x87, 0x25, 0x5C, 0x2B, 0x4D, 0x23, 0xFF, 0xD9};
         s.fill(0), std::copy(std::begin(tail), std::end(tail), s.begin());
       }, false},
  };
  for (const auto& c : cases) {
    Sector s{};
    PutEntry(s, 0, "README  TXT", 0x20);
    c.edit(s);
    EXPECT_EQ(LooksLikeFatDirectory(s.data()), c.directory) << c.name;
    EXPECT_EQ(Classify(s), c.directory ? kFatDirectory : kNone) << c.name;
  }
}

TEST(SectorClassifierDirectory, RealFat16RootBeforeAndAfterDeletion) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  VELLUMARK_REQUIRE_TOOL("mdel");
  test::TempDir dir;
  const std::string image = dir / "fat16.img", mtools = "MTOOLS_SKIP_CHECK=1 ";
  ASSERT_EQ(test::Run("mkfs.vfat -C -F 16 -s 2 '" + image + "' 8192 >/dev/null"), 0);
  const std::vector<std::string> names = {"NAME.TXT", "NOTES.TXT", "Quarterly report.doc"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string file = dir / ("f" + std::to_string(i));
    test::WriteFileBytes(file, Str("contents " + std::to_string(i)));
    ASSERT_EQ(test::Run(mtools + "mcopy -i '" + image + "' '" + file + "' '::" + names[i] + "'"), 0);
  }
  const auto rootSector = [&] {
    const Bytes b = test::ReadFileBytes(image);
    const std::size_t reserved = b.at(14) | b.at(15) << 8, fatSectors = b.at(22) | b.at(23) << 8;
    const auto start = static_cast<std::ptrdiff_t>((reserved + b.at(16) * fatSectors) * 512);
    return b.size() < std::size_t(start) + 512 ? Bytes() : Bytes(b.begin() + start, b.begin() + start + 512);
  };
  Bytes root = rootSector();
  ASSERT_EQ(root.size(), 512u);
  EXPECT_EQ(std::string(root.begin(), root.begin() + 11), "NAME    TXT");
  EXPECT_EQ(ClassifySector(root.data(), root.size()), kFatDirectory);

  ASSERT_EQ(test::Run(mtools + "mdel -i '" + image + "' ::NAME.TXT ::NOTES.TXT '::Quarterly report.doc'"), 0);
  root = rootSector();
  EXPECT_EQ(root[0], 0xE5);
  EXPECT_EQ(root[3 * 32], 0xE5);  // a long-name entry, deleted with its file
  EXPECT_EQ(ClassifySector(root.data(), root.size()), kFatDirectory);
}

}  // namespace
}  // namespace vellumark
