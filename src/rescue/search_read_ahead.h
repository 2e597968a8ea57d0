#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "access/sector_source.h"
#include "common/page_aligned.h"

namespace vellumark {

// Reads the sectors a search goes through in large blocks on a thread of its
// own, one block ahead of the classification, so that the disk (or the copy
// out of the page cache) and the classifier work at the same time instead of
// in turn. Blocks are aligned to their size on the source. A block that
// cannot be read whole, or that holds a sector already known to be
// unreadable, is not served: the search reads its sectors the usual way,
// which finds and remembers the bad ones exactly as before.
class SearchReadAhead {
 public:
  static constexpr std::int64_t kBlockBytes = std::int64_t{4} << 20;

  // Sectors firstSector..lastSector, in ascending order.
  SearchReadAhead(SectorSource& source, std::int64_t firstSector, std::int64_t lastSector);
  ~SearchReadAhead();
  SearchReadAhead(const SearchReadAhead&) = delete;
  SearchReadAhead& operator=(const SearchReadAhead&) = delete;

  // The bytes of sector, or nullptr when its block was not read whole. Asked
  // in ascending order: the blocks before sector's are given back for the
  // reader to fill again. Rethrows what the reader met (out of memory).
  const std::uint8_t* Sector(std::int64_t sector);

 private:
  struct Slot {
    PageAlignedBytes bytes;
    std::int64_t block = -1;  // which block the bytes are, once read
    bool whole = false;
  };

  void ReadBlocks();
  std::int64_t FirstSectorOf(std::int64_t block) const;

  SectorSource& source_;
  const std::int64_t bytesPerSector_;
  const std::int64_t sectorsPerBlock_;
  const std::int64_t firstSector_;
  const std::int64_t lastSector_;
  const std::int64_t firstBlock_;
  const std::int64_t lastBlock_;

  std::mutex mutex_;
  std::condition_variable changed_;
  Slot slots_[2];
  std::int64_t consumerBlock_;  // the block the search holds; slots of those before it are free
  bool stop_ = false;
  std::exception_ptr failure_;
  // The search's own view of its current block, taken under the lock once.
  std::int64_t heldBlock_ = -1;
  std::int64_t heldFirstSector_ = 0;
  const std::uint8_t* heldBytes_ = nullptr;  // nullptr when the block is not served
  std::thread reader_;
};

}  // namespace vellumark
