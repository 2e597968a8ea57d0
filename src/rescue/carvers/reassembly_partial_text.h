#pragma once

// The text of a Word document that no placement brings back whole, read
// from the clusters on which several loose placements agree.
#include <optional>
#include <vector>

#include "rescue/carvers/compound_reassembly.h"
#include "rescue/carvers/reassembly_cluster_source.h"
#include "rescue/carvers/reassembly_derivation.h"
#include "rescue/carvers/reassembly_placement.h"

namespace vellumark::reassembly {

// A placement in which clusters may be lost, the image it gives and, per
// cluster of the file, whether it checked: it passed every check of its
// sectors, and if it looks foreign or random, some check vouched for it.
struct Loose {
  Placement placement;
  Bytes image;
  std::vector<bool> checked;
};

// The five loose placements the text is read by. Those that found no
// placement, or one of another length, are not heard.
struct LoosePlacements {
  std::optional<Loose> alike;  // LooseAlike
  std::optional<Loose> cheap;  // LooseCheapLoss
  std::optional<Loose> dear;   // LooseDearGaps
  std::optional<Loose> early;  // Loose
  std::optional<Loose> late;   // LooseLateGaps
};

// The text of the clusters that checked in every placement heard and lie
// at the same place in all, read by the streams' places as derivation,
// made from the late placement's image, has them; nothing when the FAT,
// the directory, the FIB or the piece table is not among those clusters.
std::optional<PartialText> PartialTextOf(const LoosePlacements& placed, const Derivation& derivation,
                                         const ClusterSource& source);

}  // namespace vellumark::reassembly
