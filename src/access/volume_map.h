#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "access/sector_source.h"

namespace vellumark {

enum class VolumeKind : std::uint8_t { Fat, Fat32, Exfat, Ntfs, Ext4 };

// One file system on the source: where it lies and how its clusters are
// laid, in the source's own sectors.
struct VolumeRegion {
  VolumeKind kind = VolumeKind::Fat32;
  std::int64_t firstSector = 0;  // the volume's boot sector
  std::int64_t lastSector = 0;   // inclusive, within the source
  std::uint32_t sectorsPerCluster = 1;
  // The source sector of the first cluster the file system counts (cluster
  // 2 of FAT and exFAT, cluster 0 of NTFS and ext4), and that number.
  std::int64_t clusterBase = 0;
  std::uint32_t firstClusterNumber = 0;
  // Cluster starts are the sectors s with s % sectorsPerCluster == phase.
  std::int32_t phase = 0;

  bool Holds(std::int64_t sector) const { return sector >= firstSector && sector <= lastSector; }
  // The source sector a cluster begins at; -1 before the first one.
  std::int64_t SectorOfCluster(std::uint64_t cluster) const;
};

// The volumes on the source: a file system at its start, or those the
// partition table lists (MBR with its extended chain, or GPT), each where a
// recognised boot sector (FAT, exFAT, NTFS) or ext4 superblock lies. What
// cannot be read or recognised is left out; no partition table and no file
// system at the start gives none. The work is bounded by the tables' sizes
// (at most 128 extended records).
std::vector<VolumeRegion> MapVolumes(SectorSource& source);

// The volume a boot sector at sector describes, when it is one.
std::optional<VolumeRegion> ProbeVolumeAt(SectorSource& source, std::int64_t sector, std::int64_t lastSector);

// "FAT", "FAT32", "exFAT", "NTFS", "ext4".
const char* VolumeKindName(VolumeKind kind);

// Bytes at a source sector, read past the window; none when a sector of
// them cannot be read or lies past the end.
std::optional<std::vector<std::uint8_t>> ReadSourceBytes(SectorSource& source, std::int64_t sector, std::uint64_t count);

// The region that holds the sector, if any.
const VolumeRegion* RegionHolding(const std::vector<VolumeRegion>& regions, std::int64_t sector);

}  // namespace vellumark
