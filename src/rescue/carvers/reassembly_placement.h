#pragma once

// The placement of a file's clusters among source clusters: a shortest
// path over (cluster of the file, source clusters skipped so far), priced
// by what each source cluster looks like and told by a fit test which
// source cluster may stand as which of the file's.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

namespace vellumark::reassembly {

// What using or skipping a source cluster costs, in tenths. A cluster that
// looks foreign is dear to use and cheap to skip, one that looks like any
// other part of a document the other way round, and random bytes
// (compressed data, a picture's, or the document's own) rather dear to use:
// a document's own such data lies between anchors that force its use.
struct Costs {
  std::int64_t use;
  std::int64_t skip;
};
constexpr Costs kForeign{20, 1};
constexpr Costs kRandom{15, 2};
constexpr Costs kPlain{0, 10};
// A cluster of zeros only: what a file system leaves in clusters it never
// wrote, or a file of zeros, or a document's own. Where a search takes
// zeros for foreign data, they are priced as foreign data: a document's own
// clusters of zeros then lie between anchors that force their use, and
// where they do not, two runs of zeros in each other's place give the same
// bytes. (A point below foreign data's price to use, so that the two are
// told apart.)
constexpr Costs kBlank{19, 1};
inline bool operator==(const Costs& a, const Costs& b) { return a.use == b.use && a.skip == b.skip; }
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max() / 4;

// Whether a source cluster can stand as a given cluster of the file: not
// at all, only as a lost one (it fails a check that does not concern the
// file's bookkeeping), or with every check passed.
enum class Fit : std::uint8_t { None, Lost, Checked };

// The ways of placing. The two whole placements break ties between equal
// costs with gaps as early or as late as possible; a file is kept only
// where both agree. The loose ones let clusters be lost, for the text of
// a file no whole placement fits: at a cost above any run of skipped
// clusters (Loose, LooseLateGaps), with every source cluster priced alike
// (LooseAlike), cheaply (LooseCheapLoss), or cheaply where every skipped
// cluster costs what skipping the document's own would (LooseDearGaps).
enum class Placing : std::uint8_t { Whole, WholeLateGaps, Loose, LooseLateGaps, LooseAlike, LooseCheapLoss, LooseDearGaps };

using Placement = std::vector<std::size_t>;  // the source cluster of each cluster of the file

struct Placed {
  Placement placement;
  std::int64_t cost = 0;
};

// The work of placing, counted in placements evaluated (fit tests of one
// source cluster as one of the file's clusters). Placing stops, with no
// placement, before a row of the table would take it past the limit.
struct PlacementWork {
  std::uint64_t evaluated = 0;
  std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
  bool exhausted = false;
};

struct PlacementTable {
  std::size_t units = 0;   // clusters of the file; source cluster 0 is its first
  std::size_t widest = 0;  // the most source clusters skipped in all
  // Whether source cluster i may stand as the file's cluster unit. Asked
  // in order of i for each unit; fit(unit, i) != None means source
  // clusters 0..i exist.
  std::function<Fit(std::size_t unit, std::size_t i)> fit;
  // What source cluster i costs, asked only of clusters that exist.
  std::function<Costs(std::size_t i)> costs;
};

// The cheapest placement of the table's units clusters under the placing's
// prices, or nothing when none fits or the work ran out. Evaluates at most
// units x (widest + 1) placements.
std::optional<Placed> Place(const PlacementTable& table, Placing placing, PlacementWork& work);

// Whether every source cluster the placement skips between the file's
// first cluster and its last is one that shows it is not the file's. A
// cluster of the file that fails a check where it lies (its text breaking
// the rules of Word's characters, a sector that cannot be read) may be
// skipped for the clusters after it to shift into places where they pass
// theirs, and no check tells such a shifted file from the file itself; only
// what the skipped cluster looks like can. A file shifted past a cluster
// that may be its own is not whole.
bool SkipsOnlyForeign(const Placement& placement, const std::function<bool(std::size_t i)>& foreign);

}  // namespace vellumark::reassembly
