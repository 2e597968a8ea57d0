#include "rescue/carvers/reassembly_cluster_source.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "rescue/sector_classifier.h"

namespace vellumark::reassembly {

Costs CostsOf(const std::vector<std::uint8_t>& bytes) {
  if (ClassifySector(bytes.data(), bytes.size()) != code::kNone) return kForeign;
  std::size_t size = bytes.size();
  while (size > 0 && bytes[size - 1] == 0) --size;
  if (size == 0 && !bytes.empty()) return kBlank;
  if (size < 64) return kPlain;
  std::array<std::size_t, 256> counts{};
  for (std::size_t i = 0; i < size; ++i) ++counts[bytes[i]];
  std::size_t printable = counts['\t'] + counts['\r'] + counts['\n'];
  for (int c = 0x20; c < 0x7F; ++c) printable += counts[static_cast<std::size_t>(c)];
  if (counts['\n'] > 0 && printable * 100 >= size * 97) return kForeign;
  double entropy = 0;
  for (const std::size_t count : counts) {
    if (count == 0) continue;
    const double p = static_cast<double>(count) / static_cast<double>(size);
    entropy -= p * std::log2(p);
  }
  return entropy >= 7.2 ? kRandom : kPlain;
}

ClusterSource::ClusterSource(RescueRun& run, std::int64_t hitOffset, std::size_t mostClusters)
    : run_(run),
      spc_(std::max<std::int64_t>(run.spc, 1)),
      phase_(std::max<std::int64_t>(run.chosenPhase, 0) % std::max<std::int64_t>(run.spc, 1)),
      first_(hitOffset / static_cast<std::int64_t>(kSector)),
      cursor_(first_),
      last_(run.LastSourceSector()),
      mostClusters_(mostClusters) {}

bool ClusterSource::Ensure(std::size_t count) {
  if (count > mostClusters_) return false;
  while (clusters_.size() < count) {
    if (cursor_ > last_) return false;
    const std::int64_t end = cursor_ < phase_ ? phase_ : ((cursor_ - phase_) / spc_ + 1) * spc_ + phase_;
    Cluster cluster;
    for (std::int64_t s = cursor_; s < end && s <= last_; ++s) {
      if (!run_.claims.IsSectorClaimed(s)) cluster.sectors.push_back(s);
    }
    cursor_ = end;
    if (cluster.sectors.empty()) continue;  // wholly another file's
    cluster.bytes.resize(cluster.sectors.size() * kSector);
    for (std::size_t i = 0; i < cluster.sectors.size(); ++i) {
      // Sectors of one cluster are read together when none between is claimed.
      std::size_t n = 1;
      while (i + n < cluster.sectors.size() && cluster.sectors[i + n] == cluster.sectors[i] + static_cast<std::int64_t>(n)) ++n;
      if (run_.source.ReadSectors(cluster.bytes.data() + i * kSector, static_cast<std::int32_t>(n * kSector),
                                  cluster.sectors[i] * static_cast<std::int64_t>(kSector)) > 0)
        cluster.readable = false;
      i += n - 1;
    }
    // The header's cluster is never skipped.
    cluster.costs = clusters_.empty() ? Costs{0, kNever} : CostsOf(cluster.bytes);
    texts_.emplace_back(cluster.sectors.size());
    clusters_.push_back(std::move(cluster));
  }
  return true;
}

const SectorText& ClusterSource::TextOf(std::size_t i, std::size_t k) {
  auto& text = texts_[i][k];
  if (!text) text = std::make_unique<SectorText>(ByteView(clusters_[i].bytes.data() + k * kSector, kSector));
  return *text;
}

}  // namespace vellumark::reassembly
