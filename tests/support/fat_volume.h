#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/fixtures.h"

namespace vellumark::test {

// A FAT volume made by mkfs.vfat and filled with mtools. Holes are files
// deleted again; a file copied in afterwards fills them in order, because
// the volume's hint of the next free cluster is reset (FAT32 keeps it in
// its FSInfo sector; FAT16 has none and mtools starts from the first).
class FatVolume {
 public:
  using Bytes = std::vector<std::uint8_t>;
  // A kept file for the gap after a document's piece: its name on the
  // volume and its bytes.
  using KeptFile = std::function<std::pair<std::string, Bytes>(std::size_t piece)>;

  FatVolume(const TempDir& dir, int fatBits, int clusterSectors);

  void Copy(const std::string& path, const std::string& name);
  void Delete(const std::string& names);  // "::A ::B"
  void Mtools(const std::string& command);
  void Add(const std::string& name, const Bytes& bytes);
  void ResetFreeHint();

  // The document copied in as name, in pieces of the given cluster counts,
  // each piece followed by the file kept(i); the document stays on the
  // volume (delete it to leave it lost).
  void WriteAround(const std::filesystem::path& document, const std::string& name, const std::vector<int>& pieces,
                   const KeptFile& kept);

  // The cluster runs (first, last) a file on the volume holds, in order.
  std::vector<std::pair<std::int64_t, std::int64_t>> ClusterRuns(const std::string& name) const;
  // The first sector of a data cluster, by the boot sector's layout.
  std::int64_t FirstSectorOf(std::int64_t cluster) const;

  bool ok() const { return ok_; }
  const std::string& image() const { return image_; }
  std::size_t clusterBytes() const { return clusterBytes_; }

 private:
  const TempDir& dir_;
  std::string image_;
  std::size_t clusterBytes_;
  int fatBits_;
  bool ok_ = false;
};

// count clusters split into pieces parts, the first of a single cluster
// when there are three or more, the rest as even as may be.
std::vector<int> SplitClusters(int count, int pieces);

}  // namespace vellumark::test
