#include "rescue/carvers/carver_table.h"

#include <array>

#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

struct Entry {
  FileTypeCode code;
  Carver carver;
};

constexpr std::array kCarvers{
    Entry{code::kJpeg, &JpegCarver},
    Entry{code::kJpegQuantFirst, &JpegCarver},  // second pass only
    Entry{code::kBmp, &BmpCarver},
    Entry{code::kCompoundDocument, &CompoundCarver},
    Entry{code::kRiffAvi, &RiffCarver},
    Entry{code::kPng, &PngCarver},
    Entry{code::kRiffWave, &RiffCarver},
    Entry{code::kRiffAcon, &RiffCarver},
    Entry{code::kRiffCdxa, &RiffCarver},
    Entry{code::kAsfPropertiesFirst, &AsfCarver},
    Entry{code::kRar, &RarCarver},
    Entry{code::kZip, &OfficeDocumentCarver},
    Entry{code::kCab, &CabCarver},
    Entry{code::kSevenZip, &SevenZipCarver},
    Entry{code::kMp4, &Mp4Carver},
    Entry{code::kAsfOther, &AsfObjectCarver},
    Entry{code::kGif, &GifCarver},
    Entry{code::kMp3Id3, &Mp3Carver},
    Entry{code::kMpegAudio, &Mp3Carver},
    Entry{code::kPdf, &PdfCarver},
    Entry{code::kGzip, &GzipCarver},
    Entry{code::kBzip2, &Bzip2Carver},
    Entry{code::kXz, &XzCarver},
    Entry{code::kTar, &TarCarver},
    Entry{code::kElf, &ElfCarver},
    Entry{code::kPe, &PeCarver},
    Entry{code::kOgg, &OggCarver},
    Entry{code::kFlac, &FlacCarver},
    Entry{code::kSqlite, &SqliteCarver},
    Entry{code::kSfntFont, &SfntFontCarver},
    Entry{code::kWoff, &WoffCarver},
    Entry{code::kTiff, &TiffCarver},
    Entry{code::kRiffOther, &RiffFormCarver},
    Entry{code::kMatroska, &MatroskaCarver},
    Entry{code::kSevenZipCurrent, &SevenZipCarver},
};

}  // namespace

Carver CarverFor(FileTypeCode code) {
  for (const Entry& entry : kCarvers) {
    if (entry.code == code) return entry.carver;
  }
  return nullptr;
}

}  // namespace vellumark
