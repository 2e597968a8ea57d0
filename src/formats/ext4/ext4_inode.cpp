#include "formats/ext4/ext4_inode.h"

#include "formats/ext4/ext4_layout.h"

namespace vellumark {

namespace layout = ext4_layout;

std::optional<std::uint64_t> Ext4InodeTableBlock(ByteView descriptor, std::uint32_t descriptorSize) {
  const auto low = descriptor.Le32(layout::kGroupInodeTableLow);
  if (!low) return std::nullopt;
  std::uint64_t block = *low;
  if (descriptorSize >= 64) {
    const auto high = descriptor.Le32(layout::kGroupInodeTableHigh);
    if (!high) return std::nullopt;
    block |= std::uint64_t{*high} << 32;
  }
  if (block == 0) return std::nullopt;
  return block;
}

std::optional<Ext4Inode> ParseExt4Inode(ByteView inode) {
  // The 128 bytes every inode size has.
  if (!inode.Has(0, 128)) return std::nullopt;
  Ext4Inode facts;
  const std::uint16_t mode = *inode.Le16(layout::kInodeMode);
  facts.regular = (mode & layout::kModeTypeMask) == layout::kModeRegular;
  facts.directory = (mode & layout::kModeTypeMask) == layout::kModeDirectory;
  facts.size = *inode.Le32(layout::kInodeSizeLow) | std::uint64_t{*inode.Le32(layout::kInodeSizeHigh)} << 32;
  facts.links = *inode.Le16(layout::kInodeLinks);
  facts.deleted = *inode.Le32(layout::kInodeDeleted) != 0;
  facts.modified = *inode.Le32(layout::kInodeModified);
  if ((*inode.Le32(layout::kInodeFlags) & layout::kInodeUsesExtents) != 0) {
    const ByteView root = *inode.Bytes(layout::kInodeBlock, layout::kInodeBlockBytes);
    facts.extentRoot.assign(root.Data(), root.Data() + root.Size());
  }
  return facts;
}

std::optional<Ext4ExtentNode> ParseExt4ExtentNode(ByteView node) {
  if (!node.Has(0, layout::kExtentHeader) || node.Le16(0) != layout::kExtentMagic) return std::nullopt;
  const auto entries = node.Le16(layout::kExtentEntries);
  const auto depth = node.Le16(layout::kExtentDepth);
  if (!entries || !depth || *depth > layout::kMostExtentDepth) return std::nullopt;
  Ext4ExtentNode parsed;
  parsed.depth = *depth;
  for (std::size_t k = 0; k < *entries; ++k) {
    const std::size_t at = layout::kExtentHeader + k * layout::kExtentEntry;
    if (!node.Has(at, layout::kExtentEntry)) break;  // more than the bytes hold
    if (parsed.depth == 0) {
      Ext4Extent extent;
      extent.logical = *node.Le32(at + layout::kLeafLogical);
      const std::uint16_t length = *node.Le16(at + layout::kLeafLength);
      extent.unwritten = length > layout::kUnwrittenLength;
      extent.length = extent.unwritten ? length - layout::kUnwrittenLength : length;
      extent.physical = *node.Le32(at + layout::kLeafStartLow) | std::uint64_t{*node.Le16(at + layout::kLeafStartHigh)} << 32;
      if (extent.length > 0) parsed.extents.push_back(extent);
    } else {
      parsed.children.push_back(*node.Le32(at + layout::kIndexChildLow) |
                                std::uint64_t{*node.Le16(at + layout::kIndexChildHigh)} << 32);
    }
  }
  return parsed;
}

}  // namespace vellumark
