#include "rescue/carvers/reassembly_derivation.h"

#include <algorithm>

#include "formats/compound/compound_chain.h"
#include "formats/compound/compound_layout.h"
#include "formats/word/word_fib.h"

namespace vellumark::reassembly {
namespace {

constexpr std::size_t kLargestFatCount = 1'600;

std::uint32_t Le32At(ByteView bytes, std::size_t at) { return bytes.Le32(at).value_or(kFree); }
std::uint16_t Le16At(ByteView bytes, std::size_t at) { return bytes.Le16(at).value_or(0); }
ByteView ViewOf(const Bytes& bytes) { return {bytes.data(), bytes.size()}; }

// The file sector f of the image as last placed, or nothing past its end.
std::optional<ByteView> SectorAt(const Bytes& image, std::size_t f) {
  return ViewOf(image).Bytes(std::uint64_t{f} * kSector, kSector);
}

}  // namespace

std::vector<std::uint32_t> Chain(const std::vector<std::uint32_t>& table, std::uint32_t start, std::size_t limit) {
  return compound::FollowChain(table, start, limit).sectors;
}

void Derivation::Add(std::size_t f, Check check) {
  checks_[f].push_back(check);
  highestChecked_ = std::max(highestChecked_, f);
}

StreamMap Derivation::MapStream(std::uint32_t start, std::uint32_t size) const {
  StreamMap map;
  map.size = size;
  if (size >= cutoff_) {
    for (const std::uint32_t s : Chain(fat_, start, (size + kSector - 1) / kSector)) map.places.emplace_back(s + 1, 0);
    return map;
  }
  map.block = compound::kMiniSectorSize;
  for (const std::uint32_t m : Chain(miniFat_, start, (size + compound::kMiniSectorSize - 1) / compound::kMiniSectorSize)) {
    const std::size_t at = std::size_t{m} * compound::kMiniSectorSize;
    if (at / kSector >= rootChain_.size()) break;
    map.places.emplace_back(rootChain_[at / kSector] + 1, static_cast<std::uint32_t>(at % kSector));
  }
  return map;
}

std::optional<Bytes> Derivation::StreamBytes(const Bytes& image, const StreamMap& map) const {
  Bytes bytes;
  for (const auto& [f, offset] : map.places) {
    const auto sector = SectorAt(image, f);
    const auto block = sector ? sector->Bytes(offset, map.block) : std::nullopt;
    if (!block) return std::nullopt;
    bytes.insert(bytes.end(), block->begin(), block->end());
  }
  if (bytes.size() < map.size) return std::nullopt;
  bytes.resize(map.size);
  return bytes;
}

std::size_t Derivation::Derive(const Bytes& image) {
  checks_.clear();
  fatSectors_.clear();
  fileSectors_ = 0;
  highestChecked_ = 0;
  directory_.clear();
  streams_.clear();
  miniFat_.clear();
  const ByteView header = ViewOf(image);
  const std::uint32_t fatCount = Le32At(header, compound::header::kFatSectors);
  if (fatCount == 0 || fatCount > kLargestFatCount) return 0;
  for (std::size_t i = 0; i < std::min<std::size_t>(fatCount, compound::header::kListedFatSectors); ++i) {
    const std::uint32_t s = Le32At(header, compound::header::kFatSectorList + 4 * i);
    if (!IsSectorNumber(s)) return 0;
    fatSectors_.push_back(s);
  }
  std::uint32_t difat = Le32At(header, compound::header::kFirstDifatSector);
  bool complete = true;
  for (std::size_t guard = 0; fatSectors_.size() < fatCount && guard < kLargestFatCount; ++guard) {
    if (!IsSectorNumber(difat)) return 0;
    Add(difat + 1, {Role::Difat});
    const auto data = SectorAt(image, difat + 1);
    if (!data || !Passes(*data, {Role::Difat}, {}, nullptr)) {
      complete = false;
      break;
    }
    for (std::size_t k = 0; k < compound::difat::kFatSectorsPerSector && fatSectors_.size() < fatCount; ++k) fatSectors_.push_back(Le32At(*data, 4 * k));
    difat = Le32At(*data, compound::difat::kNextSector);
  }
  for (std::size_t i = 0; i < fatSectors_.size(); ++i) {
    if (!IsSectorNumber(fatSectors_[i])) return 0;
    Add(fatSectors_[i] + 1, {Role::Fat, static_cast<std::uint32_t>(i)});
  }
  const std::size_t reach = layout_.UnitOf(highestChecked_) + 1;
  if (!complete) return reach;

  fat_.clear();
  for (std::size_t i = 0; i < fatSectors_.size(); ++i) {
    const auto data = SectorAt(image, fatSectors_[i] + 1);
    if (!data || !Passes(*data, {Role::Fat, static_cast<std::uint32_t>(i)}, fatSectors_, nullptr)) return reach;
    for (std::size_t k = 0; k < compound::kWordsPerSector; ++k) fat_.push_back(Le32At(*data, 4 * k));
  }
  std::size_t lastUsed = fat_.size();
  while (lastUsed > 0 && fat_[lastUsed - 1] == kFree) --lastUsed;
  if (lastUsed == 0 || lastUsed > kHighestSector + 1) return 0;
  fileSectors_ = lastUsed + 1;
  return DeriveStreams(image, layout_.UnitOf(fileSectors_ - 1) + 1);
}

// The directory, the mini FAT, and what Word's streams say; units, the
// clusters the FAT gives the file, is returned however far this goes.
std::size_t Derivation::DeriveStreams(const Bytes& image, std::size_t units) {
  const ByteView header = ViewOf(image);
  const auto directory = Chain(fat_, Le32At(header, compound::header::kFirstDirectorySector), kHighestSector);
  for (const std::uint32_t s : directory) Add(s + 1, {Role::Directory});
  directory_.clear();
  for (const std::uint32_t s : directory) {
    const auto data = SectorAt(image, s + 1);
    if (!data || !Passes(*data, {Role::Directory}, {}, nullptr)) return units;
    directory_.insert(directory_.end(), data->begin(), data->end());
  }
  streams_ = ReadRootStreams();
  if (directory_.empty()) return units;
  const ByteView root = ViewOf(directory_);
  cutoff_ = Le32At(header, compound::header::kMiniStreamCutoff);
  rootChain_ = Chain(fat_, Le32At(root, compound::entry::kStartSector), (Le32At(root, compound::entry::kStreamSize) + kSector - 1) / kSector);
  miniFat_.clear();
  std::uint32_t index = 0;
  for (const std::uint32_t s : Chain(fat_, Le32At(header, compound::header::kFirstMiniFatSector), kHighestSector)) {
    Add(s + 1, {Role::MiniFat, index});
    const auto data = SectorAt(image, s + 1);
    if (!data || !Passes(*data, {Role::MiniFat, index++}, {}, nullptr)) return units;
    for (std::size_t k = 0; k < compound::kWordsPerSector; ++k) miniFat_.push_back(Le32At(*data, 4 * k));
  }

  const auto word = streams_.find("WordDocument");
  if (word == streams_.end() || word->second.second < kSector) return units;
  const StreamMap wordChain = MapStream(word->second.first, word->second.second);
  if (wordChain.places.empty()) return units;
  Add(wordChain.places[0].first, {Role::Fib, wordChain.places[0].second});
  const auto wordBytes = StreamBytes(image, wordChain);
  if (!wordBytes || !Passes(ViewOf(*wordBytes), {Role::Fib}, {}, nullptr)) return units;
  AddWordChecks(image, *wordBytes, wordChain);
  return units;
}

// The pieces of a Clx whose character positions rise from 0 and whose
// bytes lie inside the stream; nothing when the Clx is not sound.
std::vector<Derivation::Piece> Derivation::Pieces(ByteView stream, std::uint32_t fcClx, std::uint32_t lcbClx,
                                                 std::size_t wordSize, std::size_t oldWidth) {
  const auto clx = stream.Bytes(fcClx, lcbClx);
  if (!clx) return {};
  std::size_t at = 0;
  while (at + 3 <= clx->Size() && clx->Byte(at) == 0x01) at += 3 + std::size_t{Le16At(*clx, at + 1)};
  if (at + 5 > clx->Size() || clx->Byte(at) != 0x02) return {};
  const std::uint32_t size = Le32At(*clx, at + 1);
  if (size > clx->Size() - at - 5 || size < 4 || (size - 4) % 12 != 0) return {};
  const ByteView plc = *clx->Bytes(at + 5, size);
  const std::size_t count = (size - 4) / 12;
  if (Le32At(plc, 0) != 0) return {};
  std::vector<Piece> pieces;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t cpStart = Le32At(plc, 4 * i), cpEnd = Le32At(plc, 4 * i + 4);
    if (cpEnd <= cpStart) return {};
    const std::uint32_t fc = Le32At(plc, 4 * (count + 1) + 8 * i + 2);
    const bool compressed = (fc & 0x40000000u) != 0;
    const std::size_t offset = oldWidth != 0 ? fc : compressed ? (fc & 0x3FFFFFFFu) / 2 : fc & 0x3FFFFFFFu;
    const std::size_t width = oldWidth != 0 ? oldWidth : compressed ? 1 : 2;
    if (offset > wordSize || (wordSize - offset) / width < cpEnd - cpStart) return {};
    pieces.push_back({offset, cpEnd - cpStart, width});
  }
  return pieces;
}

// Checks for the bytes of a stream from offset on, count bytes long, block by block.
template <typename MakeCheck>
void Derivation::AddAlong(const StreamMap& map, std::size_t offset, std::size_t count, MakeCheck make) {
  const std::size_t end = offset + count;
  for (std::size_t at = offset; at < end;) {
    const std::size_t index = at / map.block;
    if (index >= map.places.size()) return;
    const std::size_t stop = std::min(end, (index + 1) * map.block);
    const auto [f, base] = map.places[index];
    Add(f, make(static_cast<std::uint32_t>(base + at % map.block), static_cast<std::uint32_t>(base + stop - index * map.block)));
    at = stop;
  }
}

void Derivation::AddText(const StreamMap& wordChain, const std::vector<Piece>& pieces) {
  for (const Piece& piece : pieces) {
    AddAlong(wordChain, piece.offset, piece.count * piece.width, [&](std::uint32_t first, std::uint32_t last) {
      return Check{Role::Text, first, last, static_cast<std::uint8_t>(piece.width)};
    });
  }
}

// A table of count rising 32-bit positions at offset in a stream. Sectors
// are a multiple of four bytes long, so every value starts at the same
// place modulo four in each; a value that straddles two sectors is left
// unchecked.
void Derivation::AddRising(const StreamMap& chain, std::size_t offset, std::size_t count) {
  AddAlong(chain, offset, 4 * count, [&](std::uint32_t first, std::uint32_t last) {
    const auto skip = static_cast<std::uint32_t>((offset % 4 + 4 - first % 4) % 4);
    return Check{Role::Rising, std::min(first + skip, last), last};
  });
}

// What Word's FIB says of the rest of the document: where the text lies
// (through the piece table, or for Word 6 and 95 saved in one go, the one
// run from fcMin to fcMac), and for Word 97 and later where the pages of
// character and paragraph formatting lie and the rising tables that point
// to them and to the pieces.
void Derivation::AddWordChecks(const Bytes& image, const Bytes& wordBytes, const StreamMap& wordChain) {
  const ByteView word = ViewOf(wordBytes);
  if (word.Size() < 0x200) return;
  const std::uint16_t ident = Le16At(word, 0), nFib = Le16At(word, 2), flags = Le16At(word, 10);
  if ((flags & 0x0100) != 0) return;  // encrypted
  if (!word_fib::IsWord97(ident, nFib)) {
    const std::size_t width = (flags & 0x1000) != 0 ? 2 : 1;
    if ((flags & 0x0004) != 0) {
      AddText(wordChain, Pieces(word, Le32At(word, 0x160), Le32At(word, 0x164), word.Size(), width));
      return;
    }
    const std::uint32_t fcMin = Le32At(word, 0x18), fcMac = Le32At(word, 0x1C);
    if (fcMac >= fcMin && fcMac <= word.Size()) AddText(wordChain, {{fcMin, (fcMac - fcMin) / width, width}});
    return;
  }
  std::size_t at = 0x20;
  at += 2 + 2 * std::size_t{Le16At(word, at)};
  if (at + 2 > word.Size()) return;
  const std::size_t cslw = Le16At(word, at);
  at += 2 + 4 * cslw;
  if (at + 2 + 8 * 34 > word.Size() || Le16At(word, at) <= 33) return;
  const auto pair = [&](std::size_t index) { return std::pair{Le32At(word, at + 2 + 8 * index), Le32At(word, at + 6 + 8 * index)}; };
  const auto table = streams_.find((flags & 0x0200) != 0 ? "1Table" : "0Table");
  if (table == streams_.end()) return;
  const StreamMap tableChain = MapStream(table->second.first, table->second.second);
  const auto wordPages = static_cast<std::uint32_t>(wordChain.places.size() * wordChain.block / kSector);

  // The FIB alone places the tables of formatting pages in the table
  // stream: file positions that rise, then page numbers inside
  // WordDocument. Character formatting pages hold at most 0x65 runs,
  // paragraph ones 0x1D.
  const auto tableBytes = StreamBytes(image, tableChain);
  for (const auto& [index, mostRuns] : {std::pair{12u, 0x65u}, std::pair{13u, 0x1Du}}) {
    // Plain names, not a structured binding: lambdas below capture them.
    const std::uint32_t fc = pair(index).first, lcb = pair(index).second;
    if (lcb < 12 || (lcb - 4) % 8 != 0 || fc > table->second.second || lcb > table->second.second - fc) continue;
    const std::size_t count = (lcb - 4) / 8;
    AddRising(tableChain, fc, count + 1);
    AddAlong(tableChain, fc + 4 * (count + 1), 4 * count, [&](std::uint32_t first, std::uint32_t last) {
      const auto skip = static_cast<std::uint32_t>((fc % 4 + 4 - first % 4) % 4);
      return Check{Role::PageNumbers, std::min(first + skip, last), last, 1, wordPages};
    });
    if (!tableBytes || wordChain.block != kSector) continue;  // a page in the mini stream spans blocks
    const ByteView pageNumbers = ViewOf(*tableBytes);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t page = Le32At(pageNumbers, fc + 4 * (count + 1) + 4 * i) & 0x3FFFFF;
      if (page < wordChain.places.size()) Add(wordChain.places[page].first, {Role::FormattingPage, mostRuns});
    }
  }

  // The piece table: where the text lies, each piece 8-bit or UTF-16.
  // The Clx holding it starts with 1 (property modifiers come first) or
  // 2 (the piece table itself, whose size the FIB's length then gives);
  // in the second case the FIB alone places its rising character
  // positions too.
  const std::uint32_t fcClx = pair(33).first, lcbClx = pair(33).second;
  if (lcbClx < 5 + 4 + 12 || fcClx > table->second.second || lcbClx > table->second.second - fcClx) return;
  AddAlong(tableChain, fcClx, 1, [&](std::uint32_t first, std::uint32_t) {
    return Check{Role::ClxStart, first, first + 1, 1, lcbClx - 5};
  });
  if (!tableBytes) return;
  if ((*tableBytes)[fcClx] == 0x02 && (lcbClx - 9) % 12 == 0) AddRising(tableChain, fcClx + 5, (lcbClx - 9) / 12 + 1);
  AddText(wordChain, Pieces(ViewOf(*tableBytes), fcClx, lcbClx, word.Size(), 0));
}

// Embedded objects keep streams of the same names (a WordDocument of their
// own) in storages below the root; the tree of the root's children, walked
// through its left and right links, leaves them out.
RootStreams Derivation::ReadRootStreams() const {
  RootStreams streams;
  const ByteView directory = ViewOf(directory_);
  const std::size_t entries = directory.Size() / compound::entry::kSize;
  std::vector<bool> seen(entries, false);
  std::vector<std::uint32_t> pending;
  if (entries > 0) pending.push_back(Le32At(directory, compound::entry::kChild));
  while (!pending.empty()) {
    const std::uint32_t index = pending.back();
    pending.pop_back();
    if (index >= entries || seen[index]) continue;
    seen[index] = true;
    const ByteView entry = *directory.Bytes(compound::entry::kSize * index, compound::entry::kSize);
    pending.push_back(Le32At(entry, compound::entry::kLeftSibling));
    pending.push_back(Le32At(entry, compound::entry::kRightSibling));
    if (entry.Byte(compound::entry::kType) != compound::entry::kStream) continue;
    std::string name;
    for (std::size_t c = 0; c + 2 < std::min<std::size_t>(Le16At(entry, compound::entry::kNameBytes), compound::entry::kLongestName); c += 2) name += static_cast<char>(entry.Data()[c]);
    streams.emplace(name, std::pair{Le32At(entry, compound::entry::kStartSector), Le32At(entry, compound::entry::kStreamSize)});
  }
  return streams;
}

}  // namespace vellumark::reassembly
