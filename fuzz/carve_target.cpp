// One fuzz target per parser. The input drives an in-memory disk: its first
// bytes choose the cluster layout, which sectors another file has already
// claimed and which sectors cannot be read; the rest is the disk, with the hit
// at sector 0. Whatever the input, a carve attempt must end, must leave the
// claims exactly as they were when it fails and only add to them when it
// succeeds, and a rebuilt document must not exceed 100 MiB.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "access/boot_sector.h"
#include "access/memory_platform_source.h"
#include "access/sector_source.h"
#include "rescue/carvers/carver_table.h"
#include "rescue/carvers/carvers.h"
#include "rescue/claim_map.h"
#include "rescue/report/read_back.h"
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

  SilentPrompt prompt;
  NoPump pump;
  NoProgress progress;
  FrontEnd frontEnd{prompt, pump, progress};
  RescueRun run(source, frontEnd);
  run.claims = ClaimMap(source.ScanGeometry().LastSector);
  run.spc = 1u << (options & 3);
  run.chosenPhase = static_cast<std::int32_t>((options >> 2) % run.spc);
  run.saveFolder = SaveFolder();
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#if defined(VELLUMARK_FUZZ_CLASSIFIER)
  // Whatever the bytes, a sector classifies without reading past 512 bytes.
  const FileTypeCode code = ClassifySector(data, size);
  if (code < 0 || (code > code::kMatroska && code != code::kFatDirectory) || code == 14) Broken("an unknown code");
#elif defined(VELLUMARK_FUZZ_BOOT_SECTOR)
  std::vector<std::uint8_t> sector(data, data + size);
  sector.resize(kBootSectorSize, 0);
  if (const auto info = ParseBootSector(sector.data())) {
    if (info->BytesPerSector < 512 || info->SectorsPerCluster == 0) Broken("a geometry that divides by zero");
    if (info->ClusterPhase < 0 || static_cast<std::uint32_t>(info->ClusterPhase) >= info->SectorsPerCluster) {
      Broken("a phase outside the cluster");
    }
  }
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
