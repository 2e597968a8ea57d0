// One fuzz target per parser. The input drives an in-memory disk: its first
// bytes choose the cluster layout, which sectors another file has already
// claimed and which sectors cannot be read; the rest is the disk, with the hit
// at sector 0. Whatever the input, a carve attempt must end, must leave the
// claims exactly as they were when it fails and only add to them when it
// succeeds, and a rebuilt document must not exceed 100 MiB.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "access/boot_sector.h"
#include "access/memory_platform_source.h"
#include "access/sector_source.h"
#include "rescue/carvers/carver_table.h"
#include "rescue/carvers/carvers.h"
#include "rescue/carvers/compound_reassembly.h"
#include "rescue/claim_map.h"
#include "formats/compound/compound_file.h"
#include "formats/compound/compound_walk.h"
#include "formats/document_check.h"
#include "report/read_back.h"
#include "formats/word/word_text.h"
#include "rescue/rescue_run.h"
#include "rescue/sector_classifier.h"

namespace {

using namespace vellumark;

constexpr std::size_t kHeader = 9;
constexpr std::int64_t kSector = 512;
constexpr std::uintmax_t kLargestDocument = 104'857'600;

[[noreturn, maybe_unused]] void Broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

[[maybe_unused]] std::vector<bool> Snapshot(const ClaimMap& claims) {
  std::vector<bool> bits(static_cast<std::size_t>(claims.LastSector() + 1));
  for (std::int64_t s = 0; s <= claims.LastSector(); ++s) bits[static_cast<std::size_t>(s)] = claims.IsSectorClaimed(s);
  return bits;
}

[[maybe_unused]] const std::string& SaveFolder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "vellumark-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern + "/";
  }();
  return folder;
}

// A rescue run over source that tells nobody anything: its claim map covers
// the whole source and its files go to the target's own folder.
struct [[maybe_unused]] QuietRun {
  explicit QuietRun(SectorSource& source) : run(source, frontEnd) {
    run.claims = ClaimMap(source.ScanGeometry().LastSector);
    run.saveFolder = SaveFolder();
  }
  SilentPrompt prompt;
  NoPump pump;
  NoProgress progress;
  FrontEnd frontEnd{prompt, pump, progress};
  RescueRun run;
};

[[maybe_unused]] void CheckCarve(Carver carver, const std::uint8_t* data, std::size_t size) {
  if (size < kHeader + 1) return;
  const std::uint8_t options = data[0];
  const std::uint32_t claimedMask = static_cast<std::uint32_t>(data[1]) | data[2] << 8 | data[3] << 16 |
                                    static_cast<std::uint32_t>(data[4]) << 24;
  const std::uint32_t failingMask = static_cast<std::uint32_t>(data[5]) | data[6] << 8 | data[7] << 16 |
                                    static_cast<std::uint32_t>(data[8]) << 24;
  std::vector<std::uint8_t> disk(data + kHeader, data + size);
  disk.resize((disk.size() + kSector - 1) / kSector * kSector, 0);

  auto owned = std::make_unique<MemoryPlatformSource>();
  MemoryPlatformSource* platform = owned.get();
  platform->Add("disk", std::move(disk));
  SectorSource source(std::move(owned));
  if (!source.OpenImageFile("disk").ok()) return;
  if (source.ScanGeometry().BytesPerSector != kSector) return;  // a boot sector at the hit: keep 512
  for (int s = 0; s < 32; ++s) {
    if ((failingMask >> s) & 1) platform->FailReads(s * kSector, kSector);
  }

  QuietRun quiet(source);
  RescueRun& run = quiet.run;
  run.spc = 1u << (options & 3);
  run.chosenPhase = static_cast<std::int32_t>((options >> 2) % run.spc);
  run.typeMask = type_mask::kAllDocuments | type_mask::kDocx | type_mask::kXlsx | type_mask::kPptx |
                 type_mask::kOdt;
  for (int s = 1; s <= 32; ++s) {
    if ((claimedMask >> (s - 1)) & 1) run.claims.ClaimSector(s);
  }
  if ((options & 0x80) != 0) run.claims.ClaimSector(0);  // the hit lies in another file

  const std::vector<bool> before = Snapshot(run.claims);
  carver(run, 0);
  const std::vector<bool> after = Snapshot(run.claims);

  bool added = false;
  for (std::size_t s = 0; s < before.size(); ++s) {
    if (before[s] && !after[s]) Broken("a claim of another file was released");
    added |= !before[s] && after[s];
  }
  if (added && before[0]) Broken("a hit inside a claimed sector claimed something");
  if (added && !after[0]) Broken("claims were added but the hit sector is not among them");

  for (const auto& entry : std::filesystem::directory_iterator(SaveFolder())) {
    if (std::filesystem::file_size(entry.path()) > kLargestDocument) Broken("a document larger than 100 MiB");
    std::filesystem::remove(entry.path());
  }
}

// The reassembly of a compound document lying in pieces around foreign
// clusters. The input is a header and a document; the header chooses the
// cluster size, after which of the document's clusters a gap of foreign
// clusters lies and how long it is, what the foreign clusters hold (lines
// of text, random bytes, zeros, or copies of the document's own clusters),
// whether one of the document's clusters was overwritten, and which foreign
// clusters another file has claimed. Whatever the input: no claim changes;
// a whole file is one the checks call whole, made of unclaimed sectors of
// the disk in rising order, and when the document itself was whole and the
// foreign clusters are text, it is the document; a partial text is UTF-8
// whose lines all appear, in order, in the document's own text.
constexpr std::size_t kReassemblyHeader = 16;

[[maybe_unused]] std::string FullWordText(std::span<const std::uint8_t> file) {
  const auto compound = CompoundFile::Open(file);
  if (!compound) return {};
  const auto word = compound->Stream("WordDocument");
  if (!word) return {};
  const auto table0 = compound->Stream("0Table");
  const auto table1 = compound->Stream("1Table");
  const std::vector<std::uint8_t> none;
  return WordText(*word, table0 ? *table0 : none, table1 ? *table1 : none, std::size_t{1} << 26);
}

// The bytes of the document its FAT accounts for (read from the header's
// own list of FAT sectors): all a rebuild can hold. Bytes after them are not
// the document's, whatever a reader of the longer input makes of them.
[[maybe_unused]] std::span<const std::uint8_t> FatAccounted(std::span<const std::uint8_t> file) {
  const auto le32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16) |
           static_cast<std::uint32_t>(file[at + 3]) << 24;
  };
  if (file.size() < 512 || le32(44) > 109) return file;
  std::size_t used = 0;
  for (std::size_t i = 0; i < le32(44); ++i) {
    const std::size_t at = (std::size_t{le32(76 + 4 * i)} + 1) * 512;
    if (at > file.size() - 512) return file;
    for (std::size_t k = 0; k < 128; ++k) {
      if (le32(at + 4 * k) != 0xFFFFFFFF) used = std::max(used, i * 128 + k + 1);
    }
  }
  return file.first(std::min(file.size(), (used + 1) * 512));
}

[[maybe_unused]] bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<std::uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

[[maybe_unused]] void CheckReassembly(const std::uint8_t* data, std::size_t size) {
  if (size < kReassemblyHeader + 512) return;
  const std::uint8_t options = data[0];
  std::uint64_t gapAfter = 0;  // bit i: a gap after the document's cluster i
  for (int i = 0; i < 8; ++i) gapAfter |= static_cast<std::uint64_t>(data[1 + i]) << (8 * i);
  const std::uint32_t lengths = static_cast<std::uint32_t>(data[9]) | data[10] << 8 | data[11] << 16;
  const std::uint8_t overwritten = data[12];
  std::uint32_t state = static_cast<std::uint32_t>(data[13]) | data[14] << 8 | data[15] << 16 | 1u;
  const auto next = [&state] {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    return state;
  };
  const std::span<const std::uint8_t> document(data + kReassemblyHeader, size - kReassemblyHeader);

  const std::size_t spc = std::size_t{1} << (options & 3);
  const std::size_t clusterBytes = spc * kSector;
  const int foreignKind = (options >> 2) & 3;
  const std::size_t clusters = (document.size() + clusterBytes - 1) / clusterBytes;
  std::vector<std::uint8_t> disk;
  std::vector<std::int64_t> claimed;
  const auto foreignCluster = [&](std::size_t index) {
    const std::size_t at = disk.size();
    disk.resize(at + clusterBytes, 0);
    switch (foreignKind) {
      case 0: {
        std::string text;
        while (text.size() < clusterBytes) text += "row " + std::to_string(next() % 1000) + ",item,note\n";
        std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(clusterBytes), disk.begin() + static_cast<std::ptrdiff_t>(at));
        break;
      }
      case 1:
        for (std::size_t k = 0; k < clusterBytes; ++k) disk[at + k] = static_cast<std::uint8_t>(next());
        break;
      case 2: break;
      default: {  // one of the document's own clusters again, as an older copy would leave it
        const std::size_t from = (next() % clusters) * clusterBytes;
        std::copy(document.begin() + static_cast<std::ptrdiff_t>(from),
                  document.begin() + static_cast<std::ptrdiff_t>(std::min(document.size(), from + clusterBytes)),
                  disk.begin() + static_cast<std::ptrdiff_t>(at));
      }
    }
    if ((options & 0x40) != 0 && index % 3 == 2) {
      for (std::size_t k = 0; k < spc; ++k) claimed.push_back(static_cast<std::int64_t>(at / kSector + k));
    }
  };
  std::size_t foreignCount = 0;
  for (std::size_t i = 0; i < clusters; ++i) {
    const std::size_t at = disk.size();
    const std::size_t end = std::min(document.size(), (i + 1) * clusterBytes);
    disk.insert(disk.end(), document.begin() + static_cast<std::ptrdiff_t>(i * clusterBytes),
                document.begin() + static_cast<std::ptrdiff_t>(end));
    disk.resize(at + clusterBytes, 0);
    if ((options & 0x10) != 0 && i != 0 && i == overwritten % clusters) {
      for (std::size_t k = 0; k < clusterBytes; ++k) disk[at + k] = static_cast<std::uint8_t>('a' + k % 26);
      for (std::size_t k = 60; k < clusterBytes; k += 61) disk[at + k] = '\n';
    }
    if (i >= 64 || ((gapAfter >> i) & 1) == 0) continue;
    const std::size_t length = 1 + ((lengths >> (2 * (i % 12))) & 3);
    for (std::size_t k = 0; k < length; ++k) foreignCluster(foreignCount++);
  }
  foreignCluster(foreignCount++);  // whatever follows the last piece

  auto owned = std::make_unique<MemoryPlatformSource>();
  owned->Add("disk", disk);
  SectorSource source(std::move(owned));
  if (!source.OpenImageFile("disk").ok() || source.ScanGeometry().BytesPerSector != kSector) return;
  QuietRun quiet(source);
  RescueRun& run = quiet.run;
  run.spc = static_cast<std::uint32_t>(spc);
  run.chosenPhase = 0;
  run.typeMask = type_mask::kAllDocuments;
  for (const std::int64_t sector : claimed) run.claims.ClaimSector(sector);

  const std::vector<bool> before = Snapshot(run.claims);
  const ReassemblyOutcome outcome = ReassembleCompound(run, 0);
  if (Snapshot(run.claims) != before) Broken("the reassembly changed the claims");

  if (outcome.whole) {
    const Reassembly& file = *outcome.whole;
    if (outcome.partial) Broken("a whole file and a partial text");
    if (CheckDocument(file.bytes).verdict != Verdict::Whole) Broken("a reassembly the checks do not call whole");
    if (file.sectors.size() * kSector < file.bytes.size()) Broken("a reassembly with bytes from no sector");
    for (std::size_t k = 0; k < file.sectors.size(); ++k) {
      const std::int64_t sector = file.sectors[k];
      if (before[static_cast<std::size_t>(sector)]) Broken("a reassembly took a claimed sector");
      if (k > 0 && sector <= file.sectors[k - 1]) Broken("a reassembly whose sectors do not rise");
      const std::size_t length = std::min<std::size_t>(kSector, file.bytes.size() - k * kSector);
      if (!std::equal(file.bytes.begin() + static_cast<std::ptrdiff_t>(k * kSector),
                      file.bytes.begin() + static_cast<std::ptrdiff_t>(k * kSector + length),
                      disk.begin() + sector * kSector))
        Broken("a reassembly whose bytes are not its sectors'");
    }
    const bool original = (options & 0x10) == 0 && CheckDocument(document).verdict == Verdict::Whole;
    if (original && foreignKind == 0 &&
        (file.bytes.size() > document.size() || !std::equal(file.bytes.begin(), file.bytes.end(), document.begin())))
      Broken("a whole reassembly that is not the document");
  }
  if (outcome.partial) {
    const std::string& text = outcome.partial->text;
    // Where the document's own text can be read, the partial one is made of
    // its lines in order (a cluster overwritten in place of the document's
    // leaves the reader's view of the rest unchanged).
    const std::string whole = FullWordText(FatAccounted(document));
    if (!whole.empty() && foreignKind != 3) {
      std::size_t at = 0, start = 0;
      while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        const std::size_t found = whole.find(line, at);
        if (found == std::string::npos) Broken("a partial text not in the document's text, in order");
        at = found + line.size();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#if defined(VELLUMARK_FUZZ_CLASSIFIER)
  // Whatever the bytes, a sector classifies without reading past 512 bytes.
  const FileTypeCode code = ClassifySector(data, size);
  if (code < 0 || (code > code::kSevenZipCurrent && code != code::kFatDirectory) || code == 14) Broken("an unknown code");
#elif defined(VELLUMARK_FUZZ_BOOT_SECTOR)
  std::vector<std::uint8_t> sector(data, data + size);
  sector.resize(kBootSectorSize, 0);
  if (const auto info = ParseBootSector(sector.data())) {
    if (info->BytesPerSector < 512 || info->SectorsPerCluster == 0) Broken("a geometry that divides by zero");
    if (info->ClusterPhase < 0 || static_cast<std::uint32_t>(info->ClusterPhase) >= info->SectorsPerCluster) {
      Broken("a phase outside the cluster");
    }
  }
#elif defined(VELLUMARK_FUZZ_REASSEMBLY)
  CheckReassembly(data, size);
#elif defined(VELLUMARK_FUZZ_COMPOUND_WALK)
  // The walk gives the same answer whether it has all the bytes at once or
  // is handed more each time it asks, and every request asks for more than
  // it has, up to the largest file and never past it.
  constexpr std::int64_t kLargest = 1 << 20;
  const ByteView whole(data, size);
  compound::CompoundWalk atOnce(kLargest);
  compound::WalkStep once = atOnce.Step(whole);
  while (once.step == ZipStep::NeedBytes && once.need <= static_cast<std::int64_t>(size)) once = atOnce.Step(whole);
  compound::CompoundWalk stepped(kLargest);
  std::int64_t have = 0;
  bool askedForHeld = false;
  compound::WalkStep step = stepped.Step(ByteView(data, 0));
  while (step.step == ZipStep::NeedBytes && step.need <= static_cast<std::int64_t>(size)) {
    if (step.need > kLargest) Broken("a request past the largest file");
    // Once, at the FAT's end, it may ask for bytes it already has; never twice running.
    if (step.need <= have && askedForHeld) Broken("a walk that asks again for bytes it has");
    askedForHeld = step.need <= have;
    have = std::max(have, step.need);
    step = stepped.Step(ByteView(data, static_cast<std::size_t>(have)));
  }
  if (step.step != once.step) Broken("a different end when handed the bytes a piece at a time");
  if (step.step == ZipStep::Done &&
      (stepped.FileBytes() != atOnce.FileBytes() || stepped.Directory() != atOnce.Directory()))
    Broken("a different file when handed the bytes a piece at a time");
#elif defined(VELLUMARK_FUZZ_INSPECT)
  // A rescued document read back: whatever its bytes, it gets a verdict and
  // a preview no longer than asked, in well-formed UTF-8.
  DocumentRecord record;
  record.kind = DocumentKind::Word;
  const DocumentInspection inspection = InspectBytes(record, {data, size});
  if (inspection.verdict == Verdict::Unchecked) Broken("bytes read back but not checked");
  std::size_t characters = 0;
  for (std::size_t i = 0; i < inspection.preview.size();) {
    const auto lead = static_cast<std::uint8_t>(inspection.preview[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || i + length > inspection.preview.size()) Broken("a preview that is not UTF-8");
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<std::uint8_t>(inspection.preview[i + k]) & 0xC0) != 0x80) Broken("a preview that is not UTF-8");
    }
    i += length;
    ++characters;
  }
  if (characters > kPreviewCharacters) Broken("a preview longer than asked");
#else
  CheckCarve(&VELLUMARK_FUZZ_CARVER, data, size);
#endif
  return 0;
}
