#include "formats/ext4/ext4_directory.h"

#include <algorithm>

#include "formats/ext4/ext4_layout.h"

namespace vellumark {

namespace layout = ext4_layout;

namespace {

// The bytes an entry with a name of n bytes needs: header and name, to a
// 4-byte boundary.
std::size_t NeededLength(std::size_t nameLength) { return (layout::kEntryHeader + nameLength + 3) / 4 * 4; }

// An entry that could have been written at at and fit in limit bytes: a
// name of bytes no file name holds (NUL or '/') is none.
std::optional<Ext4DirectoryEntry> EntryAt(ByteView block, std::size_t at, std::size_t limit, bool deleted) {
  const auto inode = block.Le32(at + layout::kEntryInode);
  const auto recordLength = block.Le16(at + layout::kEntryRecordLength);
  const auto nameLength = block.Byte(at + layout::kEntryNameLength);
  const auto fileType = block.Byte(at + layout::kEntryFileType);
  if (!inode || !recordLength || !nameLength || !fileType) return std::nullopt;
  if (*nameLength == 0 || *fileType > layout::kFileTypeMax || NeededLength(*nameLength) > limit) return std::nullopt;
  if (*recordLength < NeededLength(*nameLength) || *recordLength % 4 != 0) return std::nullopt;
  // A removed entry keeps its inode number (ext4 clears it only when the
  // entry is the first of its block); a live one has a nonzero one.
  if (*inode == 0 && !deleted) return std::nullopt;
  const auto name = block.Bytes(at + layout::kEntryName, *nameLength);
  if (!name) return std::nullopt;
  for (const std::uint8_t c : *name) {
    if (c == 0 || c == '/') return std::nullopt;
  }
  Ext4DirectoryEntry entry;
  entry.inode = *inode;
  entry.name.assign(reinterpret_cast<const char*>(name->Data()), name->Size());
  entry.fileType = *fileType;
  entry.deleted = deleted;
  entry.offset = at;
  return entry;
}

bool IsDotEntry(const Ext4DirectoryEntry& entry) { return entry.name == "." || entry.name == ".."; }

// Removed entries in [from, to): each found is skipped whole (to its
// needed length) before looking on, since its own slack may hold more.
void FindRemoved(ByteView block, std::size_t from, std::size_t to, std::vector<Ext4DirectoryEntry>& entries) {
  std::size_t at = from;
  while (at + layout::kEntryHeader < to) {
    const auto entry = EntryAt(block, at, to - at, true);
    if (entry && entry->inode != 0) {
      at += NeededLength(entry->name.size());
      if (!IsDotEntry(*entry)) entries.push_back(*entry);
    } else {
      at += 4;
    }
  }
}

}  // namespace

std::optional<Ext4SuperblockFacts> ParseExt4Superblock(ByteView volumeStart) {
  const auto super = volumeStart.Bytes(layout::kSuperblockOffset, 1024);
  if (!super || super->Le16(layout::kMagic) != layout::kMagicValue) return std::nullopt;
  const std::uint32_t logBlock = *super->Le32(layout::kLogBlockSize);
  if (logBlock > 6) return std::nullopt;  // 1 KiB to 64 KiB blocks
  Ext4SuperblockFacts facts;
  facts.blockSize = 1024u << logBlock;
  facts.blockCount = *super->Le32(layout::kBlocksCountLow);
  if ((*super->Le32(layout::kFeatureIncompat) & layout::kIncompat64Bit) != 0) {
    facts.blockCount |= std::uint64_t{*super->Le32(layout::kBlocksCountHigh)} << 32;
  }
  facts.blocksPerGroup = *super->Le32(layout::kBlocksPerGroup);
  facts.inodesPerGroup = *super->Le32(layout::kInodesPerGroup);
  facts.inodeSize = *super->Le16(layout::kInodeSize);
  facts.firstDataBlock = *super->Le32(layout::kFirstDataBlock);
  if ((*super->Le32(layout::kFeatureIncompat) & layout::kIncompat64Bit) != 0) {
    facts.descriptorSize = std::max<std::uint32_t>(*super->Le16(layout::kDescriptorSize), 32);
  }
  if (facts.blockCount == 0 || facts.blocksPerGroup == 0 || facts.inodesPerGroup == 0) return std::nullopt;
  return facts;
}

std::vector<Ext4DirectoryEntry> ParseExt4DirectoryBlock(ByteView block) {
  std::vector<Ext4DirectoryEntry> entries;
  std::size_t at = 0;
  while (block.Has(at, layout::kEntryHeader)) {
    const auto recordLength = block.Le16(at + layout::kEntryRecordLength);
    const auto inode = block.Le32(at + layout::kEntryInode);
    const auto nameLength = block.Byte(at + layout::kEntryNameLength);
    const auto fileType = block.Byte(at + layout::kEntryFileType);
    if (*recordLength < layout::kEntryHeader || *recordLength % 4 != 0 || !block.Has(at, *recordLength)) break;
    if (*inode == 0 && *nameLength == 0 && *fileType == layout::kTailFileType) break;
    std::size_t slackFrom = at;
    if (*inode != 0) {
      const auto live = EntryAt(block, at, *recordLength, false);
      if (!live) break;
      if (!IsDotEntry(*live)) entries.push_back(*live);
      slackFrom = at + NeededLength(live->name.size());
    } else if (*nameLength > 0) {
      // The first entry of a block, removed: its inode was cleared but its
      // name and type stay.
      if (auto removed = EntryAt(block, at, *recordLength, true)) {
        if (!IsDotEntry(*removed)) entries.push_back(*removed);
        slackFrom = at + NeededLength(removed->name.size());
      }
    }
    FindRemoved(block, slackFrom, at + *recordLength, entries);
    at += *recordLength;
  }
  return entries;
}

}  // namespace vellumark
