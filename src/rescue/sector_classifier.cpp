#include "rescue/sector_classifier.h"

#include <array>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "common/byte_order.h"
#include "formats/file_signatures.h"
#include "formats/mpeg_audio_header.h"
#include "formats/tar_header.h"

namespace vellumark {
namespace {

using namespace signature;

// Whether the sector holds magic at offset; the sector is always
// kClassifiedBytes long and every offset here lies inside it. The first byte
// is compared inline: in most sectors it differs, and the library call is
// then not made.
bool Is(const std::uint8_t* sector, std::size_t offset, std::string_view magic) {
  return sector[offset] == static_cast<std::uint8_t>(magic[0]) &&
         std::memcmp(sector + offset, magic.data(), magic.size()) == 0;
}

// Two MPEG audio frames in a row: a frame header whose length (from its bit
// rate, sample rate and padding) leads to another header of the same stream
// within the sector. One header alone is twelve set bits and a few fields,
// which random data matches far too often; frames longer than the sector
// (high bit rates) are found through their ID3 tag only.
bool MpegAudioFramesAt(const std::uint8_t* s) {
  const auto first = ParseMpegAudioHeader(s);
  if (!first || first->length + 4 > static_cast<std::int32_t>(kClassifiedBytes)) return false;
  const auto second = ParseMpegAudioHeader(s + first->length);
  return second && first->SameStream(*second);
}

bool IsAlnum(std::uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A RIFF form type names its content in four letters or digits, padded with
// spaces at the end ("WEBP", "RMID", "XYZ ").
bool PlausibleFormType(const std::uint8_t* form) {
  if (!IsAlnum(form[0])) return false;
  bool padding = false;
  for (int i = 1; i < 4; ++i) {
    if (form[i] == ' ') padding = true;
    else if (padding || !IsAlnum(form[i])) return false;
  }
  return true;
}

// ELF identification, with the version and header size its class implies.
bool LooksLikeElf(const std::uint8_t* s) {
  if (!Is(s, 0, kElf) || (s[4] != 1 && s[4] != 2) || (s[5] != 1 && s[5] != 2) || s[6] != 1) return false;
  const bool big = s[5] == 2;
  const std::uint32_t version = big ? LoadBe32(s + 20) : LoadLe32(s + 20);
  const std::size_t ehsizeAt = s[4] == 1 ? 40 : 52;
  const std::uint16_t ehsize = big ? LoadBe16(s + ehsizeAt) : LoadLe16(s + ehsizeAt);
  return version == 1 && ehsize == (s[4] == 1 ? 52 : 64);
}

// The offset table of a TrueType or OpenType font: its binary-search fields
// follow from the table count, which writers compute and nothing else shows.
bool LooksLikeSfnt(const std::uint8_t* s) {
  if (!Is(s, 0, kSfntTrueType) && !Is(s, 0, kSfntApple) && !Is(s, 0, kSfntOpenType)) return false;
  const std::uint16_t tables = LoadBe16(s + 4);
  if (tables == 0 || tables > 255) return false;
  std::uint16_t power = 1, log = 0;
  while (power * 2 <= tables) power = static_cast<std::uint16_t>(power * 2), ++log;
  return LoadBe16(s + 6) == power * 16 && LoadBe16(s + 8) == log && LoadBe16(s + 10) == tables * 16 - power * 16;
}

// An EBML header whose size, a variable-length number right after its ID,
// keeps it inside the sector.
bool LooksLikeEbml(const std::uint8_t* s) {
  if (!Is(s, 0, kEbml) || s[4] == 0) return false;
  int length = 1;
  while ((s[4] & (0x80 >> (length - 1))) == 0) ++length;
  const std::uint64_t marked = s[4] & (0xFF >> length);
  const std::uint64_t size = (marked << (8 * (length - 1))) | LoadBeN(s + 5, static_cast<std::size_t>(length - 1));
  return size >= 4 && size <= kClassifiedBytes - 4 - static_cast<std::uint64_t>(length);
}

constexpr int kDirectoryEntries = 16;
constexpr int kDirectoryEntrySize = 32;

// The signatures are tested in one fixed order, the earlier winning where a
// sector would match two. Three tests look past the first byte only (Jet at
// 4, tar at 257, the FAT directory); every other signature fixes its first
// byte, so the tests between those three are chosen by a switch on it rather
// than tried one after another: random data, most of a disk, then costs a
// table look-up and the three tests, however many formats are recognised.

// The signatures tested before the Jet database's.
FileTypeCode BeforeJet(const std::uint8_t* s) {
  switch (s[0]) {
    case 0xFF:
      if (s[1] == 0xD8 && s[2] == 0xFF) return s[3] == 0xDB ? code::kJpegQuantFirst : code::kJpeg;
      break;
    case 'G':
      if (Is(s, 0, kGif89a) || Is(s, 0, kGif87a)) return code::kGif;
      break;
    case 0xD0:
      if (Is(s, 0, kCompoundDocument)) return code::kCompoundDocument;
      break;
    default:
      break;
  }
  return code::kNone;
}

// The signatures tested between the Jet database's and the tar header's;
// none when none decides (a RIFF header of no plausible form decides, on
// none).
std::optional<FileTypeCode> BeforeTar(const std::uint8_t* s) {
  switch (s[0]) {
    case 'R':
      if (Is(s, 0, kRiff)) {
        if (Is(s, 8, kRiffAvi)) return code::kRiffAvi;
        if (Is(s, 8, kRiffCdxa)) return code::kRiffCdxa;
        if (Is(s, 8, kRiffWave)) return code::kRiffWave;
        if (Is(s, 8, kRiffAcon)) return code::kRiffAcon;
        return PlausibleFormType(s + 8) ? code::kRiffOther : code::kNone;
      }
      if (Is(s, 0, kRar)) return code::kRar;
      break;
    case 0x30:
      if (Is(s, 0, kAsfHeaderObject)) {
        // The first object inside the header starts at 30: identifier 16, size 8,
        // object count 4, two reserved bytes.
        return Is(s, 30, kAsfFileProperties) ? code::kAsfPropertiesFirst : code::kAsfOther;
      }
      break;
    case 0x00:
      if (s[1] == 0 && Is(s, 4, kMp4FileType)) return code::kMp4;
      break;
    case 0x89:
      if (Is(s, 0, kPng)) return code::kPng;
      break;
    case 'I':
      if (Is(s, 0, kId3)) return code::kMp3Id3;
      break;
    case 'P':
      if (Is(s, 0, kZipLocalHeader)) return code::kZip;
      break;
    case 'M':
      if (Is(s, 0, kCab)) return code::kCab;
      break;
    case '7':
      if (Is(s, 0, kSevenZip)) return code::kSevenZip;
      break;
    case 0xFF:
      if (MpegAudioFramesAt(s)) return code::kMpegAudio;
      break;
    case '%':
      if (Is(s, 0, kPdf)) return code::kPdf;
      break;
    case 0x1F:
      // The flag bits above the five defined ones are reserved and zero.
      if (Is(s, 0, kGzip) && (s[3] & 0xE0) == 0) return code::kGzip;
      break;
    case 'B':
      if (Is(s, 0, kBzip2) && s[3] >= '1' && s[3] <= '9' &&
          (Is(s, 4, kBzip2Block) || Is(s, 4, kBzip2End))) {
        return code::kBzip2;
      }
      break;
    case 0xFD:
      // Stream flags: a zero byte, then the check type (none, CRC-32, CRC-64,
      // SHA-256) in the low four bits of the next.
      if (Is(s, 0, kXz) && s[6] == 0 && (s[7] == 0 || s[7] == 1 || s[7] == 4 || s[7] == 10)) {
        return code::kXz;
      }
      break;
    default:
      break;
  }
  return std::nullopt;
}

// The signatures tested after the tar header's, before the FAT directory.
FileTypeCode AfterTar(const std::uint8_t* s) {
  switch (s[0]) {
    case 0x7F:
      if (LooksLikeElf(s)) return code::kElf;
      break;
    case 'M':
      // The "PE\0\0" header must lie inside this sector.
      if (Is(s, 0, kMz) && LoadLe32(s + 0x3C) >= 4 && LoadLe32(s + 0x3C) <= kClassifiedBytes - 4 &&
          Is(s, LoadLe32(s + 0x3C), kPe)) {
        return code::kPe;
      }
      if (Is(s, 0, kTiffBig) && LoadBe32(s + 4) >= 8) return code::kTiff;
      break;
    case 'O':
      // An Ogg page that begins a logical stream and continues no packet.
      if (Is(s, 0, kOgg) && s[4] == 0 && (s[5] & ~0x06) == 0 && (s[5] & 0x02) != 0) return code::kOgg;
      if (LooksLikeSfnt(s)) return code::kSfntFont;
      break;
    case 'f':
      // STREAMINFO, 34 bytes, is always the first metadata block.
      if (Is(s, 0, kFlac) && (s[4] & 0x7F) == 0 && s[5] == 0 && s[6] == 0 && s[7] == 34) return code::kFlac;
      break;
    case 'S':
      if (Is(s, 0, kSqlite)) return code::kSqlite;
      break;
    case 0x00:
    case 't':
      if (LooksLikeSfnt(s)) return code::kSfntFont;
      break;
    case 'w':
      if (Is(s, 0, kWoff) && LoadBe16(s + 12) != 0 && LoadBe16(s + 14) == 0) return code::kWoff;
      break;
    case 'I':
      if (Is(s, 0, kTiffLittle) && LoadLe32(s + 4) >= 8) return code::kTiff;
      break;
    case 0x1A:
      if (LooksLikeEbml(s)) return code::kMatroska;
      break;
    case '7':
      if (Is(s, 0, kSevenZipCurrent)) return code::kSevenZipCurrent;
      break;
    default:
      break;
  }
  return code::kNone;
}

// Which of the three switches above have a case for a first byte. Random
// first bytes make a switch's jump unpredictable; one test of this table,
// false for nine first bytes in ten, keeps most sectors from jumping at all.
enum : std::uint8_t { kBeforeJet = 1, kBeforeTar = 2, kAfterTar = 4 };
constexpr std::array<std::uint8_t, 256> kFirstBytes = [] {
  std::array<std::uint8_t, 256> table{};
  using List = std::initializer_list<int>;
  for (const int b : List{0xFF, 'G', 'B', 0xD0}) table[static_cast<std::size_t>(b)] |= kBeforeJet;
  for (const int b : List{'R', 0x30, 0x00, 0x89, 'I', 'P', 'M', '7', 0xFF, '%', 0x1F, 'B', 0xFD}) {
    table[static_cast<std::size_t>(b)] |= kBeforeTar;
  }
  for (const int b : List{0x7F, 'M', 'O', 'f', 'S', 0x00, 't', 'w', 'I', 0x1A, '7'}) {
    table[static_cast<std::size_t>(b)] |= kAfterTar;
  }
  return table;
}();

FileTypeCode ClassifyFull(const std::uint8_t* s) {
  const std::uint8_t candidates = kFirstBytes[s[0]];
  if ((candidates & kBeforeJet) != 0) {
    // A BMP's "BM" decides, on none when its reserved field is not zero.
    if (Is(s, 0, kBmp)) return LoadLe32(s + 6) == 0 ? code::kBmp : code::kNone;
    if (const FileTypeCode first = BeforeJet(s); first != code::kNone) return first;
  }
  if (Is(s, 4, kJetDatabase)) return code::kJetDatabase;
  if ((candidates & kBeforeTar) != 0) {
    if (const auto decided = BeforeTar(s)) return *decided;
  }
  if (s[257] == 'u' && IsTarHeader(s)) return code::kTar;  // "ustar", tested in full by IsTarHeader
  if ((candidates & kAfterTar) != 0) {
    if (const FileTypeCode last = AfterTar(s); last != code::kNone) return last;
  }
  return LooksLikeFatDirectory(s) ? code::kFatDirectory : code::kNone;
}

}  // namespace

bool IsNameChar(std::uint8_t byte) {
  if (byte <= 0x1F || byte == 0xFF) return false;
  switch (byte) {
    case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
      return false;
    default:
      return true;
  }
}

namespace {

// The fields every FAT writer keeps within their ranges: the case byte
// (only Windows NT's lower-case name and extension bits), the creation
// time's hundredths, and the creation and write times' hours, minutes and
// two-second counts. The last bytes of a file followed by its sector's
// zeros pass the name and date tests about once in fifty; these make that
// a hundred times rarer, and a picture's tail taken for a directory would
// cost the picture its last sector and the document beside it its place.
bool WithinFatRanges(const std::uint8_t* entry) {
  const auto validTime = [](std::uint16_t time) {
    return (time >> 11) < 24 && ((time >> 5) & 0x3F) < 60 && (time & 0x1F) < 30;
  };
  return (entry[12] & ~0x18) == 0 && entry[13] < 200 && validTime(LoadLe16(entry + 14)) &&
         validTime(LoadLe16(entry + 22));
}

}  // namespace

bool LooksLikeFatDirectory(const std::uint8_t* sector) {
  int score = 0;
  for (int i = 0; i < kDirectoryEntries; ++i) {
    const std::uint8_t* entry = sector + i * kDirectoryEntrySize;
    if (entry[0] == 0x00) {
      // End of directory: everything after it must be unused too.
      for (int j = i + 1; j < kDirectoryEntries; ++j) {
        if (sector[j * kDirectoryEntrySize] != 0x00) return false;
      }
      break;
    }
    if (entry[0] == 0xE5) {  // deleted entry
      score += 1;
      continue;
    }
    const std::uint8_t attributes = entry[11];
    if ((attributes & 0xF0) >= 0x30) return false;
    if ((attributes & 0x10) != 0 && LoadLe32(entry + 28) != 0) return false;  // directory with a size
    if (attributes == 0x0F) continue;  // long-name entry
    if (entry[0] <= 0x20) return false;
    const std::uint16_t date = LoadLe16(entry + 24);
    const int year = date >> 9;
    const int month = (date >> 5) & 0x0F;
    const int day = date & 0x1F;
    if (year < 5 || month < 1 || month > 12 || day < 1) return false;
    if (!WithinFatRanges(entry)) return false;
    score += 2;
    for (int k = 1; k <= 10; ++k) {
      if (!IsNameChar(entry[k])) return false;
    }
  }
  return score >= 2;
}

FileTypeCode ClassifySector(const std::uint8_t* sector, std::size_t size) {
  if (size >= kClassifiedBytes) return ClassifyFull(sector);
  std::uint8_t padded[kClassifiedBytes] = {};
  if (size > 0) std::memcpy(padded, sector, size);
  return ClassifyFull(padded);
}

}  // namespace vellumark
