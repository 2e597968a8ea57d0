// The files FAT and exFAT directories list, walked from the root.
#include <deque>
#include <set>

#include "formats/fat/exfat_directory.h"
#include "formats/fat/fat_directory.h"
#include "rescue/volume_records.h"

namespace vellumark {

namespace {

// Clusters read of one folder: a folder of 65,536 entries at 512-byte
// clusters.
constexpr std::size_t kMostDirectoryClusters = 4096;

// Reads FAT entries a sector at a time, keeping the last sector read.
class FatTable {
 public:
  FatTable(SectorSource& source, std::int64_t firstSector, std::uint32_t sectorBytes, int bits)
      : source_(source), first_(firstSector), sectorBytes_(sectorBytes), bits_(bits) {}

  // The next cluster of a chain; none at its end, at a free or bad cluster,
  // or where the FAT cannot be read.
  std::optional<std::uint32_t> Next(std::uint32_t cluster) {
    // FAT32's entries are four bytes wide, though only 28 bits of them count.
    const std::uint64_t at = bits_ == 12 ? cluster + cluster / 2 : std::uint64_t{cluster} * (bits_ == 16 ? 2 : 4);
    const auto low = Byte(at);
    const auto high = Byte(at + 1);
    if (!low || !high) return std::nullopt;
    std::uint32_t value = *low | static_cast<std::uint32_t>(*high) << 8;
    if (bits_ == 12) {
      value = (cluster & 1) != 0 ? value >> 4 : value & 0x0FFF;
      if (value < 2 || value >= 0xFF7) return std::nullopt;
    } else if (bits_ == 16) {
      if (value < 2 || value >= 0xFFF7) return std::nullopt;
    } else {
      const auto b2 = Byte(at + 2);
      const auto b3 = Byte(at + 3);
      if (!b2 || !b3) return std::nullopt;
      value |= static_cast<std::uint32_t>(*b2) << 16 | static_cast<std::uint32_t>(*b3) << 24;
      if (bits_ == 28) value &= 0x0FFFFFFF;  // FAT32 keeps four bits to itself
      if (value < 2 || value >= (bits_ == 28 ? 0x0FFFFFF7u : 0xFFFFFFF7u)) return std::nullopt;
    }
    return value;
  }

 private:
  std::optional<std::uint8_t> Byte(std::uint64_t at) {
    const std::int64_t sector = first_ + static_cast<std::int64_t>(at / sectorBytes_);
    if (sector != loaded_) {
      auto bytes = ReadSourceBytes(source_, sector, sectorBytes_);
      if (!bytes) return std::nullopt;
      sector_ = std::move(*bytes);
      loaded_ = sector;
    }
    return sector_[at % sectorBytes_];
  }

  SectorSource& source_;
  std::int64_t first_;
  std::uint32_t sectorBytes_;
  int bits_;  // 12, 16, 28 (FAT32) or 32 (exFAT)
  std::int64_t loaded_ = -1;
  std::vector<std::uint8_t> sector_;
};

struct Folder {
  std::uint32_t cluster = 0;  // 0: FAT12/16's fixed root
  std::string path;
  bool followChain = true;  // a live folder's clusters follow its FAT chain
  std::uint64_t contiguousBytes = 0;  // an exFAT folder without a chain
};

std::string Joined(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

// The bytes of a folder: its clusters in chain order, or, for a deleted
// one (whose chain is gone), its first cluster only.
std::vector<std::uint8_t> FolderBytes(SectorSource& source, const VolumeRegion& region, FatTable& fat,
                                      const Folder& folder, std::set<std::uint32_t>& seen) {
  const std::uint64_t clusterBytes = std::uint64_t{region.sectorsPerCluster} * source.ScanGeometry().BytesPerSector;
  std::vector<std::uint8_t> bytes;
  if (folder.contiguousBytes > 0) {
    const std::uint64_t count = std::min<std::uint64_t>(folder.contiguousBytes, kMostDirectoryClusters * clusterBytes);
    if (auto read = ReadSourceBytes(source, region.SectorOfCluster(folder.cluster), count)) bytes = std::move(*read);
    return bytes;
  }
  std::optional<std::uint32_t> cluster = folder.cluster;
  for (std::size_t k = 0; cluster && k < kMostDirectoryClusters && seen.insert(*cluster).second; ++k) {
    const auto read = ReadSourceBytes(source, region.SectorOfCluster(*cluster), clusterBytes);
    if (!read) break;
    bytes.insert(bytes.end(), read->begin(), read->end());
    cluster = folder.followChain ? fat.Next(*cluster) : std::nullopt;
  }
  return bytes;
}

std::string TimeText(const std::optional<FatTimestamp>& time) { return time ? FatTimestampText(*time) : std::string(); }

// What a directory entry (FAT's or exFAT's) says of a file in folder.
template <typename Entry>
OriginalFile FileOf(const Entry& entry, const std::string& folder, const VolumeRegion& region) {
  OriginalFile file;
  file.name = entry.name;
  file.folder = folder;
  file.created = TimeText(entry.created);
  file.modified = TimeText(entry.modified);
  file.firstSector = region.SectorOfCluster(entry.firstCluster);
  file.size = entry.size;
  file.deleted = entry.deleted;
  file.volumeStart = region.firstSector;
  return file;
}

}  // namespace

void ReadFatRecords(SectorSource& source, const VolumeRegion& region, std::vector<OriginalFile>& files) {
  const auto boot = ReadSourceBytes(source, region.firstSector, 512);
  if (!boot) return;
  const auto facts = ParseFatBootSector(ByteView(boot->data(), boot->size()));
  if (!facts) return;
  const std::int64_t sectorBytes = source.ScanGeometry().BytesPerSector;
  const auto toSource = [&](std::uint64_t fsSector) {
    return region.firstSector + static_cast<std::int64_t>(fsSector * facts->bytesPerSector / sectorBytes);
  };
  FatTable fat(source, toSource(facts->firstFatSector), static_cast<std::uint32_t>(sectorBytes),
               facts->fatBits == 32 ? 28 : facts->fatBits);
  std::set<std::uint32_t> seen;
  std::deque<Folder> folders;
  folders.push_back({facts->fatBits == 32 ? facts->rootCluster : 0, "", true, 0});
  std::size_t walked = 0;
  while (!folders.empty() && walked++ < kMostDirectories && files.size() < kMostFiles) {
    const Folder folder = folders.front();
    folders.pop_front();
    std::vector<std::uint8_t> bytes;
    if (folder.cluster == 0) {
      auto root = ReadSourceBytes(source, toSource(facts->rootSector), std::uint64_t{facts->rootEntries} * 32);
      if (root) bytes = std::move(*root);
    } else {
      bytes = FolderBytes(source, region, fat, folder, seen);
    }
    for (const FatDirectoryEntry& entry : ParseFatDirectory(ByteView(bytes.data(), bytes.size()))) {
      if (entry.firstCluster < 2 || entry.firstCluster >= facts->clusterCount + 2) continue;
      if (entry.directory) {
        if (seen.count(entry.firstCluster) == 0) folders.push_back({entry.firstCluster, Joined(folder.path, entry.name), !entry.deleted, 0});
        continue;
      }
      OriginalFile file = FileOf(entry, folder.path, region);
      files.push_back(std::move(file));
    }
  }
}

void ReadExfatRecords(SectorSource& source, const VolumeRegion& region, std::vector<OriginalFile>& files) {
  const auto boot = ReadSourceBytes(source, region.firstSector, 512);
  if (!boot) return;
  const auto facts = ParseExfatBootSector(ByteView(boot->data(), boot->size()));
  if (!facts) return;
  const std::int64_t sectorBytes = source.ScanGeometry().BytesPerSector;
  const std::uint64_t clusterBytes = std::uint64_t{facts->sectorsPerCluster} * facts->bytesPerSector;
  FatTable fat(source, region.firstSector + static_cast<std::int64_t>(facts->fatSector * facts->bytesPerSector / sectorBytes),
               static_cast<std::uint32_t>(sectorBytes), 32);
  std::set<std::uint32_t> seen;
  std::deque<Folder> folders;
  folders.push_back({facts->rootCluster, "", true, 0});
  std::size_t walked = 0;
  while (!folders.empty() && walked++ < kMostDirectories && files.size() < kMostFiles) {
    const Folder folder = folders.front();
    folders.pop_front();
    const std::vector<std::uint8_t> bytes = FolderBytes(source, region, fat, folder, seen);
    for (const ExfatFileEntry& entry : ParseExfatDirectory(ByteView(bytes.data(), bytes.size()))) {
      if (entry.firstCluster < 2 || entry.firstCluster >= std::uint64_t{facts->clusterCount} + 2) continue;
      if (entry.directory) {
        if (seen.count(entry.firstCluster) == 0) {
          folders.push_back({entry.firstCluster, Joined(folder.path, entry.name), !entry.deleted && !entry.contiguous,
                             entry.contiguous ? entry.size : 0});
        }
        continue;
      }
      OriginalFile file = FileOf(entry, folder.path, region);
      // Without a chain its clusters follow one another: every sector is known.
      if (entry.contiguous && entry.size > 0) {
        const std::int64_t sectors = static_cast<std::int64_t>((entry.size + clusterBytes - 1) / clusterBytes * clusterBytes /
                                                               static_cast<std::uint64_t>(sectorBytes));
        file.runs.push_back({file.firstSector, sectors});
      }
      files.push_back(std::move(file));
    }
  }
}

}  // namespace vellumark
