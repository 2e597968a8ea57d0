// The files ext4 directories list, walked from the root inode. A removed
// name stays in its directory block (in the slack of the entry before it)
// with its inode number; whether the inode still holds the file's extents
// depends on what removed it: e2fsprogs' debugfs leaves them and the size,
// the kernel's driver clears both (its deleted inodes give nothing here).
#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <tuple>

#include "formats/ext4/ext4_directory.h"
#include "formats/ext4/ext4_inode.h"
#include "rescue/volume_records.h"

namespace vellumark {

namespace {

constexpr std::uint32_t kRootInode = 2;
// Nodes of one file's extent tree read (a tree of depth 2 at 4 KiB blocks
// holds 340 x 340 extents); directory blocks and inodes read of a volume
// (a million blocks of names, and as many inodes as NTFS's records read).
constexpr std::size_t kMostExtentNodes = 4096;
constexpr std::uint64_t kMostDirectoryBlocks = 1 << 20;
constexpr std::uint64_t kMostInodes = 4'000'000;

struct Folder {
  std::uint32_t inode = 0;
  std::string path;
};

class Ext4Volume {
 public:
  Ext4Volume(SectorSource& source, const VolumeRegion& region, const Ext4SuperblockFacts& facts)
      : source_(source), region_(region), facts_(facts),
        sectorBytes_(static_cast<std::uint64_t>(source.ScanGeometry().BytesPerSector)) {
    if (facts.firstDataBlock < facts.blockCount) {
      groups_ = (facts.blockCount - facts.firstDataBlock + facts.blocksPerGroup - 1) / facts.blocksPerGroup;
    }
    inodeSize_ = facts.inodeSize == 0 ? 128 : facts.inodeSize;
  }

  // count bytes from the volume's byte at, read through its sectors.
  std::optional<std::vector<std::uint8_t>> Read(std::uint64_t at, std::uint64_t count) {
    const std::uint64_t skip = at % sectorBytes_;
    auto bytes = ReadSourceBytes(source_, region_.firstSector + static_cast<std::int64_t>(at / sectorBytes_),
                                 (skip + count + sectorBytes_ - 1) / sectorBytes_ * sectorBytes_);
    if (!bytes) return std::nullopt;
    return std::vector<std::uint8_t>(bytes->begin() + static_cast<std::ptrdiff_t>(skip),
                                     bytes->begin() + static_cast<std::ptrdiff_t>(skip + count));
  }

  std::optional<std::vector<std::uint8_t>> Block(std::uint64_t block) {
    if (block >= facts_.blockCount) return std::nullopt;
    return Read(block * facts_.blockSize, facts_.blockSize);
  }

  std::optional<Ext4Inode> Inode(std::uint32_t number) {
    if (number == 0 || inodesRead_ >= kMostInodes) return std::nullopt;
    ++inodesRead_;
    const std::uint64_t group = (number - 1) / facts_.inodesPerGroup;
    const std::uint64_t index = (number - 1) % facts_.inodesPerGroup;
    if (group >= groups_) return std::nullopt;
    const auto table = InodeTable(group);
    if (!table) return std::nullopt;
    // Names of one folder lead mostly to neighbouring inodes: the block
    // last read is kept.
    const std::uint64_t at = *table * facts_.blockSize + index * inodeSize_;
    const std::uint64_t block = at / facts_.blockSize;
    if (block != loadedBlock_ || at % facts_.blockSize + inodeSize_ > facts_.blockSize) {
      auto bytes = Read(block * facts_.blockSize, std::max<std::uint64_t>(facts_.blockSize, at % facts_.blockSize + inodeSize_));
      if (!bytes) return std::nullopt;
      loaded_ = std::move(*bytes);
      loadedBlock_ = block;
    }
    return ParseExt4Inode(ByteView(loaded_.data() + at % facts_.blockSize, inodeSize_));
  }

  // Where the group's inode table begins, from its descriptor (the
  // descriptors follow the superblock's block); read once a group.
  std::optional<std::uint64_t> InodeTable(std::uint64_t group) {
    if (const auto known = tables_.find(group); known != tables_.end()) return known->second;
    const std::uint64_t descriptorAt =
        (std::uint64_t{facts_.firstDataBlock} + 1) * facts_.blockSize + group * facts_.descriptorSize;
    std::optional<std::uint64_t> table;
    if (const auto descriptor = Read(descriptorAt, facts_.descriptorSize)) {
      table = Ext4InodeTableBlock(ByteView(descriptor->data(), descriptor->size()), facts_.descriptorSize);
      if (table && *table >= facts_.blockCount) table.reset();
    }
    tables_[group] = table;
    return table;
  }

  // The inode's extents in the file's order; none where its tree cannot be
  // read whole.
  std::optional<std::vector<Ext4Extent>> Extents(const Ext4Inode& inode) {
    if (inode.extentRoot.empty()) return std::nullopt;
    std::vector<Ext4Extent> extents;
    std::deque<std::pair<std::vector<std::uint8_t>, int>> nodes;  // bytes, the depth its parent expects (-1: any)
    nodes.emplace_back(inode.extentRoot, -1);
    for (std::size_t read = 0; !nodes.empty(); ++read) {
      if (read >= kMostExtentNodes) return std::nullopt;
      const auto [bytes, expected] = nodes.front();
      nodes.pop_front();
      const auto node = ParseExt4ExtentNode(ByteView(bytes.data(), bytes.size()));
      if (!node || (expected >= 0 && node->depth != expected)) return std::nullopt;
      extents.insert(extents.end(), node->extents.begin(), node->extents.end());
      for (const std::uint64_t child : node->children) {
        if (blocksOfTrees_++ >= kMostInodes) return std::nullopt;
        auto block = Block(child);
        if (!block) return std::nullopt;
        nodes.emplace_back(std::move(*block), node->depth - 1);
      }
    }
    std::sort(extents.begin(), extents.end(), [](const Ext4Extent& a, const Ext4Extent& b) { return a.logical < b.logical; });
    return extents;
  }

  // The source sectors of a file of size bytes laid in extents: none
  // unless they hold every one of its blocks, written, from the first on
  // (a document has no holes), and blocks are whole sectors.
  std::vector<SectorRun> Runs(const std::vector<Ext4Extent>& extents, std::uint64_t size) const {
    std::vector<SectorRun> runs;
    if (facts_.blockSize % sectorBytes_ != 0) return runs;
    const std::int64_t blockSectors = static_cast<std::int64_t>(facts_.blockSize / sectorBytes_);
    std::uint64_t next = 0;
    const std::uint64_t blocks = (size + facts_.blockSize - 1) / facts_.blockSize;
    for (const Ext4Extent& extent : extents) {
      if (next >= blocks) break;
      if (extent.logical != next || extent.unwritten || extent.physical + extent.length > facts_.blockCount) return {};
      const std::uint64_t taken = std::min<std::uint64_t>(extent.length, blocks - next);
      runs.push_back({region_.firstSector + static_cast<std::int64_t>(extent.physical) * blockSectors,
                      static_cast<std::int64_t>(taken) * blockSectors});
      next += taken;
    }
    if (next < blocks) return {};
    return runs;
  }

 private:
  SectorSource& source_;
  const VolumeRegion& region_;
  Ext4SuperblockFacts facts_;
  std::uint64_t sectorBytes_;
  std::uint64_t groups_ = 0;
  std::uint32_t inodeSize_ = 128;
  std::uint64_t inodesRead_ = 0;
  std::map<std::uint64_t, std::optional<std::uint64_t>> tables_;  // of the groups met
  std::vector<std::uint8_t> loaded_;
  std::uint64_t loadedBlock_ = UINT64_MAX;
  std::uint64_t blocksOfTrees_ = 0;  // extent tree blocks read, as many as inodes at most
};

std::string Joined(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

}  // namespace

void ReadExt4Records(SectorSource& source, const VolumeRegion& region, std::vector<OriginalFile>& files) {
  const auto start = ReadSourceBytes(source, region.firstSector, 2048);
  if (!start) return;
  const auto facts = ParseExt4Superblock(ByteView(start->data(), start->size()));
  if (!facts) return;
  Ext4Volume volume(source, region, *facts);
  std::set<std::uint32_t> seen{kRootInode};
  std::set<std::uint32_t> live;  // inodes a live name leads to
  std::vector<std::tuple<bool, std::uint32_t, OriginalFile>> named;  // removed name, inode, file
  std::deque<Folder> folders{{kRootInode, ""}};
  std::size_t walked = 0;
  std::uint64_t blocks = 0;
  while (!folders.empty() && walked++ < kMostDirectories && named.size() < kMostFiles) {
    const Folder folder = folders.front();
    folders.pop_front();
    const auto inode = volume.Inode(folder.inode);
    if (!inode || !inode->directory) continue;
    const auto extents = volume.Extents(*inode);
    if (!extents) continue;
    for (const Ext4Extent& extent : *extents) {
      for (std::uint64_t b = 0; b < extent.length && blocks < kMostDirectoryBlocks; ++b, ++blocks) {
        const auto bytes = volume.Block(extent.physical + b);
        if (!bytes) continue;
        for (const Ext4DirectoryEntry& entry : ParseExt4DirectoryBlock(ByteView(bytes->data(), bytes->size()))) {
          if (!entry.deleted) live.insert(entry.inode);
          const auto target = volume.Inode(entry.inode);
          if (!target) continue;
          if (target->directory) {
            if (seen.insert(entry.inode).second) folders.push_back({entry.inode, Joined(folder.path, entry.name)});
            continue;
          }
          if (!target->regular || target->size == 0) continue;
          const auto fileExtents = volume.Extents(*target);
          if (!fileExtents || fileExtents->empty() || fileExtents->front().logical != 0) continue;
          OriginalFile file;
          file.name = entry.name;
          file.folder = folder.path;
          file.modified = UtcText(target->modified);
          file.firstSector = region.SectorOfCluster(fileExtents->front().physical);
          file.size = target->size;
          file.deleted = entry.deleted || target->links == 0 || target->deleted;
          file.runs = volume.Runs(*fileExtents, target->size);
          file.volumeStart = region.firstSector;
          named.emplace_back(entry.deleted, entry.inode, std::move(file));
        }
      }
    }
  }
  // A removed name whose inode a live name now leads to names another file.
  for (auto& [removed, number, file] : named) {
    if (!removed || live.count(number) == 0) files.push_back(std::move(file));
  }
}

}  // namespace vellumark
