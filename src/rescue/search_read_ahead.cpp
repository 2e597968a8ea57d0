#include "rescue/search_read_ahead.h"

#include <algorithm>
#include <cstring>

#include "rescue/sector_classifier.h"

namespace vellumark {
namespace {

// One block's classification, as a plain function over plain data: over
// mapped bytes it runs where a failed page leaves it without unwinding.
struct BlockClassification {
  const std::uint8_t* bytes;  // of the block's first sector
  std::int64_t bytesPerSector;
  std::int64_t first;  // the first sector classified, counted from the block's first
  std::int64_t count;  // sectors in the block
  std::int64_t stride;
  FileTypeCode* codes;  // one per sector of the block
  // Sectors (counted from the block's first) that look like a volume's
  // boot sector: fixed room, since nothing may be allocated here.
  std::int64_t bootSectors[16];
  int bootCount;
};

// A FAT, FAT32, exFAT or NTFS boot sector's signature and label: a volume
// starts here, whatever table lists it or not.
bool LooksLikeBootSector(const std::uint8_t* sector, std::size_t size) {
  if (size < 512 || sector[510] != 0x55 || sector[511] != 0xAA) return false;
  return std::memcmp(sector + 3, "NTFS    ", 8) == 0 || std::memcmp(sector + 3, "EXFAT   ", 8) == 0 ||
         std::memcmp(sector + 82, "FAT32   ", 8) == 0 || std::memcmp(sector + 54, "FAT12   ", 8) == 0 ||
         std::memcmp(sector + 54, "FAT16   ", 8) == 0;
}

void NoteBootSectors(BlockClassification& block) {
  const auto size = static_cast<std::size_t>(block.bytesPerSector);
  for (std::int64_t i = 0; i < block.count && block.bootCount < 16; ++i) {
    if (LooksLikeBootSector(block.bytes + i * block.bytesPerSector, size)) block.bootSectors[block.bootCount++] = i;
  }
}

void ClassifyBlock(void* context) {
  auto& block = *static_cast<BlockClassification*>(context);
  const auto size = static_cast<std::size_t>(block.bytesPerSector);
  NoteBootSectors(block);
  if (block.stride <= 1) {
    for (std::int64_t i = block.first; i < block.count; ++i) {
      block.codes[i] = ClassifySector(block.bytes + i * block.bytesPerSector, size);
    }
    return;
  }
  // Off the cluster starts only a document's header is looked for.
  for (std::int64_t i = 0; i < block.count; ++i) {
    const std::uint8_t* sector = block.bytes + i * block.bytesPerSector;
    block.codes[i] = (i - block.first) % block.stride == 0 ? ClassifySector(sector, size)
                                                            : ClassifyDocumentHeader(sector, size);
  }
}

}  // namespace

SearchReadAhead::SearchReadAhead(SectorSource& source, std::int64_t firstSector, std::int64_t lastSector,
                                 std::int64_t stride, std::int64_t phase)
    : source_(source),
      bytesPerSector_(std::max<std::int64_t>(source.ScanGeometry().BytesPerSector, 1)),
      sectorsPerBlock_(std::max<std::int64_t>(kBlockBytes / bytesPerSector_, 1)),
      firstSector_(firstSector),
      lastSector_(lastSector),
      firstBlock_(firstSector / sectorsPerBlock_),
      lastBlock_(lastSector / sectorsPerBlock_),
      stride_(std::max<std::int64_t>(stride, 1)),
      phase_(((phase % stride_) + stride_) % stride_),
      consumerBlock_(firstBlock_) {
  if (firstSector > lastSector) return;
  codes_.resize(static_cast<std::size_t>(sectorsPerBlock_));
  source_.AdviseSequential();
  reader_ = std::thread([this] { BringBlocks(); });
}

SearchReadAhead::~SearchReadAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (reader_.joinable()) reader_.join();
}

std::int64_t SearchReadAhead::FirstSectorOf(std::int64_t block) const {
  return std::max(block * sectorsPerBlock_, firstSector_);
}

std::int64_t SearchReadAhead::LastSectorOf(std::int64_t block) const {
  return std::min((block + 1) * sectorsPerBlock_ - 1, lastSector_);
}

std::int64_t SearchReadAhead::BytesOf(std::int64_t block) const {
  return (LastSectorOf(block) - FirstSectorOf(block) + 1) * bytesPerSector_;
}

void SearchReadAhead::BringBlocks() {
  // Each block's read is asked for as the block before it is brought, so
  // that a disk always has the next one to read: a mapped block's pages are
  // otherwise read a few at a time as they are touched, one wait each.
  auto adviseBlock = [&](std::int64_t block) {
    if (block <= lastBlock_) source_.AdviseWillNeed(FirstSectorOf(block) * bytesPerSector_, BytesOf(block));
  };
  try {
    adviseBlock(firstBlock_);
    for (std::int64_t block = firstBlock_; block <= lastBlock_; ++block) {
      Slot& slot = slots_[block % kSlots];
      {
        // The slot is free once the search has moved past the block it held.
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || slot.block < consumerBlock_; });
        if (stop_) return;
      }
      adviseBlock(block + 1);
      const std::int64_t offset = FirstSectorOf(block) * bytesPerSector_;
      const std::int64_t count = BytesOf(block);
      slot.mapped.reset();
      slot.mapped = source_.MapAhead(offset, count);
      bool whole = slot.mapped != nullptr;
      if (!whole) {
        slot.bytes.resize(static_cast<std::size_t>(sectorsPerBlock_ * bytesPerSector_));
        whole = source_.ReadAhead(slot.bytes.data(), count, offset);
      }
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        slot.block = block;
        slot.whole = whole;
      }
      changed_.notify_all();
    }
  } catch (...) {
    const std::lock_guard<std::mutex> lock(mutex_);
    failure_ = std::current_exception();
    changed_.notify_all();
  }
}

bool SearchReadAhead::TakeBlockOf(std::int64_t sector) {
  if (sector < firstSector_ || sector > lastSector_) return false;
  const std::int64_t block = sector / sectorsPerBlock_;
  const Slot& slot = slots_[block % kSlots];
  {
    std::unique_lock<std::mutex> lock(mutex_);
    consumerBlock_ = block;
    changed_.notify_all();
    changed_.wait(lock, [&] { return slot.block == block || failure_ != nullptr; });
    if (slot.block != block) std::rethrow_exception(failure_);
  }
  heldFirstSector_ = FirstSectorOf(block);
  heldLastSector_ = LastSectorOf(block);
  // Sectors learned unreadable since (or before) the block was brought are
  // served as failures, as the window serves them.
  const std::int64_t count = heldLastSector_ - heldFirstSector_ + 1;
  heldServed_ = slot.whole && !source_.HasUnreadableIn(heldFirstSector_ * bytesPerSector_, count * bytesPerSector_);
  if (!heldServed_) return false;
  BlockClassification classification{
      slot.mapped ? slot.mapped->Data() : slot.bytes.data(), bytesPerSector_,
      ((phase_ - heldFirstSector_ % stride_) + stride_) % stride_, count, stride_, codes_.data(), {}, 0};
  if (slot.mapped) {
    heldServed_ = source_.ReadMapped(ClassifyBlock, &classification);
  } else {
    ClassifyBlock(&classification);
  }
  if (heldServed_) {
    for (int i = 0; i < classification.bootCount && bootSectors_.size() < kMostBootSectors; ++i) {
      bootSectors_.push_back(heldFirstSector_ + classification.bootSectors[i]);
    }
  }
  return heldServed_;
}

}  // namespace vellumark
