#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "access/mapped_bytes.h"
#include "access/sector_source.h"
#include "common/page_aligned.h"
#include "rescue/file_type_code.h"

namespace vellumark {

// Brings the sectors a search goes through in large blocks on a thread of
// its own, a few blocks ahead of the classification, so that the disk (or the
// page cache) and the classifier work at the same time instead of in turn,
// and classifies each block as the search reaches it. Blocks are aligned to
// their size on the source. An image file's blocks are mapped into memory
// and classified in place: a cached image is then searched faster than it
// could be copied out. Other sources' blocks are read. A block that cannot
// be brought whole, that holds a sector already known to be unreadable, or
// whose mapped pages fail while it is classified, is not served: the search
// reads its sectors one at a time, which finds and remembers the bad ones.
class SearchReadAhead {
 public:
  static constexpr std::int64_t kBlockBytes = std::int64_t{4} << 20;

  // Sectors firstSector..lastSector, in ascending order; of them, those
  // whose number leaves phase when divided by stride (the cluster starts)
  // are classified, and the others only for a document's header
  // (ClassifyDocumentHeader).
  SearchReadAhead(SectorSource& source, std::int64_t firstSector, std::int64_t lastSector, std::int64_t stride = 1,
                  std::int64_t phase = 0);
  ~SearchReadAhead();
  SearchReadAhead(const SearchReadAhead&) = delete;
  SearchReadAhead& operator=(const SearchReadAhead&) = delete;

  // What ClassifySector makes of sector (ClassifyDocumentHeader off the
  // cluster starts), or none when its block was not served. Asked in ascending
  // order: the blocks before sector's are given back for the reader to fill
  // again. Rethrows what the reader met (out of memory).
  std::optional<FileTypeCode> Code(std::int64_t sector) {
    if (sector >= heldFirstSector_ && sector <= heldLastSector_) return HeldCode(sector);
    return TakeBlockOf(sector) ? HeldCode(sector) : std::nullopt;
  }

  // The sectors of the blocks served so far that look like a volume's boot
  // sector (FAT, FAT32, exFAT, NTFS), ascending; at most kMostBootSectors.
  static constexpr std::size_t kMostBootSectors = 4096;
  const std::vector<std::int64_t>& BootSectors() const { return bootSectors_; }

 private:
  struct Slot {
    std::unique_ptr<MappedBytes> mapped;
    PageAlignedBytes bytes;  // when the block is read instead
    std::int64_t block = -1;  // which block the slot holds, once brought
    bool whole = false;
  };

  void BringBlocks();
  std::int64_t FirstSectorOf(std::int64_t block) const;
  std::int64_t LastSectorOf(std::int64_t block) const;
  // The bytes of the range's sectors in block.
  std::int64_t BytesOf(std::int64_t block) const;
  // Makes sector's block the held one and classifies it; false when the
  // block is outside the range or not served.
  bool TakeBlockOf(std::int64_t sector);
  std::optional<FileTypeCode> HeldCode(std::int64_t sector) const {
    if (!heldServed_) return std::nullopt;
    return codes_[static_cast<std::size_t>(sector - heldFirstSector_)];
  }

  SectorSource& source_;
  const std::int64_t bytesPerSector_;
  const std::int64_t sectorsPerBlock_;
  const std::int64_t firstSector_;
  const std::int64_t lastSector_;
  const std::int64_t firstBlock_;
  const std::int64_t lastBlock_;
  const std::int64_t stride_;
  const std::int64_t phase_;  // 0 <= phase_ < stride_

  std::mutex mutex_;
  std::condition_variable changed_;
  // Blocks brought and not yet classified, and the one being classified:
  // with only two, the reader and the classifier took turns whenever one
  // block cost either of them more than the next (a block of documents
  // classifies slower than one of noise; unmapping a block waits for the
  // other core), and both cores stood idle a third of the search.
  static constexpr std::int64_t kSlots = 4;
  Slot slots_[kSlots];
  std::int64_t consumerBlock_;  // the block the search holds; slots of those before it are free
  bool stop_ = false;
  std::exception_ptr failure_;
  // The search's own view of its current block, taken under the lock once.
  std::int64_t heldFirstSector_ = 0;
  std::int64_t heldLastSector_ = -1;
  bool heldServed_ = false;
  std::vector<FileTypeCode> codes_;  // of the held block's sectors, from its first
  std::vector<std::int64_t> bootSectors_;
  std::thread reader_;
};

}  // namespace vellumark
