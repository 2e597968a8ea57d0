// TIFF, either byte order: the file ends with the furthest byte that any
// image file directory refers to: the directories themselves (the chain from
// the header, SubIFDs, the Exif and GPS directories), their entries' values
// stored out of line, and the image data (strips or tiles, an old-style JPEG
// thumbnail). Directories and value arrays are read in the order they lie in
// the file; the image data between them is claimed unread. A structure that
// lies behind what the walk has already passed (more than 64 sectors back)
// cannot be read again, and the file is then not claimed.
#include <algorithm>
#include <queue>
#include <vector>

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestTiff = std::uint64_t{4} << 30;
constexpr std::size_t kMostDirectories = 1024;
constexpr std::uint64_t kMostEntries = 1 << 16;  // over all directories
constexpr std::uint64_t kMostValues = 1 << 20;   // offsets and counts read, over all directories
constexpr std::uint64_t kEntry = 12;

enum Tag : std::uint16_t {
  kStripOffsets = 273,
  kStripByteCounts = 279,
  kTileOffsets = 324,
  kTileByteCounts = 325,
  kSubIfds = 330,
  kJpegOffset = 513,
  kJpegLength = 514,
  kExifIfd = 34665,
  kGpsIfd = 34853,
  kInteroperabilityIfd = 40965,
};

// Which value list of a directory an entry fills.
enum Slot { kOffsets, kCounts, kTileOffs, kTileCounts, kThumbOffset, kThumbLength, kSlots, kChild = kSlots };

struct Directory {
  std::vector<std::uint64_t> values[kSlots];
};

struct Pending {
  std::uint64_t offset;
  std::uint64_t count;    // values in an array; 0 for a directory
  std::uint16_t type;     // of the values
  std::size_t directory;  // whose slot the values fill
  int slot;
  bool operator>(const Pending& other) const { return offset > other.offset; }
};

std::uint64_t TypeSize(std::uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;  // unknown types are skipped, as readers do
  }
}

class Walk {
 public:
  Walk(CarveAttempt& attempt, bool big) : window_(attempt), big_(big) {}

  bool Run(std::uint64_t first) {
    if (!Push({first, 0, 0, 0, kChild})) return false;
    while (!pending_.empty()) {
      const Pending next = pending_.top();
      pending_.pop();
      if (!(next.count == 0 ? ReadDirectory(next.offset) : ReadValues(next))) return false;
    }
    for (const Directory& d : directories_) {
      if (!AddData(d.values[kOffsets], d.values[kCounts]) || !AddData(d.values[kTileOffs], d.values[kTileCounts]) ||
          !AddData(d.values[kThumbOffset], d.values[kThumbLength])) {
        return false;
      }
    }
    return end_ <= kLargestTiff && window_.ClaimTo(end_);
  }

 private:
  std::optional<std::uint16_t> U16(ByteView bytes, std::uint64_t at) const {
    return big_ ? bytes.Be16(at) : bytes.Le16(at);
  }
  std::optional<std::uint32_t> U32(ByteView bytes, std::uint64_t at) const {
    return big_ ? bytes.Be32(at) : bytes.Le32(at);
  }
  std::optional<std::uint64_t> Value(ByteView bytes, std::uint64_t at, std::uint16_t type) const {
    if (type == 3) return U16(bytes, at);
    return U32(bytes, at);
  }

  void Reach(std::uint64_t end) { end_ = std::max(end_, end); }

  bool Push(const Pending& p) {
    if (p.offset < 8 || p.offset > kLargestTiff) return false;
    if (p.count == 0) {
      if (std::find(seen_.begin(), seen_.end(), p.offset) != seen_.end()) return false;  // a loop
      if (seen_.size() == kMostDirectories) return false;
      seen_.push_back(p.offset);
    }
    pending_.push(p);
    return true;
  }

  bool ReadDirectory(std::uint64_t offset) {
    const auto n = window_.At(offset, 2);
    const auto count = n ? U16(*n, 0) : std::nullopt;
    if (!count) return false;
    const std::uint64_t entries = *count;
    entries_ += entries;
    if (entries == 0 || entries_ > kMostEntries) return false;
    const std::uint64_t size = 2 + entries * kEntry + 4;
    const auto d = window_.At(offset, size);
    if (!d) return false;
    Reach(offset + size);
    const std::size_t index = directories_.size();
    directories_.emplace_back();
    for (std::uint64_t i = 0; i < entries; ++i) {
      const auto entry = d->Bytes(2 + i * kEntry, kEntry);
      if (!entry || !ReadEntry(*entry, index)) return false;
    }
    const auto following = U32(*d, size - 4);
    if (!following) return false;
    return *following == 0 || Push({*following, 0, 0, 0, kChild});
  }

  bool ReadEntry(ByteView e, std::size_t directory) {
    const auto tagField = U16(e, 0), typeField = U16(e, 2);
    const auto countField = U32(e, 4), atField = U32(e, 8);
    if (!tagField || !typeField || !countField || !atField) return false;
    const std::uint16_t tag = *tagField, type = *typeField;
    const std::uint64_t count = *countField, unit = TypeSize(type);
    if (unit == 0) return true;
    const std::uint64_t size = count * unit;
    const std::uint64_t at = *atField;
    if (size > 4) Reach(at + size);
    int slot = -1;
    switch (tag) {
      case kStripOffsets: slot = kOffsets; break;
      case kStripByteCounts: slot = kCounts; break;
      case kTileOffsets: slot = kTileOffs; break;
      case kTileByteCounts: slot = kTileCounts; break;
      case kJpegOffset: slot = kThumbOffset; break;
      case kJpegLength: slot = kThumbLength; break;
      case kSubIfds: case kExifIfd: case kGpsIfd: case kInteroperabilityIfd: slot = kChild; break;
      default: return true;
    }
    // Offsets and counts are SHORT or LONG (directories LONG or IFD).
    const bool isShort = type == 3, isLong = type == 4 || type == 13;
    if (!(slot == kChild ? isLong : isShort || isLong)) return false;
    if (count == 0) return true;
    values_ += count;
    if (values_ > kMostValues) return false;
    if (size <= 4) {
      for (std::uint64_t i = 0; i < count; ++i) {
        const auto value = Value(e, 8 + i * unit, type);
        if (!value || !Take(*value, directory, slot)) return false;
      }
      return true;
    }
    return Push({at, count, type, directory, slot});
  }

  bool ReadValues(const Pending& p) {
    const std::uint64_t unit = TypeSize(p.type);
    const auto v = window_.At(p.offset, p.count * unit);
    if (!v) return false;
    for (std::uint64_t i = 0; i < p.count; ++i) {
      const auto value = Value(*v, i * unit, p.type);
      if (!value || !Take(*value, p.directory, p.slot)) return false;
    }
    return true;
  }

  bool Take(std::uint64_t value, std::size_t directory, int slot) {
    if (slot == kChild) return Push({value, 0, 0, 0, kChild});
    directories_[directory].values[slot].push_back(value);
    return true;
  }

  // Image data: each offset with its count, the lists of equal length.
  bool AddData(const std::vector<std::uint64_t>& offsets, const std::vector<std::uint64_t>& counts) {
    if (offsets.size() != counts.size()) return false;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      if (counts[i] != 0) Reach(offsets[i] + counts[i]);
    }
    return true;
  }

  ForwardWindow window_;
  const bool big_;
  std::priority_queue<Pending, std::vector<Pending>, std::greater<>> pending_;
  std::vector<std::uint64_t> seen_;
  std::vector<Directory> directories_;
  std::uint64_t entries_ = 0;
  std::uint64_t values_ = 0;
  std::uint64_t end_ = 8;
};

}  // namespace

void TiffCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  const ByteView h = attempt.View();
  const bool little = h.Equals(0, signature::kTiffLittle), big = h.Equals(0, signature::kTiffBig);
  if (!little && !big) return;
  const auto first = big ? h.Be32(4) : h.Le32(4);
  if (!first) return;
  Walk walk(attempt, big);
  if (walk.Run(*first)) attempt.Succeed();
}

}  // namespace vellumark
