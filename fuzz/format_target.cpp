// Fuzz targets of the partition-table and file-system readers, and of the
// reading of a damaged office package's text. The input is
// the bytes a reader is given, raw. Whatever they are, a reader ends, reads
// nothing outside them, and what it says stays inside them: entries lie at
// offsets within the bytes, names are well-formed UTF-8 (ext4's are bytes
// as stored, but never empty nor holding '/'), sizes and counts cannot make
// a caller divide by zero.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/byte_view.h"
#include "formats/ext4/ext4_directory.h"
#include "formats/ext4/ext4_inode.h"
#include "formats/fat/exfat_directory.h"
#include "formats/fat/fat_directory.h"
#include "formats/ntfs/mft_record.h"
#include "formats/partitions/partition_table.h"
#include "formats/zip/office_text_salvage.h"
#include "formats/zip/zip_central_directory.h"
#include "formats/zip/zip_member_feed.h"

namespace {

using namespace vellumark;

[[noreturn, maybe_unused]] void Broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

[[maybe_unused]] void CheckUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || i + length > text.size()) Broken("a name that is not UTF-8");
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<std::uint8_t>(text[i + k]) & 0xC0) != 0x80) Broken("a name that is not UTF-8");
    }
    i += length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView bytes(data, size);
#if defined(VELLUMARK_FUZZ_MBR)
  if (const auto entries = ParseMbr(bytes)) {
    if (entries->size() > 4) Broken("more than four entries");
    for (const MbrEntry& entry : *entries) {
      if (entry.type == 0 || entry.sectorCount == 0) Broken("an empty entry listed");
    }
  }
  if (const auto record = ParseExtendedRecord(bytes)) {
    if (record->logical && record->logical->IsExtended()) Broken("a link taken for a partition");
  }
#elif defined(VELLUMARK_FUZZ_GPT)
  // The header's block, then its entries.
  if (const auto header = ParseGptHeader(bytes)) {
    if (header->entrySize < 128) Broken("an entry size below 128");
    if (const auto entries = ParseGptEntries(bytes.From(512).value_or(ByteView()), *header)) {
      for (const GptEntry& entry : *entries) {
        if (entry.lastLba < entry.firstLba) Broken("a partition ending before its start");
        CheckUtf8(entry.name);
      }
    }
  }
#elif defined(VELLUMARK_FUZZ_MFT_RECORD)
  if (const auto boot = ParseNtfsBootSector(bytes)) {
    if (boot->sectorsPerCluster == 0 || boot->bytesPerSector < 512 || boot->recordSize < 512) Broken("a zero geometry");
  }
  if (const auto record = ParseMftRecord(bytes)) {
    for (const NtfsFileName& name : record->names) CheckUtf8(name.name);
    for (const DataRun& run : record->runs) {
      if (run.length == 0) Broken("an empty run");
    }
    if (record->dataResident && !record->runs.empty()) Broken("resident data with runs");
  }
#elif defined(VELLUMARK_FUZZ_FAT_DIRECTORY)
  if (const auto boot = ParseFatBootSector(bytes)) {
    if (boot->sectorsPerCluster == 0 || boot->firstDataSector >= boot->totalSectors) Broken("a volume with no data area");
  }
  for (const FatDirectoryEntry& entry : ParseFatDirectory(bytes)) {
    if (entry.offset % 32 != 0 || entry.offset + 32 > size) Broken("an entry outside the bytes");
    CheckUtf8(entry.name);
    CheckUtf8(entry.shortName);
    if (entry.name.empty()) Broken("an entry with no name");
  }
#elif defined(VELLUMARK_FUZZ_EXFAT_DIRECTORY)
  if (const auto boot = ParseExfatBootSector(bytes)) {
    if (boot->sectorsPerCluster == 0 || boot->heapSector >= boot->volumeSectors) Broken("a volume with no heap");
  }
  for (const ExfatFileEntry& entry : ParseExfatDirectory(bytes)) {
    if (entry.offset % 32 != 0 || entry.offset + 96 > size) Broken("an entry set outside the bytes");
    CheckUtf8(entry.name);
  }
  if (const auto bitmap = FindExfatBitmap(bytes)) {
    if (bitmap->firstCluster < 2 || bitmap->length == 0) Broken("a bitmap at no cluster");
  }
#elif defined(VELLUMARK_FUZZ_EXT4_DIRECTORY)
  if (const auto super = ParseExt4Superblock(bytes)) {
    if (super->blockSize < 1024 || super->blocksPerGroup == 0) Broken("a zero geometry");
  }
  for (const Ext4DirectoryEntry& entry : ParseExt4DirectoryBlock(bytes)) {
    if (entry.name.empty() || entry.name.find('/') != std::string::npos) Broken("a name no file has");
    if (entry.offset + 8 + entry.name.size() > size) Broken("an entry outside the bytes");
  }
  // The same bytes as an inode, a group descriptor and an extent node.
  if (const auto inode = ParseExt4Inode(bytes)) {
    if (!inode->extentRoot.empty() && inode->extentRoot.size() != 60) Broken("an extent root of another size");
  }
  if (Ext4InodeTableBlock(bytes, 64) == std::uint64_t{0}) Broken("an inode table at block 0");
  if (const auto node = ParseExt4ExtentNode(bytes)) {
    if (node->depth > 5) Broken("a tree deeper than any");
    if ((node->extents.size() + node->children.size()) * 12 + 12 > size) Broken("entries outside the bytes");
    for (const Ext4Extent& extent : node->extents) {
      if (extent.length == 0 || extent.length > 32768) Broken("an extent of no length or too long");
    }
  }
#elif defined(VELLUMARK_FUZZ_ZIP_DIRECTORY)
  // An archive's tail from its central directory on, the end record last;
  // then the whole input fed, in three pieces, as each member it names.
  if (size >= 22) {
    if (const auto end = ReadZipEndRecord(*bytes.From(size - 22))) {
      const ZipDirectoryRead read = ReadZipDirectory(bytes, *end);
      if (read.entries.size() > end->entries) Broken("more entries than the end record counts");
      if (read.state == ZipDirectoryState::Done && read.entries.size() != end->entries) Broken("done short of its entries");
      for (const ZipDirectoryEntry& entry : read.entries) {
        if (entry.name.empty()) Broken("an entry with no name");
        ZipMemberFeed feed(entry);
        ZipFeedState state = ZipFeedState::Going;
        for (std::size_t at = 0, step = size / 3 + 1; at < size; at += step) {
          const ZipFeedState was = state;
          ZipMemberFeed copy(feed);
          state = feed.Feed(*bytes.Bytes(at, std::min(step, size - at)));
          if (was == ZipFeedState::Broken && state != ZipFeedState::Broken) Broken("a broken member mended by more bytes");
          if (copy.State() != was) Broken("a copy that is not where its original stood");
        }
      }
    }
  }
#elif defined(VELLUMARK_FUZZ_OFFICE_TEXT)
  // A small budget: the search for a deflate block's start is bounded by it.
  std::uint64_t work = 0;
  if (const auto salvaged = SalvageOfficeText({data, size}, std::uint64_t{1} << 20, work)) {
    CheckUtf8(salvaged->text);
    if (salvaged->percent < -1 || salvaged->percent > 100) Broken("a share outside 0-100");
    if (salvaged->extent < 0 || static_cast<std::size_t>(salvaged->extent) > size) Broken("an extent outside the bytes");
  }
  CheckUtf8(TolerantBodyText({data, size}, false));
  CheckUtf8(TolerantBodyText({data, size}, true));
#endif
  return 0;
}
