#include "access/volume_parameters.h"

#include <algorithm>
#include <array>

namespace vellumark {
namespace {

struct DefaultRow {
  std::int64_t lastSectorBelow;
  std::uint32_t sectorsPerCluster;
};

constexpr std::array<DefaultRow, 7> kFatDefaults{{
    {65'535, 1}, {131'071, 2}, {262'143, 4}, {524'287, 8},
    {1'048'575, 16}, {2'097'151, 32}, {4'194'303, 64},
}};

// The last limit is 2^26, one more than the pattern of the rows above it.
constexpr std::array<DefaultRow, 6> kFat32Defaults{{
    {131'071, 1}, {262'143, 2}, {524'287, 4},
    {16'777'215, 8}, {33'554'431, 16}, {67'108'864, 32},
}};

template <std::size_t N>
std::optional<std::uint32_t> FirstRowAbove(const std::array<DefaultRow, N>& rows, std::int64_t lastSector) {
  for (const DefaultRow& row : rows) {
    if (row.lastSectorBelow > lastSector) return row.sectorsPerCluster;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::uint32_t> DefaultSectorsPerCluster(int fileSystemEntry, std::int64_t lastSector) {
  switch (fileSystemEntry) {
    case kFileSystemFat: return FirstRowAbove(kFatDefaults, lastSector);
    case kFileSystemFat32: return FirstRowAbove(kFat32Defaults, lastSector);
    case kFileSystemNtfs: return 8;
    case kFileSystemOther: return 1;
    default: return std::nullopt;
  }
}

void VolumeParameters::ShowOpened(bool bootSectorRecognised) {
  if (bootSectorRecognised) {
    lists_.reasonEntry = kReasonDeleted;
    lists_.fileSystemEnabled = false;
    lists_.clusterSizeEnabled = false;
  } else {
    // Repartitioned is the reason chosen for the user: its lists are open
    // to change, as when it is chosen by hand.
    lists_.reasonEntry = kReasonRepartitioned;
    lists_.fileSystemEnabled = true;
    lists_.clusterSizeEnabled = true;
  }
  ShowFileSystemType();
  ShowClusterSize(source_.ScanGeometry().SectorsPerCluster);
}

void VolumeParameters::ShowFileSystemType() {
  const std::uint8_t type = source_.ScanGeometry().FileSystemType;
  lists_.fileSystemEntry = type <= kFileSystemNtfs ? static_cast<int>(type) : static_cast<int>(kFileSystemOther);
}

void VolumeParameters::ShowClusterSize(std::uint32_t sectorsPerCluster) {
  const std::uint64_t units =
      static_cast<std::uint64_t>(sectorsPerCluster) * source_.ScanGeometry().BytesPerSector / 512;
  int entry = kClusterSizeEntries - 1;  // anything unlisted shows as the largest
  for (int k = 0; k < kClusterSizeEntries; ++k) {
    if (units == (1u << k)) entry = k;
  }
  lists_.clusterSizeEntry = entry;
}

void VolumeParameters::FileSystemDefaults() {
  VolumeGeometry& scan = source_.ScanGeometry();
  scan.ClusterPhase = -1;
  if (auto spc = DefaultSectorsPerCluster(lists_.fileSystemEntry, scan.LastSector)) {
    scan.SectorsPerCluster = *spc;
  }
  ShowClusterSize(scan.SectorsPerCluster);
}

void VolumeParameters::ChooseClusterSize() {
  source_.ScanGeometry().ClusterPhase = -1;
  ApplyClusterSize();
}

void VolumeParameters::ApplyClusterSize() {
  VolumeGeometry& scan = source_.ScanGeometry();
  const int k = lists_.clusterSizeEntry;
  if (k < 0 || k >= kClusterSizeEntries) return;
  // Entry k names a cluster of 512 * 2^k bytes. For 512-byte sectors that is
  // 2^k sectors; larger sectors get the same cluster in bytes, never less than
  // one sector, so that the list means what it shows on every disk.
  const std::uint64_t clusterBytes = 512ull << k;
  const std::uint32_t bytesPerSector = std::max<std::uint32_t>(scan.BytesPerSector, 1);
  scan.SectorsPerCluster = static_cast<std::uint32_t>(std::max<std::uint64_t>(clusterBytes / bytesPerSector, 1));
}

bool VolumeParameters::CanTrustBootSector() const {
  return source_.OpenedGeometry().FileSystemType != kFileSystemOther;
}

void VolumeParameters::ApplyReason(Prompt& prompt) {
  if (lists_.reasonEntry == kReasonDeleted) {
    if (!CanTrustBootSector()) {
      prompt.Show({slot::kUnknownFileSystem, slot::kError, {}});
      lists_.reasonEntry = kReasonFormatted;
      ApplyReason(prompt);
      return;
    }
    source_.ScanGeometry() = source_.OpenedGeometry();
    lists_.fileSystemEnabled = false;
    lists_.clusterSizeEnabled = false;
  } else {
    lists_.fileSystemEnabled = true;
    lists_.clusterSizeEnabled = true;
  }
  ShowFileSystemType();
  FileSystemDefaults();
  if (lists_.reasonEntry == kReasonFormatted && CanTrustBootSector()) {
    // A quick format keeps the cluster size, so the one the boot sector
    // states is the likely one; the phase is still left to the scan.
    const std::uint32_t stated = source_.OpenedGeometry().SectorsPerCluster;
    if (stated >= 1) source_.ScanGeometry().SectorsPerCluster = stated;
    ShowClusterSize(source_.ScanGeometry().SectorsPerCluster);
  }
}

}  // namespace vellumark
