// The placements are: gaps as early and as late as possible, gaps where
// every cluster looks alike to use, clusters lost cheaply, and clusters
// lost cheaply where every gap is dear. A lost cluster lets the clusters
// near it shift (text passes its checks wherever it lies): clusters of the
// document that look random, or another document's, are skipped in one
// placement and used in another, and a document with more clusters lost
// than the dearest placement admits has its text shifted over one of them;
// where the placements differ, the checks cannot tell which is right. The
// FAT, the directory, the FIB and the piece table must be among the
// clusters that agree, since they say where the text lies.
//
// Nor can a cluster that looks foreign be told from the document's own
// when the document's text breaks the rules of Word's characters (a file
// damaged before it was lost): its own clusters then fail their checks
// where they belong, and skipping one that looks foreign lets the clusters
// after it shift into places where they pass, the stretch of the stream
// before them read as text. Where skipping costs more than a loss (the
// dear placement), the clusters stay where they lie.
#include "rescue/carvers/reassembly_partial_text.h"

#include <limits>
#include <string>

#include "formats/compound/compound_file.h"
#include "formats/word/word_fib.h"
#include "formats/word/word_text.h"

namespace vellumark::reassembly {

std::optional<PartialText> PartialTextOf(const LoosePlacements& placed, const Derivation& derivation,
                                         const ClusterSource& source) {
  // Plain names, not a structured binding: lambdas below capture them.
  const auto &alike = placed.alike, &cheap = placed.cheap, &dear = placed.dear, &early = placed.early, &late = placed.late;
  if (!alike || !early || !late || late->placement.size() != early->placement.size() ||
      alike->placement.size() != early->placement.size())
    return std::nullopt;
  // Losing clusters cheaply can leave the file's bookkeeping misplaced and
  // no placement at all; only one that holds is heard.
  const bool heard = cheap && cheap->placement.size() == alike->placement.size();
  const bool dearHeard = dear && dear->placement.size() == alike->placement.size();
  std::vector<bool> sound(late->placement.size());
  for (std::size_t unit = 0; unit < sound.size(); ++unit) {
    const std::size_t at = late->placement[unit];
    sound[unit] = early->placement[unit] == at && alike->placement[unit] == at &&
                  (!heard || (cheap->placement[unit] == at && cheap->checked[unit])) &&
                  (!dearHeard || (dear->placement[unit] == at && dear->checked[unit])) && early->checked[unit] &&
                  late->checked[unit] && alike->checked[unit];
  }
  const ClusterLayout& layout = derivation.Layout();
  const auto soundSector = [&](std::size_t f) { return layout.UnitOf(f) < sound.size() && sound[layout.UnitOf(f)]; };
  for (const std::uint32_t s : derivation.FatSectors()) {
    if (!soundSector(s + 1)) return std::nullopt;
  }
  for (const auto& [f, checks] : derivation.SectorChecks()) {
    for (const Check& check : checks) {
      if (IsBookkeeping(check.role) && !soundSector(f)) return std::nullopt;
    }
  }
  const auto streamOf = [&](const char* name) -> std::optional<std::pair<StreamMap, Bytes>> {
    const auto it = derivation.Streams().find(name);
    if (it == derivation.Streams().end()) return std::nullopt;
    StreamMap map = derivation.MapStream(it->second.first, it->second.second);
    auto bytes = derivation.StreamBytes(late->image, map);
    if (!bytes) return std::nullopt;
    return std::pair{std::move(map), std::move(*bytes)};
  };
  const auto word = streamOf("WordDocument");
  if (!word || word->second.size() < kSector) return std::nullopt;
  const auto soundBytes = [&](const StreamMap& map, std::size_t offset, std::size_t size) {
    for (std::size_t block = offset / map.block; block * map.block < offset + size; ++block) {
      if (block >= map.places.size() || !soundSector(map.places[block].first)) return false;
    }
    return true;
  };
  // The FIB, and the piece table it points to: in the table stream (Word 97
  // and later) or, for Word 6 and 95 saved quickly, in its own.
  const Bytes& wordBytes = word->second;
  const ByteView fib(wordBytes.data(), wordBytes.size());
  const auto table0 = streamOf("0Table");
  const auto table1 = streamOf("1Table");
  const std::uint16_t nFib = fib.Le16(2).value_or(0), flags = fib.Le16(10).value_or(0);
  if (word_fib::IsWord97(fib.Le16(0).value_or(0), nFib)) {
    const std::size_t cslwAt = 0x20 + 2 + 2 * std::size_t{fib.Le16(0x20).value_or(0)};
    const auto cslw = fib.Le16(cslwAt);
    if (!cslw) return std::nullopt;
    const std::size_t clxAt = cslwAt + 2 + 4 * std::size_t{*cslw} + 2 + 8 * 33;
    const auto& table = (flags & 0x0200) != 0 ? table1 : table0;
    const auto fcClx = fib.Le32(clxAt), lcbClx = fib.Le32(clxAt + 4);
    if (!table || !fcClx || !lcbClx || !soundBytes(word->first, 0, clxAt + 8)) return std::nullopt;
    if (!soundBytes(table->first, *fcClx, *lcbClx)) return std::nullopt;
  } else if (!soundBytes(word->first, 0, 0x168) ||
             ((flags & 0x0004) != 0 &&
              !soundBytes(word->first, fib.Le32(0x160).value_or(0), fib.Le32(0x164).value_or(0)))) {
    return std::nullopt;
  }
  // The text is read by the streams' places as this derivation has them;
  // where the reader of rescued files would take other bytes for the
  // streams (a file whose bookkeeping can be read two ways), neither
  // reading can be vouched for.
  const std::size_t fileSectors = derivation.FileSectors();
  Bytes file(late->image.begin(), late->image.begin() + static_cast<std::ptrdiff_t>(fileSectors * kSector));
  const auto compound = CompoundFile::Open(file);
  if (!compound || compound->Stream("WordDocument") != std::optional<Bytes>(wordBytes)) return std::nullopt;
  for (const auto& [name, table] : {std::pair{"0Table", &table0}, std::pair{"1Table", &table1}}) {
    if (*table && compound->Stream(name) != std::optional<Bytes>((*table)->second)) return std::nullopt;
  }
  const Bytes none;
  PartialText partial;
  partial.text = WordText(wordBytes, table0 ? table0->second : none, table1 ? table1->second : none,
                          std::numeric_limits<std::size_t>::max(),
                          [&](std::size_t offset, std::size_t size) { return soundBytes(word->first, offset, size); });
  if (partial.text.find_first_not_of(" \t\n") == std::string::npos) return std::nullopt;
  for (std::size_t unit = 0; unit < sound.size(); ++unit) {
    if (!sound[unit]) continue;
    const auto& sectors = source[late->placement[unit]].sectors;
    const std::size_t first = layout.FirstSectorOf(unit);
    for (std::size_t k = 0; k < sectors.size() && first + k < fileSectors; ++k) partial.sectors.push_back(sectors[k]);
  }
  return partial;
}

}  // namespace vellumark::reassembly
