#include "rescue/search_read_ahead.h"

#include <algorithm>

namespace vellumark {

SearchReadAhead::SearchReadAhead(SectorSource& source, std::int64_t firstSector, std::int64_t lastSector)
    : source_(source),
      bytesPerSector_(std::max<std::int64_t>(source.ScanGeometry().BytesPerSector, 1)),
      sectorsPerBlock_(std::max<std::int64_t>(kBlockBytes / bytesPerSector_, 1)),
      firstSector_(firstSector),
      lastSector_(lastSector),
      firstBlock_(firstSector / sectorsPerBlock_),
      lastBlock_(lastSector / sectorsPerBlock_),
      consumerBlock_(firstBlock_) {
  if (firstSector > lastSector) return;
  for (Slot& slot : slots_) slot.bytes.resize(static_cast<std::size_t>(sectorsPerBlock_ * bytesPerSector_));
  source_.AdviseSequential();
  reader_ = std::thread([this] { ReadBlocks(); });
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

void SearchReadAhead::ReadBlocks() {
  try {
    for (std::int64_t block = firstBlock_; block <= lastBlock_; ++block) {
      Slot& slot = slots_[block % 2];
      {
        // The slot is free once the search has moved past the block it held.
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || slot.block < consumerBlock_; });
        if (stop_) return;
      }
      const std::int64_t first = FirstSectorOf(block);
      const std::int64_t last = std::min((block + 1) * sectorsPerBlock_ - 1, lastSector_);
      const std::int64_t offset = first * bytesPerSector_;
      const std::int64_t count = (last - first + 1) * bytesPerSector_;
      const bool whole = source_.ReadAhead(slot.bytes.data(), count, offset);
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

const std::uint8_t* SearchReadAhead::Sector(std::int64_t sector) {
  if (sector < firstSector_ || sector > lastSector_) return nullptr;
  const std::int64_t block = sector / sectorsPerBlock_;
  if (block != heldBlock_) {
    const Slot& slot = slots_[block % 2];
    {
      std::unique_lock<std::mutex> lock(mutex_);
      consumerBlock_ = block;
      changed_.notify_all();
      changed_.wait(lock, [&] { return slot.block == block || failure_ != nullptr; });
      if (slot.block != block) std::rethrow_exception(failure_);
    }
    heldBlock_ = block;
    // Sectors learned unreadable since (or before) the block was read are
    // served as failures, as the window serves them.
    const std::int64_t first = FirstSectorOf(block);
    const std::int64_t last = std::min((block + 1) * sectorsPerBlock_ - 1, lastSector_);
    const bool usable = slot.whole && !source_.HasUnreadableIn(first * bytesPerSector_, (last - first + 1) * bytesPerSector_);
    heldFirstSector_ = first;
    heldBytes_ = usable ? slot.bytes.data() : nullptr;
  }
  return heldBytes_ == nullptr ? nullptr : heldBytes_ + (sector - heldFirstSector_) * bytesPerSector_;
}

}  // namespace vellumark
