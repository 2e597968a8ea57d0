#include "support/fat_volume.h"

#include <algorithm>
#include <regex>

namespace vellumark::test {

FatVolume::FatVolume(const TempDir& dir, int fatBits, int clusterSectors)
    : dir_(dir), image_(dir / "volume.img"), clusterBytes_(static_cast<std::size_t>(clusterSectors) * 512),
      fatBits_(fatBits) {
  // FAT32 wants 65,525 clusters at least (mtools misbehaves on fewer);
  // the image is sparse, so its size costs nothing.
  const int kib = fatBits == 32 ? std::max(300'000, 70'000 * clusterSectors / 2) : 120'000;
  ok_ = Run("mkfs.vfat -C -F " + std::to_string(fatBits) + " -s " + std::to_string(clusterSectors) + " " + image_ +
            " " + std::to_string(kib) + " >/dev/null 2>&1") == 0;
}

void FatVolume::Copy(const std::string& path, const std::string& name) {
  Mtools("mcopy -i " + image_ + " '" + path + "' ::" + name);
}

void FatVolume::Delete(const std::string& names) { Mtools("mdel -i " + image_ + " " + names); }

void FatVolume::Mtools(const std::string& command) { ok_ = ok_ && Run("MTOOLS_SKIP_CHECK=1 " + command) == 0; }

void FatVolume::Add(const std::string& name, const Bytes& bytes) {
  WriteFileBytes(dir_ / name, bytes);
  Copy(dir_ / name, name);
}

void FatVolume::ResetFreeHint() {
  if (fatBits_ != 32) return;
  ok_ = ok_ && Run("printf '\\377\\377\\377\\377' | dd of=" + image_ + " bs=1 seek=1004 conv=notrunc status=none") == 0;
}

void FatVolume::WriteAround(const std::filesystem::path& document, const std::string& name,
                            const std::vector<int>& pieces, const KeptFile& kept) {
  std::string holes;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::string hole = "H" + std::to_string(i);
    Add(hole, Bytes(static_cast<std::size_t>(pieces[i]) * clusterBytes_, 0));
    holes += " ::" + hole;
    const auto [keptName, keptBytes] = kept(i);
    Add(keptName, keptBytes);
  }
  Delete(holes);
  ResetFreeHint();
  Copy(document.string(), name);
}

std::vector<std::pair<std::int64_t, std::int64_t>> FatVolume::ClusterRuns(const std::string& name) const {
  // mshowfat prints the chain as "::/NAME <3-5> <9> <12-40>".
  const std::string chain = RunOutput("MTOOLS_SKIP_CHECK=1 mshowfat -i " + image_ + " ::" + name + " 2>/dev/null");
  static const std::regex kRun("<([0-9]+)(-([0-9]+))?>");
  std::vector<std::pair<std::int64_t, std::int64_t>> runs;
  for (auto it = std::sregex_iterator(chain.begin(), chain.end(), kRun); it != std::sregex_iterator(); ++it) {
    const std::int64_t first = std::stoll((*it)[1]);
    runs.emplace_back(first, (*it)[3].matched ? std::stoll((*it)[3]) : first);
  }
  return runs;
}

std::int64_t FatVolume::FirstSectorOf(std::int64_t cluster) const {
  const Bytes boot = ReadFileBytes(image_, 512);
  if (boot.size() < 512) return -1;
  const auto le = [&boot](std::size_t at, int n) {
    std::int64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | boot[at + static_cast<std::size_t>(i)];
    return v;
  };
  const std::int64_t fatSectors = le(22, 2) != 0 ? le(22, 2) : le(36, 4);
  const std::int64_t rootSectors = (le(17, 2) * 32 + 511) / 512;
  const std::int64_t dataStart = le(14, 2) + le(16, 1) * fatSectors + rootSectors;
  return dataStart + (cluster - 2) * le(13, 1);
}

std::vector<int> SplitClusters(int count, int pieces) {
  std::vector<int> parts;
  if (pieces >= 3) parts.push_back(1), --count, --pieces;
  for (int i = 0; i < pieces; ++i) parts.push_back(count / pieces + (i < count % pieces ? 1 : 0));
  return parts;
}

}  // namespace vellumark::test
