#pragma once

#include <cstdint>

#include "rescue/rescue_run.h"

// Every carver, one per file in this folder, registered in carver_table.cpp.
namespace vellumark {

// Compound files (Word, Excel, PowerPoint): rebuilt and, for the kinds the
// TypeMask selects, written to the save folder.
void CompoundCarver(RescueRun& run, std::int64_t hitOffset);
// ZIP-based office documents (DOCX, XLSX, PPTX, ODT): rebuilt, checked and,
// for the kinds the TypeMask selects, written; any other ZIP archive goes to
// ZipCarver.
void OfficeDocumentCarver(RescueRun& run, std::int64_t hitOffset);

// The carvers below write nothing: they find which sectors a picture, sound,
// video or archive occupies and claim them, so that no document is rebuilt
// with their bytes in it.
void JpegCarver(RescueRun& run, std::int64_t hitOffset);
void PngCarver(RescueRun& run, std::int64_t hitOffset);
void BmpCarver(RescueRun& run, std::int64_t hitOffset);
void RiffCarver(RescueRun& run, std::int64_t hitOffset);
// ASF whose header starts with the file properties object: its file size.
void AsfCarver(RescueRun& run, std::int64_t hitOffset);
// Any other ASF: the walk over its top-level objects.
void AsfObjectCarver(RescueRun& run, std::int64_t hitOffset);
void Mp4Carver(RescueRun& run, std::int64_t hitOffset);
void RarCarver(RescueRun& run, std::int64_t hitOffset);
void ZipCarver(RescueRun& run, std::int64_t hitOffset);
void CabCarver(RescueRun& run, std::int64_t hitOffset);
void SevenZipCarver(RescueRun& run, std::int64_t hitOffset);
// GIF 87a and 89a: the block walk to the trailer.
void GifCarver(RescueRun& run, std::int64_t hitOffset);
// MPEG audio, with or without an ID3v2 tag: the frames while they follow
// each other, then APE and ID3v1 tags.
void Mp3Carver(RescueRun& run, std::int64_t hitOffset);
// PDF: to the end of the last "%%EOF" line a "startxref" vouches for.
void PdfCarver(RescueRun& run, std::int64_t hitOffset);
// Compressed streams, decoded to find their exact end and check it.
void GzipCarver(RescueRun& run, std::int64_t hitOffset);
void Bzip2Carver(RescueRun& run, std::int64_t hitOffset);
void XzCarver(RescueRun& run, std::int64_t hitOffset);
// tar (ustar and GNU): the member walk to the two zero blocks.
void TarCarver(RescueRun& run, std::int64_t hitOffset);
void ElfCarver(RescueRun& run, std::int64_t hitOffset);
void PeCarver(RescueRun& run, std::int64_t hitOffset);
void OggCarver(RescueRun& run, std::int64_t hitOffset);
void FlacCarver(RescueRun& run, std::int64_t hitOffset);
void SqliteCarver(RescueRun& run, std::int64_t hitOffset);
// TrueType and OpenType fonts.
void SfntFontCarver(RescueRun& run, std::int64_t hitOffset);
void WoffCarver(RescueRun& run, std::int64_t hitOffset);
void TiffCarver(RescueRun& run, std::int64_t hitOffset);
// RIFF forms other than AVI, WAVE, ACON and CDXA: the declared length, once
// the chunks inside fill it.
void RiffFormCarver(RescueRun& run, std::int64_t hitOffset);
void MatroskaCarver(RescueRun& run, std::int64_t hitOffset);

}  // namespace vellumark
