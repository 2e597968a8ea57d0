#include "rescue/sector_classifier.h"

#include <array>
#include <cstring>
#include <initializer_list>
#include <optional>

#include "common/byte_order.h"
#include "rescue/mpeg_audio_header.h"
#include "rescue/tar_header.h"

namespace vellumark {
namespace {

// The first byte is compared inline: in most sectors it differs, and the
// library call is then not made.
template <std::size_t N>
bool BytesAt(const std::uint8_t* sector, std::size_t offset, const std::uint8_t (&expected)[N]) {
  return sector[offset] == expected[0] && std::memcmp(sector + offset, expected, N) == 0;
}

template <std::size_t N>
bool TextAt(const std::uint8_t* sector, std::size_t offset, const char (&text)[N]) {
  return sector[offset] == static_cast<std::uint8_t>(text[0]) && std::memcmp(sector + offset, text, N - 1) == 0;
}

constexpr std::uint8_t kCompoundSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint8_t kAsfHeaderObject[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr std::uint8_t kAsfFileProperties[] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                               0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr std::uint8_t kPngStart[] = {0x89, 0x50, 0x4E, 0x47};
constexpr std::uint8_t kRarMarker[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

constexpr std::uint8_t kGzipStart[] = {0x1F, 0x8B, 0x08};
constexpr std::uint8_t kBzip2Block[] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};  // the digits of pi
constexpr std::uint8_t kBzip2End[] = {0x17, 0x72, 0x45, 0x38, 0x50, 0x90};    // of the square root of pi
constexpr std::uint8_t kXzStart[] = {0xFD, '7', 'z', 'X', 'Z', 0x00};

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

constexpr std::uint8_t kElfMagic[] = {0x7F, 'E', 'L', 'F'};
constexpr std::uint8_t kEbmlMagic[] = {0x1A, 0x45, 0xDF, 0xA3};

std::uint16_t Be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

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
  if (!BytesAt(s, 0, kElfMagic) || (s[4] != 1 && s[4] != 2) || (s[5] != 1 && s[5] != 2) || s[6] != 1) return false;
  const bool big = s[5] == 2;
  const std::uint32_t version = big ? LoadBe32(s + 20) : LoadLe32(s + 20);
  const std::size_t ehsizeAt = s[4] == 1 ? 40 : 52;
  const std::uint16_t ehsize = big ? Be16(s + ehsizeAt) : LoadLe16(s + ehsizeAt);
  return version == 1 && ehsize == (s[4] == 1 ? 52 : 64);
}

// The offset table of a TrueType or OpenType font: its binary-search fields
// follow from the table count, which writers compute and nothing else shows.
bool LooksLikeSfnt(const std::uint8_t* s) {
  const std::uint32_t version = LoadBe32(s);
  if (version != 0x00010000 && !TextAt(s, 0, "true") && !TextAt(s, 0, "OTTO")) return false;
  const std::uint16_t tables = Be16(s + 4);
  if (tables == 0 || tables > 255) return false;
  std::uint16_t power = 1, log = 0;
  while (power * 2 <= tables) power = static_cast<std::uint16_t>(power * 2), ++log;
  return Be16(s + 6) == power * 16 && Be16(s + 8) == log && Be16(s + 10) == tables * 16 - power * 16;
}

// An EBML header whose size, a variable-length number right after its ID,
// keeps it inside the sector.
bool LooksLikeEbml(const std::uint8_t* s) {
  if (!BytesAt(s, 0, kEbmlMagic) || s[4] == 0) return false;
  int length = 1;
  while ((s[4] & (0x80 >> (length - 1))) == 0) ++length;
  std::uint64_t size = s[4] & (0xFF >> length);
  for (int i = 1; i < length; ++i) size = size << 8 | s[4 + i];
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
      if (TextAt(s, 0, "GIF89a") || TextAt(s, 0, "GIF87a")) return code::kGif;
      break;
    case 0xD0:
      if (BytesAt(s, 0, kCompoundSignature)) return code::kCompoundDocument;
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
      if (TextAt(s, 0, "RIFF")) {
        if (TextAt(s, 8, "AVI ")) return code::kRiffAvi;
        if (TextAt(s, 8, "CDXA")) return code::kRiffCdxa;
        if (TextAt(s, 8, "WAVE")) return code::kRiffWave;
        if (TextAt(s, 8, "ACON")) return code::kRiffAcon;
        return PlausibleFormType(s + 8) ? code::kRiffOther : code::kNone;
      }
      if (BytesAt(s, 0, kRarMarker)) return code::kRar;
      break;
    case 0x30:
      if (BytesAt(s, 0, kAsfHeaderObject)) {
        // The first object inside the header starts at 30: identifier 16, size 8,
        // object count 4, two reserved bytes.
        return BytesAt(s, 30, kAsfFileProperties) ? code::kAsfPropertiesFirst : code::kAsfOther;
      }
      break;
    case 0x00:
      if (s[1] == 0 && TextAt(s, 4, "ftyp")) return code::kMp4;
      break;
    case 0x89:
      if (BytesAt(s, 0, kPngStart)) return code::kPng;
      break;
    case 'I':
      if (TextAt(s, 0, "ID3")) return code::kMp3Id3;
      break;
    case 'P':
      if (LoadLe32(s) == 0x04034B50) return code::kZip;
      break;
    case 'M':
      if (LoadLe32(s) == 0x4643534D) return code::kCab;
      break;
    case '7':
      if (LoadLe32(s) == 0xAFBC7A37 && LoadLe32(s + 4) == 0x03001C27) return code::kSevenZip;
      break;
    case 0xFF:
      if (MpegAudioFramesAt(s)) return code::kMpegAudio;
      break;
    case '%':
      if (TextAt(s, 0, "%PDF-")) return code::kPdf;
      break;
    case 0x1F:
      // The flag bits above the five defined ones are reserved and zero.
      if (BytesAt(s, 0, kGzipStart) && (s[3] & 0xE0) == 0) return code::kGzip;
      break;
    case 'B':
      if (TextAt(s, 0, "BZh") && s[3] >= '1' && s[3] <= '9' &&
          (BytesAt(s, 4, kBzip2Block) || BytesAt(s, 4, kBzip2End))) {
        return code::kBzip2;
      }
      break;
    case 0xFD:
      // Stream flags: a zero byte, then the check type (none, CRC-32, CRC-64,
      // SHA-256) in the low four bits of the next.
      if (BytesAt(s, 0, kXzStart) && s[6] == 0 && (s[7] == 0 || s[7] == 1 || s[7] == 4 || s[7] == 10)) {
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
      if (s[1] == 'Z' && LoadLe32(s + 0x3C) >= 4 && LoadLe32(s + 0x3C) <= kClassifiedBytes - 4 &&
          LoadLe32(s + LoadLe32(s + 0x3C)) == 0x00004550) {
        return code::kPe;
      }
      if (TextAt(s, 0, "MM") && s[2] == 0 && s[3] == '*' && LoadBe32(s + 4) >= 8) return code::kTiff;
      break;
    case 'O':
      // An Ogg page that begins a logical stream and continues no packet.
      if (TextAt(s, 0, "OggS") && s[4] == 0 && (s[5] & ~0x06) == 0 && (s[5] & 0x02) != 0) return code::kOgg;
      if (LooksLikeSfnt(s)) return code::kSfntFont;
      break;
    case 'f':
      // STREAMINFO, 34 bytes, is always the first metadata block.
      if (TextAt(s, 0, "fLaC") && (s[4] & 0x7F) == 0 && s[5] == 0 && s[6] == 0 && s[7] == 34) return code::kFlac;
      break;
    case 'S':
      if (std::memcmp(s, "SQLite format 3", 16) == 0) return code::kSqlite;
      break;
    case 0x00:
    case 't':
      if (LooksLikeSfnt(s)) return code::kSfntFont;
      break;
    case 'w':
      if (TextAt(s, 0, "wOFF") && Be16(s + 12) != 0 && Be16(s + 14) == 0) return code::kWoff;
      break;
    case 'I':
      if (TextAt(s, 0, "II*") && s[3] == 0 && LoadLe32(s + 4) >= 8) return code::kTiff;
      break;
    case 0x1A:
      if (LooksLikeEbml(s)) return code::kMatroska;
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
  for (const int b : List{0x7F, 'M', 'O', 'f', 'S', 0x00, 't', 'w', 'I', 0x1A}) {
    table[static_cast<std::size_t>(b)] |= kAfterTar;
  }
  return table;
}();

FileTypeCode ClassifyFull(const std::uint8_t* s) {
  const std::uint8_t candidates = kFirstBytes[s[0]];
  if ((candidates & kBeforeJet) != 0) {
    // A BMP's "BM" decides, on none when its reserved field is not zero.
    if (s[0] == 'B' && s[1] == 'M') return LoadLe32(s + 6) == 0 ? code::kBmp : code::kNone;
    if (const FileTypeCode first = BeforeJet(s); first != code::kNone) return first;
  }
  if (TextAt(s, 4, "Standard Jet DB")) return code::kJetDatabase;
  if ((candidates & kBeforeTar) != 0) {
    if (const auto decided = BeforeTar(s)) return *decided;
  }
  if (s[257] == 'u' && IsTarHeader(s)) return code::kTar;  // "ustar"
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
