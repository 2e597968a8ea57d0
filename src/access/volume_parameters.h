#pragma once

#include <cstdint>

#include "access/sector_source.h"
#include "common/front_end.h"

namespace vellumark {

// Entries of the loss-reason list.
enum LossReason : int { kReasonDeleted = 0, kReasonFormatted = 1, kReasonRepartitioned = 2 };

inline constexpr int kClusterSizeEntries = 7;   // "512" .. "32K"
inline constexpr int kFileSystemEntries = 4;    // "FAT", "FAT32", "NTFS", "OTHER"

// What the three lists of the rescue area show: the selected entry of each
// (-1 for none) and whether the file-system and cluster-size lists accept a
// choice. The window mirrors this state; it holds no logic of its own.
struct ParameterLists {
  int fileSystemEntry = -1;    // ComboBox2
  int clusterSizeEntry = -1;   // ComboBox1
  int reasonEntry = -1;        // ComboBox3
  bool fileSystemEnabled = true;
  bool clusterSizeEnabled = true;
};

// The cluster size and phase the deep scan will use, as set by the boot sector
// at open and afterwards by the user's choices in the three lists. Selecting an
// entry (Select*) never runs a list's handler; the handlers are called
// explicitly, as the window does after a user's click.
class VolumeParameters {
 public:
  explicit VolumeParameters(SectorSource& source) : source_(source) {}

  const ParameterLists& Lists() const { return lists_; }

  // After a successful open: the reason follows whether the boot sector was
  // recognised, and the lists show the geometry found.
  void ShowOpened(bool bootSectorRecognised);

  void SelectFileSystem(int entry) { lists_.fileSystemEntry = entry; }
  void SelectClusterSize(int entry) { lists_.clusterSizeEntry = entry; }
  void SelectReason(int entry) { lists_.reasonEntry = entry; }

  // Selects the cluster-size entry that names a cluster of this many sectors.
  void ShowClusterSize(std::uint32_t sectorsPerCluster);

  // The file-system list's handler: the default cluster size of the chosen
  // type, phase left to the scan.
  void FileSystemDefaults();
  // A cluster size the user chose: the phase is left to the scan's inference
  // and the list's size is taken.
  void ChooseClusterSize();
  // Takes the cluster-size list's entry as the scan's sectors per cluster,
  // keeping the phase; the deep scan does this just before it starts.
  void ApplyClusterSize();
  // Applies the loss-reason list's entry. "Deleted or Disappeared" trusts the
  // boot sector, which needs one to have been recognised (else slot 70 is
  // shown and the reason falls back to "Formatted"). "Formatted" proposes
  // the cluster size a recognised boot sector states, the other reasons
  // the default of the file-system type.
  void ApplyReason(Prompt& prompt);
  // Whether "Deleted or Disappeared" can be chosen: the source opened with a
  // boot sector whose layout is known.
  bool CanTrustBootSector() const;

 private:
  void ShowFileSystemType();

  SectorSource& source_;
  ParameterLists lists_;
};

// Sectors per cluster that the file-system list's entry gives a volume of
// lastSector + 1 sectors; nothing when the table has no row for it.
std::optional<std::uint32_t> DefaultSectorsPerCluster(int fileSystemEntry, std::int64_t lastSector);

}  // namespace vellumark
