#pragma once

#include <cstdint>
#include <vector>

namespace vellumark {

// One bit per sector of the source, set while the sector belongs to a file
// claimed in this run. Carvers step over set bits, which is what keeps files
// that lie interleaved on a volume apart. Sector numbers beyond the map have
// no bit: claims and releases of them are ignored and they read as free.
class ClaimMap {
 public:
  ClaimMap() = default;
  // A map for sectors 0 through lastSector, all free.
  explicit ClaimMap(std::int64_t lastSector);

  void ClaimSector(std::int64_t sector) {
    if (Covers(sector)) words_[Word(sector)] |= Bit(sector);
  }
  void ReleaseSector(std::int64_t sector) {
    if (Covers(sector)) words_[Word(sector)] &= ~Bit(sector);
  }
  bool IsSectorClaimed(std::int64_t sector) const {
    return Covers(sector) && (words_[Word(sector)] & Bit(sector)) != 0;
  }

  std::int64_t LastSector() const { return lastSector_; }
  std::int64_t CountClaimed() const;
  // Frees the bits (the map then covers nothing).
  void Reset();

 private:
  bool Covers(std::int64_t sector) const { return sector >= 0 && sector <= lastSector_; }
  static std::size_t Word(std::int64_t sector) { return static_cast<std::size_t>(sector >> 5); }
  static std::uint32_t Bit(std::int64_t sector) { return 1u << (sector & 31); }

  std::vector<std::uint32_t> words_;
  std::int64_t lastSector_ = -1;
};

}  // namespace vellumark
