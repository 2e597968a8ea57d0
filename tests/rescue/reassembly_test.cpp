// The reassembly's placement on small tables of costs and fits, and the
// whole search on corpus documents lying in pieces around foreign clusters:
// its outcome and its work are the same for the same bytes, and do not grow
// with the disk around the document.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "access/memory_platform_source.h"
#include "access/sector_source.h"
#include "common/front_end.h"
#include "rescue/carvers/compound_reassembly.h"
#include "rescue/carvers/reassembly_checks.h"
#include "rescue/carvers/reassembly_derivation.h"
#include "rescue/carvers/reassembly_placement.h"
#include "formats/word/word_content_check.h"
#include "rescue/rescue_run.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

using namespace reassembly;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

constexpr Costs kHeader{0, kNever};
constexpr Fit N = Fit::None, L = Fit::Lost, C = Fit::Checked;

struct PlacementCase {
  const char* what;
  std::vector<Costs> costs;           // per source cluster; 0 is the header's
  std::vector<std::vector<Fit>> fit;  // fit[unit][i]; missing entries are Checked
  std::size_t widest;
  Placing placing;
  std::optional<Placement> expected;
  std::int64_t cost = 0;
  bool shifted = false;  // the placement skips a cluster that looks like the file's own: never whole
};

TEST(ReassemblyPlacement, EachPlacingPricesClustersAsItsRulesSay) {
  const PlacementCase cases[] = {
      {"a foreign cluster is skipped", {kHeader, kPlain, kForeign, kPlain}, {}, 2, Placing::Whole, Placement{0, 1, 3},
       kForeign.skip + 1},
      {"a check pins the cluster after the gap", {kHeader, kPlain, kPlain, kPlain}, {{}, {C, C, C, C}, {C, C, N, C}}, 1,
       Placing::Whole, Placement{0, 2, 3}, kPlain.skip + 1, true},
      {"equal costs: the gap as late as possible", {kHeader, kPlain, kPlain, kPlain}, {{}, {C, C, C, C}, {C, C, N, C}}, 1,
       Placing::WholeLateGaps, Placement{0, 1, 3}, kPlain.skip + 1, true},
      {"no more skipped than the widest gap", {kHeader, kForeign, kForeign, kPlain}, {}, 1, Placing::Whole,
       Placement{0, 1}, kForeign.use},
      {"within the widest gap, both are skipped", {kHeader, kForeign, kForeign, kPlain}, {}, 2, Placing::Whole,
       Placement{0, 3}, 2 * kForeign.skip + 1},
      {"a lost cluster places nothing whole", {kHeader, kPlain, kPlain}, {{}, {C, C, C}, {C, C, L}}, 0, Placing::Whole,
       std::nullopt},
      {"a lost cluster costs more than any gap", {kHeader, kPlain, kPlain}, {{}, {C, C, C}, {C, C, L}}, 0, Placing::Loose,
       Placement{0, 1, 2}, 100'000},
      {"a lost cluster lost cheaply", {kHeader, kPlain, kPlain}, {{}, {C, C, C}, {C, C, L}}, 0, Placing::LooseCheapLoss,
       Placement{0, 1, 2}, 4},
      {"bookkeeping that fails is never lost", {kHeader, kPlain, kPlain}, {{}, {C, C, C}, {C, C, N}}, 0, Placing::Loose,
       std::nullopt},
      {"alike, a foreign cluster is used", {kHeader, kForeign, kPlain}, {}, 1, Placing::LooseAlike, Placement{0, 1}, 0},
      {"by looks, the same cluster is skipped", {kHeader, kForeign, kPlain}, {}, 1, Placing::Loose, Placement{0, 2},
       kForeign.skip + 1},
      {"a cheap loss beats a gap it would shift", {kHeader, kForeign, kPlain}, {{}, {C, L, C}}, 1,
       Placing::LooseCheapLoss, Placement{0, 2}, kForeign.skip + 1},
      {"where gaps are dear, the loss stays in place", {kHeader, kForeign, kPlain}, {{}, {C, L, C}}, 1,
       Placing::LooseDearGaps, Placement{0, 1}, 4},
      {"the header must check", {kHeader, kPlain}, {{L}}, 1, Placing::Loose, std::nullopt},
      // The file's own cluster fails its text check where it lies (text
      // that breaks Word's rules): the clusters after it shift into places
      // where they pass, past a cluster nothing shows to be foreign.
      {"a cluster failing in place shifts the rest", {kHeader, kForeign, kPlain, kPlain, kPlain},
       {{}, {C, L, L, C, C}}, 2, Placing::Whole, Placement{0, 3, 4}, kForeign.skip + kPlain.skip + 1, true},
      {"past a foreign cluster and a random one, nothing shifts", {kHeader, kPlain, kForeign, kRandom, kPlain},
       {{}, {C, C, C, C, C}, {C, C, L, L, C}}, 2, Placing::Whole, Placement{0, 1, 4}, kForeign.skip + kRandom.skip + 1},
  };
  for (const PlacementCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t units = c.expected ? c.expected->size() : c.fit.size();
    const PlacementTable table{units, c.widest,
                               [&](std::size_t unit, std::size_t i) {
                                 if (i >= c.costs.size()) return Fit::None;
                                 return unit < c.fit.size() && i < c.fit[unit].size() ? c.fit[unit][i] : Fit::Checked;
                               },
                               [&](std::size_t i) { return c.costs.at(i); }};
    PlacementWork work;
    const auto placed = Place(table, c.placing, work);
    ASSERT_EQ(placed.has_value(), c.expected.has_value());
    EXPECT_FALSE(work.exhausted);
    EXPECT_LE(work.evaluated, units * (c.widest + 1));
    if (!placed) continue;
    EXPECT_EQ(placed->placement, *c.expected);
    EXPECT_EQ(placed->cost, c.cost);
    EXPECT_EQ(SkipsOnlyForeign(placed->placement, [&](std::size_t i) { return c.costs.at(i).use != kPlain.use; }), !c.shifted);
  }
}

// Every cell of a table where every cluster fits is one evaluated
// placement; a limit below the table's rows stops before the row that
// would pass it.
TEST(ReassemblyPlacement, WorkIsCountedInPlacementsAndStopsAtItsLimit) {
  const std::vector<Costs> costs(12, kPlain);
  const PlacementTable table{4, 3, [](std::size_t, std::size_t) { return Fit::Checked; },
                             [&](std::size_t i) { return i == 0 ? kHeader : costs.at(i); }};
  PlacementWork work;
  ASSERT_TRUE(Place(table, Placing::Whole, work));
  EXPECT_EQ(work.evaluated, 1u + 3 * 4);
  for (const std::uint64_t limit : {std::uint64_t{0}, std::uint64_t{4}, std::uint64_t{12}}) {
    PlacementWork short_{.evaluated = 0, .limit = limit, .exhausted = false};
    EXPECT_FALSE(Place(table, Placing::Whole, short_));
    EXPECT_TRUE(short_.exhausted);
    EXPECT_LE(short_.evaluated, limit);
  }
}

// The text check, one bit a byte, answers as a pass over the characters
// does: every range of every width, at both parities, on sectors of 8-bit
// text, UTF-16 text, a text file's lines and random bytes, each with
// characters Word never writes here and there.
TEST(ReassemblySectorText, MasksAnswerAsAPassOverTheCharacters) {
  const auto reference = [](const Bytes& sector, std::uint32_t first, std::uint32_t last, std::uint8_t width) {
    const std::span<const std::uint8_t> range(sector.data() + first, last - first);
    if (width == 2 && IsEightBitTextInUtf16(range)) return false;
    for (std::uint32_t at = first; at + width <= last; at += width) {
      const std::uint32_t c = width == 1 ? sector[at] : sector[at] | sector[at + 1] << 8;
      if (!IsWordTextCharacter(c)) return false;
    }
    return true;
  };
  std::mt19937 random(5);
  std::vector<Bytes> sectors;
  const std::string lines = "a line of a text file\n";
  for (int kind = 0; kind < 4; ++kind) {
    Bytes sector(512);
    for (std::size_t k = 0; k < sector.size(); ++k) {
      switch (kind) {
        case 0: sector[k] = static_cast<std::uint8_t>('a' + k % 26); break;
        case 1: sector[k] = k % 2 == 0 ? static_cast<std::uint8_t>('a' + k % 26) : 0; break;
        case 2: sector[k] = static_cast<std::uint8_t>(lines[k % lines.size()]); break;
        default: sector[k] = static_cast<std::uint8_t>(random()); break;
      }
    }
    sectors.push_back(sector);
    for (const std::size_t at : {0u, 63u, 64u, 301u, 510u, 511u}) sector[at] = 0x0A, sector[(at + 1) % 512] = 0;
    sectors.push_back(sector);
  }
  for (std::size_t s = 0; s < sectors.size(); ++s) {
    SCOPED_TRACE("sector " + std::to_string(s));
    const Bytes& sector = sectors[s];
    const SectorText text(ByteView(sector.data(), sector.size()));
    for (std::uint32_t first = 0; first <= 512; first += 1 + first % 7) {
      for (std::uint32_t last = first; last <= 512; last += 1 + last % 5) {
        for (const std::uint8_t width : {1, 2}) {
          ASSERT_EQ(text.Passes(first, last, width), reference(sector, first, last, width))
              << "bytes " << first << " to " << last << ", width " << int{width};
        }
      }
    }
  }
}

// A file of 237 FAT sectors lists 109 of them in its header and the rest
// in two DIFAT sectors, the first linking to the second from its last
// entry: the derivation follows the chain to every FAT sector, and the
// FAT's length gives the file's.
TEST(ReassemblyDerivation, FollowsTheDifatChainToEveryFatSector) {
  constexpr std::uint32_t kFatSectors = 237, kFirstDifat = kFatSectors, kSecondDifat = kFatSectors + 1;
  Bytes image(512 * (kSecondDifat + 2), 0xFF);
  const auto put32 = [&](std::size_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k) image[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
  };
  std::fill(image.begin(), image.begin() + 512, 0);
  put32(44, kFatSectors);
  put32(48, kEndOfChain), put32(60, kEndOfChain);
  put32(68, kFirstDifat);
  for (std::uint32_t i = 0; i < 109; ++i) put32(76 + 4 * i, i);
  for (std::uint32_t i = 109; i < kFatSectors; ++i) put32(512 * (kFirstDifat + 1) + 4 * (i - 109), i);
  put32(512 * (kFirstDifat + 1) + 508, kSecondDifat);
  put32(512 * (kSecondDifat + 1), 236);
  // The FAT: its own sectors marked, the DIFAT's too, the rest free.
  for (std::uint32_t s = 0; s < kFatSectors; ++s) put32(512 * (s / 128 + 1) + 4 * (s % 128), kFatMark);
  for (const std::uint32_t s : {kFirstDifat, kSecondDifat}) put32(512 * (s / 128 + 1) + 4 * (s % 128), kDifatMark);
  Derivation derivation({1, 8});
  EXPECT_GT(derivation.Derive(image), 0u);
  EXPECT_EQ(derivation.FatSectors().size(), kFatSectors);
  EXPECT_EQ(derivation.FileSectors(), kSecondDifat + 2);
}

const fs::path kCorpus = fs::path(VELLUMARK_CORPUS_DIR) / "doc";

// A disk of 4 KiB clusters: the document's clusters with foreign text
// clusters after some of them (and one overwritten, when asked), then
// tail foreign clusters.
Bytes FragmentedDisk(const Bytes& document, std::size_t tail, int overwritten) {
  constexpr std::size_t kCluster = 4096;
  const auto foreign = [](std::size_t n) {
    std::string text;
    for (int line = 0; text.size() < kCluster; ++line) text += "row " + std::to_string(line * 7 + n) + ",item,note\n";
    return Bytes(text.begin(), text.begin() + kCluster);
  };
  Bytes disk;
  std::size_t foreignCount = 0;
  const std::size_t clusters = (document.size() + kCluster - 1) / kCluster;
  for (std::size_t i = 0; i < clusters; ++i) {
    const std::size_t at = disk.size();
    disk.insert(disk.end(), document.begin() + static_cast<std::ptrdiff_t>(i * kCluster),
                document.begin() + static_cast<std::ptrdiff_t>(std::min(document.size(), (i + 1) * kCluster)));
    disk.resize(at + kCluster, 0);
    if (static_cast<int>(i) == overwritten) {
      const Bytes text = foreign(999);
      std::copy(text.begin(), text.end(), disk.begin() + static_cast<std::ptrdiff_t>(at));
    }
    if (i % 5 == 2) {
      for (std::size_t k = 0; k < 1 + i % 3; ++k) {
        const Bytes text = foreign(foreignCount++);
        disk.insert(disk.end(), text.begin(), text.end());
      }
    }
  }
  for (std::size_t k = 0; k < tail; ++k) {
    const Bytes text = foreign(foreignCount++);
    disk.insert(disk.end(), text.begin(), text.end());
  }
  return disk;
}

ReassemblyOutcome Reassemble(const Bytes& disk) {
  auto owned = std::make_unique<MemoryPlatformSource>();
  owned->Add("disk", disk);
  SectorSource source(std::move(owned));
  EXPECT_TRUE(source.OpenImageFile("disk").ok());
  SilentPrompt prompt;
  NoPump pump;
  NoProgress progress;
  FrontEnd frontEnd{prompt, pump, progress};
  RescueRun run(source, frontEnd);
  run.claims = ClaimMap(source.ScanGeometry().LastSector);
  run.spc = 8;
  run.chosenPhase = 0;
  return ReassembleCompound(run, 0);
}

// The same bytes give the same document and the same count of placements
// evaluated, and a disk twice or four times as large around the document
// (more foreign clusters after it than any gap could span) changes
// neither: the work follows the document, not the disk.
TEST(Reassembly, WorkAndOutcomeFollowTheDocumentNotTheDisk) {
  if (!fs::is_directory(kCorpus)) VELLUMARK_CANNOT_RUN("no document corpus at " << kCorpus);
  struct Case {
    const char* document;
    int overwritten;  // -1: none; else a cluster overwritten by foreign text, leaving partial text
    bool whole;
  };
  const Case cases[] = {{"52420.doc", -1, true}, {"47304.doc", -1, true}, {"Bug52032_3.doc", 3, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    const Bytes document = test::ReadFileBytes((kCorpus / c.document).string());
    const ReassemblyOutcome first = Reassemble(FragmentedDisk(document, 2'000, c.overwritten));
    ASSERT_EQ(first.whole.has_value(), c.whole);
    ASSERT_EQ(first.partial.has_value(), !c.whole);
    if (c.whole) {
      EXPECT_TRUE(first.whole->bytes == Bytes(document.begin(), document.begin() + static_cast<std::ptrdiff_t>(first.whole->bytes.size())));
    }
    const std::uint64_t clusters = (document.size() + 4095) / 4096;
    EXPECT_GT(first.placementsEvaluated, clusters);
    EXPECT_LE(first.placementsEvaluated, 7 * 8 * clusters * 1'025);
    for (const std::size_t tail : {2'000, 4'000, 8'000}) {
      SCOPED_TRACE(std::to_string(tail) + " foreign clusters after the document");
      const ReassemblyOutcome again = Reassemble(FragmentedDisk(document, tail, c.overwritten));
      EXPECT_EQ(again.placementsEvaluated, first.placementsEvaluated);
      ASSERT_EQ(again.whole.has_value(), first.whole.has_value());
      ASSERT_EQ(again.partial.has_value(), first.partial.has_value());
      if (again.whole) {
        EXPECT_TRUE(again.whole->bytes == first.whole->bytes);
        EXPECT_EQ(again.whole->sectors, first.whole->sectors);
      } else {
        EXPECT_EQ(again.partial->text, first.partial->text);
        EXPECT_EQ(again.partial->sectors, first.partial->sectors);
      }
    }
  }
}

}  // namespace
}  // namespace vellumark
