// Reassembly of a compound file whose clusters lie around foreign data.
//
// The file is a run of whole clusters taken in order from the unclaimed
// clusters after its header, some of which (the gaps) belong to files no
// carver recognised: text, HTML, source code, pictures whose first cluster
// is gone. Which ones is decided by the file itself. Its header lists its
// FAT sectors, the FAT gives every chain, the directory names the streams,
// and Word's FIB and piece table say where its text lies and how wide each
// character is. Each of those sectors can be checked on its own bytes, so it
// pins the number of clusters skipped before it; between two pinned clusters
// the skipped ones go where the clusters look least like the document (line
// feeds in text, another file's signature, random bytes).
//
// The placement is a shortest path over (cluster of the file, clusters
// skipped so far); each round derives more checks from the file as the last
// round placed it (the header gives the FAT, the FAT the directory, the
// directory the FIB, the FIB and table stream the text) until they stop
// changing. The search is bounded by counted work, never by time, so that
// the same source gives the same result however busy the machine is.
#include "rescue/carvers/compound_reassembly.h"

#include <algorithm>
#include <map>

#include "common/byte_view.h"
#include "rescue/carvers/reassembly_cluster_source.h"
#include "rescue/carvers/reassembly_derivation.h"
#include "rescue/carvers/reassembly_partial_text.h"
#include "rescue/carvers/reassembly_placement.h"
#include "formats/file_signatures.h"
#include "formats/document_check.h"

namespace vellumark {
namespace {

using namespace reassembly;

// The bounds of the search for one document of U clusters (the FAT's
// length, or before the FAT is read, the reach of its sectors):
// - the source clusters skipped in all, G(U) = kLongestGap (less only where
//   the table of one placing would pass kPlacementCells): most fragmented
//   files are in two pieces with a gap of under a few hundred clusters, and
//   this leaves room for several; the candidates for its clusters are the
//   U + G(U) source clusters after its header, whatever the size of the
//   disk around them;
// - each placing evaluates at most U x (G(U) + 1) placements, and kRounds
//   rounds of each of the seven placings are made at most;
// - the work, counted in placements evaluated over the whole document,
//   stops at kPlacementsPerCluster x U (seven placings of kRounds rounds
//   over the widest table: the search's own bound) and never passes
//   kWorkCap, which only a document of over about 1,100 clusters can reach.
//   Where it stops, the document gives nothing: a search cut short is no
//   rescue. A cluster's fit against a unit's checks is tested once, so the
//   cost of a placement evaluated is mostly a lookup.
constexpr std::size_t kLongestGap = 1'024;
constexpr std::size_t kPlacementCells = 16'000'000;  // the table of one placing
constexpr int kRounds = 8;
constexpr std::uint64_t kPlacementsPerCluster = 7 * kRounds * (kLongestGap + 1);
constexpr std::uint64_t kWorkCap = 64'000'000;

std::size_t GapFor(std::size_t units) {
  return std::min(kLongestGap, kPlacementCells / std::max<std::size_t>(units, 1));
}

constexpr std::uint32_t kNoChecks = 0xFFFFFFFF;

class Reassembler {
 public:
  Reassembler(RescueRun& run, std::int64_t hitOffset)
      : source_(run, hitOffset,
                static_cast<std::size_t>(kHighestSector / std::max<std::int64_t>(run.spc, 1)) + 2 + kLongestGap),
        derivation_({1, static_cast<std::size_t>(source_.ClusterSectors())}) {}

  // The whole file, where a placement checks out (see Whole). Where the
  // two ways of breaking ties differ, the checks cannot tell which clusters
  // are the document's (two documents interleaved look like this), and a
  // guess is not a rescue. Failing that, the text of the clusters that check.
  ReassemblyOutcome Run() {
    ReassemblyOutcome outcome = Search();
    outcome.placementsEvaluated = work_.evaluated + zerosWork_;
    return outcome;
  }

 private:
  ReassemblyOutcome Search() {
    if (!source_.Ensure(1) || !source_[0].readable || source_[0].bytes.size() < kSector) return {};
    const ByteView header(source_[0].bytes.data(), source_[0].bytes.size());
    if (!header.Equals(0, signature::kCompoundDocument) || header.Le32(28) != 0x0009FFFEu) return {};
    derivation_ = Derivation({source_[0].sectors.size(), static_cast<std::size_t>(source_.ClusterSectors())});
    if (auto whole = Whole()) return {std::move(whole), std::nullopt};
    if (work_.exhausted) return {};
    // Clusters of zeros between the pieces: a file system's never written
    // clusters, or a file of zeros. Taken for the document's own first (a
    // document holds such clusters, and plain foreign data may lie beside
    // them); failing that, for foreign data, with a budget of their own.
    const PlacementWork before = work_;
    work_ = PlacementWork{.evaluated = 0, .limit = 0, .exhausted = false};
    zerosForeign_ = true;
    auto whole = Whole();
    zerosForeign_ = false;
    zerosWork_ = work_.evaluated;
    work_ = before;
    if (whole) return {std::move(whole), std::nullopt};
    auto partial = Partial();
    if (work_.exhausted) return {};
    return {std::nullopt, std::move(partial)};
  }

  // The placement that checks out, when the two ways of breaking ties
  // (gaps as early as possible, or as late) agree on the file it gives:
  // placements that differ only in which of two clusters of the same bytes
  // they take (runs of zeros, most often) give the same file.
  std::optional<Reassembly> Whole() {
    if (const auto early = Solve(Placing::Whole)) {
      const auto late = Solve(Placing::WholeLateGaps);
      if (late && late->second == early->second) return Result(early->first, early->second);
    }
    return std::nullopt;
  }

  // What source cluster i costs: zeros are plain unless taken for foreign data.
  Costs CostsAt(std::size_t i) const {
    const Costs costs = source_[i].costs;
    return !zerosForeign_ && costs == kBlank ? kPlain : costs;
  }

  const ClusterLayout& Layout() const { return derivation_.Layout(); }

  // Names each unit's checks by an id shared by every unit with the same
  // checks, so that a source cluster is tested against them once however
  // many rounds, placings and units ask.
  void NameChecks() {
    unitKeys_.clear();
    const auto& checks = derivation_.SectorChecks();
    for (auto it = checks.begin(); it != checks.end();) {
      const std::size_t unit = Layout().UnitOf(it->first), base = Layout().FirstSectorOf(unit);
      std::vector<std::uint32_t> key;
      for (; it != checks.end() && Layout().UnitOf(it->first) == unit; ++it) {
        key.push_back(static_cast<std::uint32_t>(it->first - base));
        for (const Check& check : it->second) {
          key.insert(key.end(), {static_cast<std::uint32_t>(check.role), check.first, check.last, check.width, check.limit});
          if (check.role != Role::Fat) continue;
          // A FAT sector's test also asks for the marks of the FAT sectors it lists.
          for (const std::uint32_t s : derivation_.FatSectors()) {
            if (s / 128 == check.first) key.push_back(s % 128);
          }
          key.push_back(kNoChecks);
        }
      }
      if (unitKeys_.size() <= unit) unitKeys_.resize(unit + 1, kNoChecks);
      unitKeys_[unit] = keyIds_.emplace(std::move(key), static_cast<std::uint32_t>(keyIds_.size())).first->second;
    }
    fitsByKey_.resize(keyIds_.size());
  }

  // Whether source cluster i can stand as the file's cluster unit of units:
  // not at all (unreadable, past the window, of the wrong size, or failing
  // a check of the file's bookkeeping), only as a lost cluster (it fails
  // another check), or with every check passed.
  Fit FitOf(std::size_t unit, std::size_t i, std::size_t units) {
    if (!source_.Ensure(i + 1)) return Fit::None;
    const Cluster& cluster = source_[i];
    if (!cluster.readable) return Fit::None;
    const auto spc = static_cast<std::size_t>(source_.ClusterSectors());
    if (unit > 0) {
      const std::size_t size = cluster.sectors.size();
      const bool lastUnit = unit + 1 == units;
      const std::size_t fileSectors = derivation_.FileSectors();
      const std::size_t needed = lastUnit && fileSectors > 0 ? fileSectors - Layout().FirstSectorOf(unit) : spc;
      if (size < needed || (!lastUnit && size != spc)) return Fit::None;
    }
    const std::uint32_t key = unit < unitKeys_.size() ? unitKeys_[unit] : kNoChecks;
    if (key == kNoChecks) return Fit::Checked;
    // Each id's fits span the source clusters asked of it, a unit and its
    // widest gap for checks only one unit has.
    Known& known = fitsByKey_[key];
    if (known.fits.empty()) known.first = i;
    if (i < known.first) {
      known.fits.insert(known.fits.begin(), known.first - i, 0);
      known.first = i;
    }
    if (known.fits.size() <= i - known.first) known.fits.resize(i - known.first + 1, 0);
    std::uint8_t& fit = known.fits[i - known.first];
    if (fit == 0) fit = static_cast<std::uint8_t>(TestChecks(unit, i)) + 1;
    return static_cast<Fit>(fit - 1);
  }

  // The file's bookkeeping cannot be lost: without its FAT, directory or
  // mini FAT no stream can be found, so a cluster that fails their checks
  // does not stand for them at all.
  Fit TestChecks(std::size_t unit, std::size_t i) {
    const Cluster& cluster = source_[i];
    const auto& checks = derivation_.SectorChecks();
    const std::size_t base = Layout().FirstSectorOf(unit);
    Fit fit = Fit::Checked;
    for (auto it = checks.lower_bound(base); it != checks.end() && Layout().UnitOf(it->first) == unit; ++it) {
      const std::size_t k = it->first - base;
      const bool cut = (k + 1) * kSector > cluster.bytes.size();
      const ByteView sector = cut ? ByteView() : ByteView(cluster.bytes.data() + k * kSector, kSector);
      for (const Check& check : it->second) {
        if (!cut && Passes(sector, check, derivation_.FatSectors(), check.role == Role::Text ? &source_.TextOf(i, k) : nullptr))
          continue;
        if (IsBookkeeping(check.role)) return Fit::None;
        fit = Fit::Lost;
      }
    }
    return fit;
  }

  std::optional<Placed> PlaceUnits(std::size_t units, Placing placing) {
    // The budget grows with the largest length the document has been given.
    work_.limit = std::max(work_.limit, std::min<std::uint64_t>(kWorkCap, kPlacementsPerCluster * units));
    const PlacementTable table{units, GapFor(units), [&](std::size_t unit, std::size_t i) { return FitOf(unit, i, units); },
                               [&](std::size_t i) { return CostsAt(i); }};
    return Place(table, placing, work_);
  }

  Bytes Assemble(const Placement& placement) const {
    Bytes image;
    for (const std::size_t i : placement) image.insert(image.end(), source_[i].bytes.begin(), source_[i].bytes.end());
    return image;
  }

  std::size_t Derive(const Bytes& image) {
    const std::size_t units = derivation_.Derive(image);
    NameChecks();
    return units;
  }

  // Rounds of placing and deriving until the checks stop growing: the
  // placement and the image it gives, at least the file's length; none when
  // this placing finds no placement.
  std::optional<std::pair<Placement, Bytes>> Rounds(Placing placing) {
    Bytes image = source_[0].bytes;
    Checks previous;
    std::size_t previousUnits = 0;
    std::optional<Placed> placed;
    for (int round = 0; round < kRounds; ++round) {
      const std::size_t units = Derive(image);
      if (units == 0) return std::nullopt;
      if (placed && derivation_.SectorChecks() == previous && units == previousUnits) break;
      previous = derivation_.SectorChecks(), previousUnits = units;
      placed = PlaceUnits(units, placing);
      if (!placed) return std::nullopt;
      image = Assemble(placed->placement);
    }
    const std::size_t fileSectors = derivation_.FileSectors();
    if (!placed || fileSectors == 0 || image.size() < fileSectors * kSector) return std::nullopt;
    return std::pair{placed->placement, std::move(image)};
  }

  // A placement by which the file holds together.
  std::optional<std::pair<Placement, Bytes>> Solve(Placing placing) {
    auto solved = Rounds(placing);
    if (!solved || !Vouched(solved->first) || !SkipsOnlyForeign(solved->first, [&](std::size_t i) { return LooksForeign(i); }))
      return std::nullopt;
    solved->second.resize(derivation_.FileSectors() * kSector);
    if (CheckDocument(solved->second).verdict != Verdict::Whole) return std::nullopt;
    return solved;
  }

  // Whether the file's cluster unit has a check of its own.
  bool Checked(std::size_t unit) const {
    const auto it = derivation_.SectorChecks().lower_bound(Layout().FirstSectorOf(unit));
    return it != derivation_.SectorChecks().end() && Layout().UnitOf(it->first) == unit;
  }

  // Whether source cluster i shows it is not the document's: it looks
  // foreign (another file's start, lines of text) or random, or another
  // file has claimed part of it. A plain cluster, or one that cannot be
  // read, may be the document's own.
  bool LooksForeign(std::size_t i) const {
    const Cluster& cluster = source_[i];
    if (!cluster.readable) return false;
    return CostsAt(i).use != kPlain.use || cluster.sectors.size() != static_cast<std::size_t>(source_.ClusterSectors());
  }

  // Whether every cluster used that looks foreign or random is one whose
  // bytes some check vouched for. Where nothing checks a cluster, a foreign
  // one would pass as well as the document's own, and a guess is not a
  // rescue. Zeros are the exception: they are dear to use, so a cluster of
  // zeros is used only where the anchors around it leave no other, and any
  // other cluster of zeros in its place gives the same bytes. A cluster of
  // random bytes (a picture's, say) is vouched for by the anchors around it
  // too, where every cluster the placement skips between them is zeros or
  // plainly foreign: then no skipped cluster could have stood in its place,
  // and the anchors fix how many were skipped.
  bool Vouched(const Placement& placement) const {
    // doubtful[i]: source clusters before i that are skipped and could be a document's own.
    std::vector<std::size_t> doubtful(placement.back() + 2, 0);
    for (std::size_t i = 0, unit = 0; i <= placement.back(); ++i) {
      const bool used = unit < placement.size() && placement[unit] == i;
      if (used) ++unit;
      const Costs costs = CostsAt(i);
      doubtful[i + 1] = doubtful[i] + (!used && !(costs == kBlank) && !(costs == kForeign) ? 1 : 0);
    }
    std::size_t anchor = 0;  // the last unit with a check of its own (the header's first)
    for (std::size_t unit = 1; unit < placement.size(); ++unit) {
      if (Checked(unit)) {
        anchor = unit;
        continue;
      }
      const Costs costs = CostsAt(placement[unit]);
      if (costs.use == 0 || costs == kBlank) continue;
      if (!(costs == kRandom)) return false;
      std::size_t next = unit + 1;
      while (next + 1 < placement.size() && !Checked(next)) ++next;
      next = std::min(next, placement.size() - 1);
      if (doubtful[placement[next] + 1] != doubtful[placement[anchor]]) return false;
    }
    return true;
  }

  std::optional<Loose> SolveLoose(Placing placing) {
    auto solved = Rounds(placing);
    if (!solved) return std::nullopt;
    // The checks of the last derivation, which the text is read by.
    if (Derive(solved->second) == 0 || derivation_.FileSectors() == 0) return std::nullopt;
    Loose loose{solved->first, std::move(solved->second), std::vector<bool>(solved->first.size(), false)};
    for (std::size_t unit = 0; unit < loose.placement.size(); ++unit) {
      const std::size_t i = loose.placement[unit];
      if (FitOf(unit, i, loose.placement.size()) != Fit::Checked) continue;
      loose.checked[unit] = CostsAt(i).use == 0 || Checked(unit);
    }
    return loose;
  }

  // The five loose placements, the late one last: its derivation stays,
  // for the streams' places.
  std::optional<PartialText> Partial() {
    LoosePlacements placed;
    placed.alike = SolveLoose(Placing::LooseAlike);
    if (!placed.alike) return std::nullopt;
    placed.cheap = SolveLoose(Placing::LooseCheapLoss);
    placed.dear = SolveLoose(Placing::LooseDearGaps);
    placed.early = SolveLoose(Placing::Loose);
    if (!placed.early) return std::nullopt;
    placed.late = SolveLoose(Placing::LooseLateGaps);
    if (!placed.late) return std::nullopt;
    return PartialTextOf(placed, derivation_, source_);
  }

  Reassembly Result(const Placement& placement, Bytes image) const {
    Reassembly result;
    result.bytes = std::move(image);
    result.directory = derivation_.Directory();
    const std::size_t wanted = result.bytes.size() / kSector;
    for (const std::size_t i : placement) {
      for (const std::int64_t s : source_[i].sectors) {
        (result.sectors.size() < wanted ? result.sectors : result.clusterTail).push_back(s);
      }
    }
    return result;
  }

  ClusterSource source_;
  Derivation derivation_;
  PlacementWork work_{.evaluated = 0, .limit = 0, .exhausted = false};
  bool zerosForeign_ = false;   // clusters of zeros priced as foreign data
  std::uint64_t zerosWork_ = 0;  // the work of the search that took them so
  std::vector<std::uint32_t> unitKeys_;  // per cluster of the file, the id of its checks
  std::map<std::vector<std::uint32_t>, std::uint32_t> keyIds_;
  struct Known {
    std::size_t first = 0;            // the source cluster of fits[0]
    std::vector<std::uint8_t> fits;   // 0 untested, else Fit + 1
  };
  std::vector<Known> fitsByKey_;  // per id of a unit's checks
};

}  // namespace

ReassemblyOutcome ReassembleCompound(RescueRun& run, std::int64_t hitOffset) {
  if (run.BytesPerSector() != kSector) return {};
  return Reassembler(run, hitOffset).Run();
}

}  // namespace vellumark
