#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/byte_view.h"

namespace vellumark {

// The block an ext4 group's inode table begins at, from its group
// descriptor (descriptorSize bytes: the high half only in 64-byte ones).
std::optional<std::uint64_t> Ext4InodeTableBlock(ByteView descriptor, std::uint32_t descriptorSize);

// What an inode says of its file: kind, size, links, whether it was
// deleted (its deletion time set) and the root of its extent tree, the 60
// bytes that hold it (empty where the file's blocks are not kept as
// extents).
struct Ext4Inode {
  bool regular = false;
  bool directory = false;
  std::uint64_t size = 0;
  std::uint16_t links = 0;
  bool deleted = false;
  std::int64_t modified = 0;  // seconds since 1970, UTC
  std::vector<std::uint8_t> extentRoot;
};
std::optional<Ext4Inode> ParseExt4Inode(ByteView inode);

// A stretch of a file's blocks.
struct Ext4Extent {
  std::uint32_t logical = 0;  // the file's block it begins
  std::uint32_t length = 0;   // blocks
  std::uint64_t physical = 0; // the volume's block it lies at
  bool unwritten = false;     // allocated but never written: reads as zeros
};

// One node of an extent tree (an inode's root or a block of the tree): its
// depth, and the extents of a leaf (depth 0) or the blocks of its children.
// The entry count is held to what the bytes hold; none without the magic
// or with a depth no tree reaches.
struct Ext4ExtentNode {
  std::uint16_t depth = 0;
  std::vector<Ext4Extent> extents;
  std::vector<std::uint64_t> children;
};
std::optional<Ext4ExtentNode> ParseExt4ExtentNode(ByteView node);

}  // namespace vellumark
