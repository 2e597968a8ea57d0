#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "access/sector_source.h"
#include "access/volume_map.h"
#include "rescue/document_record.h"

namespace vellumark {

// A file a volume's own records list, deleted or not: its name and folder,
// times, size, and where its data begins (and, where the record says, every
// sector of it).
struct OriginalFile {
  std::string name;
  std::string folder;    // "A/B" from the volume's root; empty at the root
  std::string created;   // "YYYY-MM-DD hh:mm:ss", empty when unknown
  std::string modified;
  std::int64_t firstSector = -1;  // source sector of its first cluster
  std::uint64_t size = 0;
  bool deleted = false;
  // Every sector of its data in order (NTFS's data runs, a contiguous
  // exFAT file); empty when the record gives only the first cluster.
  std::vector<SectorRun> runs;
  // The runs are not the record's but a guess from it (a deleted FAT
  // file's: the free clusters from its first one on); the checks decide.
  bool runsGuessed = false;
  std::int64_t volumeStart = 0;  // the boot sector of its volume
};

// The files the FAT, exFAT, NTFS and ext4 volumes among regions list: FAT
// and exFAT directories walked from the root (deleted folders too, from
// their first cluster), NTFS's master file table record by record, ext4's
// directories from the root inode, each name to its inode's extents. Bounded by
// counts, not by time: at most kMostFiles files and kMostDirectories
// folders per volume.
// A deleted FAT or exFAT file's clusters past its first are guessed (see
// runsGuessed) only where a document begins at its first sector: one of
// documentStarts.
std::vector<OriginalFile> ReadVolumeRecords(SectorSource& source, const std::vector<VolumeRegion>& regions,
                                            const std::set<std::int64_t>& documentStarts);

inline constexpr std::size_t kMostFiles = 1'000'000;
inline constexpr std::size_t kMostDirectories = 65'536;

// The walkers of each kind, for one volume.
void ReadFatRecords(SectorSource& source, const VolumeRegion& region, const std::set<std::int64_t>& documentStarts,
                    std::vector<OriginalFile>& files);
void ReadExfatRecords(SectorSource& source, const VolumeRegion& region, const std::set<std::int64_t>& documentStarts,
                      std::vector<OriginalFile>& files);
void ReadNtfsRecords(SectorSource& source, const VolumeRegion& region, std::vector<OriginalFile>& files);
void ReadExt4Records(SectorSource& source, const VolumeRegion& region, std::vector<OriginalFile>& files);

// "YYYY-MM-DD hh:mm:ss" of seconds since 1970, in UTC as NTFS and ext4
// keep them; empty for none.
std::string UtcText(std::int64_t seconds);

}  // namespace vellumark
