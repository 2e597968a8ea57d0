#include "rescue/sector_classifier.h"

#include <cstring>
#include <string_view>

#include "common/byte_order.h"
#include "rescue/file_signatures.h"
#include "rescue/mpeg_audio_header.h"
#include "rescue/tar_header.h"

namespace vellumark {
namespace {

using namespace signature;

// Whether the sector holds magic at offset; the sector is always
// kClassifiedBytes long and every offset here lies inside it.
bool Is(const std::uint8_t* sector, std::size_t offset, std::string_view magic) {
  return std::memcmp(sector + offset, magic.data(), magic.size()) == 0;
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

FileTypeCode ClassifyFull(const std::uint8_t* s) {
  if (Is(s, 0, kJpeg)) return s[3] == 0xDB ? code::kJpegQuantFirst : code::kJpeg;
  if (Is(s, 0, kGif89a) || Is(s, 0, kGif87a)) return code::kGif;
  if (Is(s, 0, kBmp)) return LoadLe32(s + 6) == 0 ? code::kBmp : code::kNone;
  if (Is(s, 0, kCompoundDocument)) return code::kCompoundDocument;
  if (Is(s, 4, kJetDatabase)) return code::kJetDatabase;
  if (Is(s, 0, kRiff)) {
    if (Is(s, 8, kRiffAvi)) return code::kRiffAvi;
    if (Is(s, 8, kRiffCdxa)) return code::kRiffCdxa;
    if (Is(s, 8, kRiffWave)) return code::kRiffWave;
    if (Is(s, 8, kRiffAcon)) return code::kRiffAcon;
    return PlausibleFormType(s + 8) ? code::kRiffOther : code::kNone;
  }
  if (Is(s, 0, kAsfHeaderObject)) {
    // The first object inside the header starts at 30: identifier 16, size 8,
    // object count 4, two reserved bytes.
    return Is(s, 30, kAsfFileProperties) ? code::kAsfPropertiesFirst : code::kAsfOther;
  }
  if (LoadLe16(s) == 0 && Is(s, 4, kMp4FileType)) return code::kMp4;
  if (Is(s, 0, kPng)) return code::kPng;
  if (Is(s, 0, kId3)) return code::kMp3Id3;
  if (Is(s, 0, kRar)) return code::kRar;
  if (Is(s, 0, kZipLocalHeader)) return code::kZip;
  if (Is(s, 0, kCab)) return code::kCab;
  if (Is(s, 0, kSevenZip)) return code::kSevenZip;
  if (MpegAudioFramesAt(s)) return code::kMpegAudio;
  if (Is(s, 0, kPdf)) return code::kPdf;
  // The flag bits above the five defined ones are reserved and zero.
  if (Is(s, 0, kGzip) && (s[3] & 0xE0) == 0) return code::kGzip;
  if (Is(s, 0, kBzip2) && s[3] >= '1' && s[3] <= '9' && (Is(s, 4, kBzip2Block) || Is(s, 4, kBzip2End))) {
    return code::kBzip2;
  }
  // Stream flags: a zero byte, then the check type (none, CRC-32, CRC-64,
  // SHA-256) in the low four bits of the next.
  if (Is(s, 0, kXz) && s[6] == 0 && (s[7] == 0 || s[7] == 1 || s[7] == 4 || s[7] == 10)) return code::kXz;
  if (IsTarHeader(s)) return code::kTar;
  if (LooksLikeElf(s)) return code::kElf;
  // The "PE\0\0" header must lie inside this sector.
  if (Is(s, 0, kMz) && LoadLe32(s + 0x3C) >= 4 && LoadLe32(s + 0x3C) <= kClassifiedBytes - 4 &&
      Is(s, LoadLe32(s + 0x3C), kPe)) {
    return code::kPe;
  }
  // An Ogg page that begins a logical stream and continues no packet.
  if (Is(s, 0, kOgg) && s[4] == 0 && (s[5] & ~0x06) == 0 && (s[5] & 0x02) != 0) return code::kOgg;
  // STREAMINFO, 34 bytes, is always the first metadata block.
  if (Is(s, 0, kFlac) && (s[4] & 0x7F) == 0 && s[5] == 0 && s[6] == 0 && s[7] == 34) return code::kFlac;
  if (Is(s, 0, kSqlite)) return code::kSqlite;
  if (LooksLikeSfnt(s)) return code::kSfntFont;
  if (Is(s, 0, kWoff) && LoadBe16(s + 12) != 0 && LoadBe16(s + 14) == 0) return code::kWoff;
  if ((Is(s, 0, kTiffLittle) && LoadLe32(s + 4) >= 8) || (Is(s, 0, kTiffBig) && LoadBe32(s + 4) >= 8)) {
    return code::kTiff;
  }
  if (LooksLikeEbml(s)) return code::kMatroska;
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
