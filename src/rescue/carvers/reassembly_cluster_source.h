#pragma once

// The source clusters a reassembly may take a compound file's clusters
// from: the unclaimed sectors of each cluster from the file's header on,
// read as the search reaches them, with what each looks like.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "rescue/carvers/reassembly_checks.h"
#include "rescue/carvers/reassembly_placement.h"
#include "rescue/rescue_run.h"

namespace vellumark::reassembly {

// A cluster of the source after the header: its unclaimed sectors and their bytes.
struct Cluster {
  std::vector<std::int64_t> sectors;
  std::vector<std::uint8_t> bytes;
  bool readable = true;
  Costs costs = kPlain;
};

// Line-ended text (text files, HTML, source code, logs, CSV), the start of
// a file a carver knows, or bytes as random as compressed data. A file's
// last cluster is filled out with zeros (or whatever was there), so only
// what comes before the zeros at its end is judged.
Costs CostsOf(const std::vector<std::uint8_t>& bytes);

class ClusterSource {
 public:
  // The clusters from the one holding the sector at hitOffset, at most
  // mostClusters of them. Needs 512-byte source sectors.
  ClusterSource(RescueRun& run, std::int64_t hitOffset, std::size_t mostClusters);

  // Whether the first count clusters exist, reading those not read yet.
  // Clusters wholly another file's are passed over.
  bool Ensure(std::size_t count);
  std::size_t Read() const { return clusters_.size(); }
  const Cluster& operator[](std::size_t i) const { return clusters_[i]; }
  std::int64_t ClusterSectors() const { return spc_; }

  // The text classification of sector k of cluster i, made once.
  const SectorText& TextOf(std::size_t i, std::size_t k);

 private:
  RescueRun& run_;
  const std::int64_t spc_;
  const std::int64_t phase_;
  const std::int64_t first_;
  std::int64_t cursor_;
  const std::int64_t last_;
  const std::size_t mostClusters_;
  std::vector<Cluster> clusters_;
  std::vector<std::vector<std::unique_ptr<SectorText>>> texts_;
};

}  // namespace vellumark::reassembly
