#pragma once

#include <cstdint>

namespace vellumark {

// What the classifier recognised at the start of a sector; selects the carver.
using FileTypeCode = std::int32_t;

namespace code {
inline constexpr FileTypeCode kNone = 0;
inline constexpr FileTypeCode kJpeg = 1;
inline constexpr FileTypeCode kJpegQuantFirst = 2;  // first marker a quantisation table
inline constexpr FileTypeCode kGif = 3;  // GIF87a or GIF89a
inline constexpr FileTypeCode kBmp = 4;
inline constexpr FileTypeCode kCompoundDocument = 5;
// Jet/Access databases are recognised but not carved: the header holds the
// page size (2048 bytes for Jet 3, 4096 for Jet 4 and ACE) but no page count,
// no page marks the end of the file, and free pages may hold anything (zeros
// or stale pages of the same database), so no walk can tell where the file
// ends; claiming a guess would hide a document that follows it.
inline constexpr FileTypeCode kJetDatabase = 6;
inline constexpr FileTypeCode kRiffAvi = 7;
inline constexpr FileTypeCode kMp3Id3 = 8;  // an ID3v2 tag, MPEG audio frames expected after it
inline constexpr FileTypeCode kPng = 9;
inline constexpr FileTypeCode kRiffWave = 10;
inline constexpr FileTypeCode kRiffAcon = 11;
inline constexpr FileTypeCode kRiffCdxa = 12;
inline constexpr FileTypeCode kAsfPropertiesFirst = 13;
inline constexpr FileTypeCode kRar = 15;
inline constexpr FileTypeCode kZip = 16;
inline constexpr FileTypeCode kCab = 17;
inline constexpr FileTypeCode kSevenZip = 18;
inline constexpr FileTypeCode kMp4 = 19;
inline constexpr FileTypeCode kAsfOther = 20;
inline constexpr FileTypeCode kMpegAudio = 21;  // MPEG audio frames without a tag: two in a row at the start
inline constexpr FileTypeCode kPdf = 22;        // "%PDF-" at the start
inline constexpr FileTypeCode kGzip = 23;       // gzip member header, deflate method
inline constexpr FileTypeCode kBzip2 = 24;      // "BZh", level, then a block or end-of-stream magic
inline constexpr FileTypeCode kXz = 25;         // xz stream header with defined flags
inline constexpr FileTypeCode kTar = 26;        // ustar or GNU header whose checksum holds
inline constexpr FileTypeCode kElf = 27;        // ELF programs and libraries, 32/64-bit, either byte order
inline constexpr FileTypeCode kPe = 28;         // PE/COFF programs and libraries: "MZ", "PE\0\0" in the first sector
inline constexpr FileTypeCode kOgg = 29;        // an Ogg page starting a logical stream
inline constexpr FileTypeCode kFlac = 30;       // native FLAC: "fLaC" and STREAMINFO
inline constexpr FileTypeCode kSqlite = 31;     // SQLite 3 database
inline constexpr FileTypeCode kSfntFont = 32;   // TrueType or OpenType font with a sane table directory
inline constexpr FileTypeCode kWoff = 33;       // WOFF web font
inline constexpr FileTypeCode kTiff = 34;       // TIFF, either byte order
inline constexpr FileTypeCode kRiffOther = 35;  // RIFF with another plausible form type (WebP and others)
inline constexpr FileTypeCode kMatroska = 36;   // Matroska and WebM: an EBML header
inline constexpr FileTypeCode kSevenZipCurrent = 37;  // 7z of format version 0.4, as 7-Zip writes today
inline constexpr FileTypeCode kFatDirectory = 100;
}  // namespace code

// Which document kinds are saved: compound documents (.doc, .xls, .ppt) and
// ZIP-based office documents (.docx, .xlsx, .pptx, .odt). The window has a
// control for Word's two.
using TypeMask = std::uint32_t;

namespace type_mask {
inline constexpr TypeMask kWord = 0x400;
inline constexpr TypeMask kExcel = 0x800;
inline constexpr TypeMask kPowerPoint = 0x1000;
inline constexpr TypeMask kAllDocuments = kWord | kExcel | kPowerPoint;  // the compound kinds
inline constexpr TypeMask kDocx = 0x2000;
inline constexpr TypeMask kXlsx = 0x4000;
inline constexpr TypeMask kPptx = 0x8000;
inline constexpr TypeMask kOdt = 0x10000;
// Someone who lost "Word documents" means both kinds.
inline constexpr TypeMask kInitial = kWord | kDocx;
}  // namespace type_mask

}  // namespace vellumark
