#pragma once

#include <cstddef>
#include <string_view>

// The bytes that mark where a file or one of its structures begins, each
// written once here for the classifier that finds the file, the carver that
// walks it and the checks that read it back. Compared with ByteView::Equals
// (or memcmp on the classifier's whole sector), so a magic holding a zero
// byte keeps it.
namespace vellumark::signature {

// A literal's bytes, embedded zeros included, without its terminator.
template <std::size_t N>
constexpr std::string_view Magic(const char (&bytes)[N]) {
  return {bytes, N - 1};
}

inline constexpr std::string_view kJpeg = Magic("\xFF\xD8\xFF");  // start of image and the first marker's FF
inline constexpr std::string_view kGif87a = Magic("GIF87a");
inline constexpr std::string_view kGif89a = Magic("GIF89a");
inline constexpr std::string_view kBmp = Magic("BM");
inline constexpr std::string_view kCompoundDocument = Magic("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
inline constexpr std::string_view kJetDatabase = Magic("Standard Jet DB");  // at offset 4

inline constexpr std::string_view kRiff = Magic("RIFF");
inline constexpr std::string_view kRiffAvi = Magic("AVI ");  // the form type, at offset 8
inline constexpr std::string_view kRiffCdxa = Magic("CDXA");
inline constexpr std::string_view kRiffWave = Magic("WAVE");
inline constexpr std::string_view kRiffAcon = Magic("ACON");

// ASF objects are named by GUIDs, stored with their first three fields
// little-endian.
inline constexpr std::string_view kAsfHeaderObject =
    Magic("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C");
inline constexpr std::string_view kAsfFileProperties =
    Magic("\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65");
inline constexpr std::string_view kAsfExtendedContentDescription =
    Magic("\x40\xA4\xD0\xD2\x07\xE3\xD2\x11\x97\xF0\x00\xA0\xC9\x5E\xA8\x50");

inline constexpr std::string_view kMp4FileType = Magic("ftyp");  // the first box's type, at offset 4
inline constexpr std::string_view kPng = Magic("\x89PNG");
inline constexpr std::string_view kPngEnd = Magic("IEND");
inline constexpr std::string_view kId3 = Magic("ID3");
inline constexpr std::string_view kId3v1 = Magic("TAG");        // the tag at the end of an MP3
inline constexpr std::string_view kApeTag = Magic("APETAGEX");  // the APE tag's header
inline constexpr std::string_view kRar = Magic("Rar!\x1A\x07\x00");

inline constexpr std::string_view kZipLocalHeader = Magic("PK\x03\x04");
inline constexpr std::string_view kZipCentralHeader = Magic("PK\x01\x02");
inline constexpr std::string_view kZipEndRecord = Magic("PK\x05\x06");
inline constexpr std::string_view kZip64EndRecord = Magic("PK\x06\x06");
inline constexpr std::string_view kZip64Locator = Magic("PK\x06\x07");
inline constexpr std::string_view kZipDescriptor = Magic("PK\x07\x08");

inline constexpr std::string_view kCab = Magic("MSCF");
inline constexpr std::string_view kSevenZip = Magic("7z\xBC\xAF\x27\x1C\x00\x03");  // with format version 0.3
inline constexpr std::string_view kSevenZipCurrent = Magic("7z\xBC\xAF\x27\x1C\x00\x04");  // and with 0.4
inline constexpr std::string_view kPdf = Magic("%PDF-");
inline constexpr std::string_view kGzip = Magic("\x1F\x8B\x08");  // with the deflate method
inline constexpr std::string_view kBzip2 = Magic("BZh");
inline constexpr std::string_view kBzip2Block = Magic("\x31\x41\x59\x26\x53\x59");  // the digits of pi
inline constexpr std::string_view kBzip2End = Magic("\x17\x72\x45\x38\x50\x90");    // of the square root of pi
inline constexpr std::string_view kXz = Magic("\xFD" "7zXZ\x00");
inline constexpr std::string_view kTar = Magic("ustar");  // at offset 257
inline constexpr std::string_view kElf = Magic("\x7F" "ELF");
inline constexpr std::string_view kMz = Magic("MZ");
inline constexpr std::string_view kPe = Magic("PE\x00\x00");
inline constexpr std::string_view kOgg = Magic("OggS");
inline constexpr std::string_view kFlac = Magic("fLaC");
inline constexpr std::string_view kSqlite = Magic("SQLite format 3\x00");
inline constexpr std::string_view kSfntTrueType = Magic("\x00\x01\x00\x00");
inline constexpr std::string_view kSfntApple = Magic("true");
inline constexpr std::string_view kSfntOpenType = Magic("OTTO");
inline constexpr std::string_view kWoff = Magic("wOFF");
inline constexpr std::string_view kTiffLittle = Magic("II*\x00");
inline constexpr std::string_view kTiffBig = Magic("MM\x00*");
inline constexpr std::string_view kEbml = Magic("\x1A\x45\xDF\xA3");

}  // namespace vellumark::signature
