#include "rescue/carvers/reassembly_placement.h"

#include <algorithm>

namespace vellumark::reassembly {
namespace {

// Every gap costs a little more, so that fewer, longer gaps win.
constexpr std::int64_t kGapCost = 1;
// Where no placement holds together, the text is read from one in which
// clusters may fail their checks (lost: overwritten, or never written), at
// a cost no run of skipped clusters a gap can span comes near.
constexpr std::int64_t kLostCost = 100'000;
// Or at a cost below that of skipping a cluster that looks like the
// document's: the placement then takes a cluster that fails its checks as
// lost where it lies rather than shift the clusters around it.
constexpr std::int64_t kCheapLostCost = 4;

struct Prices {
  bool lateGaps = false;    // ties go to the later gap
  bool allowLost = false;   // clusters that fail their checks may be placed
  bool looksAlike = false;  // using a cluster costs nothing, whatever it looks like
  bool cheapLoss = false;   // a lost cluster costs little, and nothing to use
  bool dearGaps = false;    // skipping any cluster costs what skipping the document's would
};

Prices PricesOf(Placing placing) {
  switch (placing) {
    case Placing::Whole: return {};
    case Placing::WholeLateGaps: return {.lateGaps = true};
    case Placing::Loose: return {.allowLost = true};
    case Placing::LooseLateGaps: return {.lateGaps = true, .allowLost = true};
    case Placing::LooseAlike: return {.allowLost = true, .looksAlike = true};
    case Placing::LooseCheapLoss: return {.allowLost = true, .cheapLoss = true};
    case Placing::LooseDearGaps: return {.allowLost = true, .cheapLoss = true, .dearGaps = true};
  }
  return {};
}

}  // namespace

// best[g] is the cost of the file's clusters so far with g source clusters
// skipped before the current one: what the clusters used cost to use and
// the ones skipped to skip.
std::optional<Placed> Place(const PlacementTable& table, Placing placing, PlacementWork& work) {
  const Prices prices = PricesOf(placing);
  const std::size_t units = table.units;
  const std::size_t width = table.widest + 1;
  if (units == 0 || width > std::size_t{std::numeric_limits<std::uint16_t>::max()} + 1) return std::nullopt;
  // skipped[k]: the cost of skipping source clusters 0..k-1, as far as asked.
  std::vector<std::int64_t> skipped{0};
  const auto skipCost = [&](std::size_t k) {
    if (prices.dearGaps) return static_cast<std::int64_t>(k) * kPlain.skip;
    while (skipped.size() <= k) skipped.push_back(skipped.back() + table.costs(skipped.size() - 1).skip);
    return skipped[k];
  };
  std::vector<std::int64_t> best(width, kNever), next(width);
  std::vector<std::uint16_t> from(units * width, 0);
  if (work.evaluated + width > work.limit) {
    work.exhausted = true;
    return std::nullopt;
  }
  ++work.evaluated;
  if (table.fit(0, 0) != Fit::Checked) return std::nullopt;
  best[0] = 0;
  for (std::size_t unit = 1; unit < units; ++unit) {
    if (work.evaluated + width > work.limit) {
      work.exhausted = true;
      return std::nullopt;
    }
    std::fill(next.begin(), next.end(), kNever);
    std::int64_t open = kNever;  // cheapest best[g'] - skipCost(unit + g') over g' < g
    std::size_t openFrom = 0;
    for (std::size_t g = 0; g < width; ++g) {
      if (g > 0 && best[g - 1] < kNever) {
        const std::int64_t value = best[g - 1] - skipCost(unit + g - 1);
        if (prices.lateGaps ? value <= open : value < open) open = value, openFrom = g - 1;
      }
      if (best[g] >= kNever && open >= kNever) continue;
      ++work.evaluated;
      const Fit fit = table.fit(unit, unit + g);
      if (fit == Fit::None || (fit == Fit::Lost && !prices.allowLost)) continue;
      const std::int64_t stay = best[g];
      const std::int64_t jump = open < kNever ? open + skipCost(unit + g) + kGapCost : kNever;
      // Equal costs mean the gap could lie here or earlier: the tie goes
      // to the earlier gap, or to this one.
      const bool takeJump = prices.lateGaps ? jump <= stay : jump < stay;
      const bool free = prices.looksAlike || (fit == Fit::Lost && prices.cheapLoss);
      const std::int64_t use = free ? 0 : table.costs(unit + g).use;
      const std::int64_t loss = fit != Fit::Lost ? 0 : prices.cheapLoss ? kCheapLostCost : kLostCost;
      next[g] = (takeJump ? jump : stay) + use + loss;
      from[unit * width + g] = static_cast<std::uint16_t>(takeJump ? openFrom : g);
    }
    best.swap(next);
  }
  const auto end = std::min_element(best.begin(), best.end());
  if (*end >= kNever) return std::nullopt;
  Placed placed{Placement(units), *end};
  std::size_t g = static_cast<std::size_t>(end - best.begin());
  for (std::size_t unit = units; unit-- > 0;) {
    placed.placement[unit] = unit + g;
    if (unit > 0) g = from[unit * width + g];
  }
  return placed;
}

bool SkipsOnlyForeign(const Placement& placement, const std::function<bool(std::size_t i)>& foreign) {
  for (std::size_t unit = 1; unit < placement.size(); ++unit) {
    for (std::size_t i = placement[unit - 1] + 1; i < placement[unit]; ++i) {
      if (!foreign(i)) return false;
    }
  }
  return true;
}

}  // namespace vellumark::reassembly
