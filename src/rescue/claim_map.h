#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace vellumark {

// One bit per sector of the source, set while the sector belongs to a file
// claimed in this run. Carvers step over set bits, which is what keeps files
// that lie interleaved on a volume apart. Sector numbers beyond the map have
// no bit: claims and releases of them are ignored and they read as free.
//
// The bits live in chunks of kSectorsPerChunk sectors, allocated when a sector
// in them is first claimed and freed when their last claim is released, so
// that the memory follows what this run has claimed rather than the size of
// the source: a petabyte volume costs nothing until files are found on it.
class ClaimMap {
 public:
  // One 4 KiB page of bits, 16 MiB of 512-byte sectors.
  static constexpr std::int64_t kSectorsPerChunk = std::int64_t{1} << 15;

  ClaimMap() = default;
  // A map for sectors 0 through lastSector, all free.
  explicit ClaimMap(std::int64_t lastSector) : lastSector_(lastSector) {}
  ClaimMap(const ClaimMap& other) : chunks_(other.chunks_), lastSector_(other.lastSector_) {}
  ClaimMap(ClaimMap&& other) noexcept;
  ClaimMap& operator=(const ClaimMap& other);
  ClaimMap& operator=(ClaimMap&& other) noexcept;
  ~ClaimMap() = default;

  // May throw std::bad_alloc when the sector's chunk is new.
  void ClaimSector(std::int64_t sector);
  void ReleaseSector(std::int64_t sector);
  bool IsSectorClaimed(std::int64_t sector) const {
    if (!Covers(sector)) return false;
    const Chunk* chunk = Lookup(sector / kSectorsPerChunk);
    return chunk != nullptr && (chunk->words[WordIn(sector)] & Bit(sector)) != 0;
  }

  // The sector that holds the count-th free sector from sector on (count
  // at least 1, sector not negative): where a walk that claims count free
  // sectors, stepping over claimed ones, ends. Word by word, so that a long
  // structure is passed without a step per sector. Sectors beyond the map
  // read as free, so the answer may lie beyond LastSector().
  // looked, when given, grows by the words and chunks looked at.
  std::int64_t NthFree(std::int64_t sector, std::int64_t count, std::int64_t* looked = nullptr) const;
  std::int64_t LastSector() const { return lastSector_; }
  std::int64_t CountClaimed() const;
  // Chunks of bits held now: what the map costs, for callers that watch memory.
  std::size_t AllocatedChunks() const { return chunks_.size(); }
  // Frees the bits (the map then covers nothing).
  void Reset();

 private:
  static constexpr std::size_t kWordsPerChunk = static_cast<std::size_t>(kSectorsPerChunk / 64);

  struct Chunk {
    std::array<std::uint64_t, kWordsPerChunk> words{};
    // A bit per word, set while the word has a claim: NthFree passes the
    // free words between claims without looking at each.
    std::array<std::uint64_t, kWordsPerChunk / 64> used{};
    std::int64_t claimed = 0;  // set bits, so that an empty chunk is freed at once
  };

  bool Covers(std::int64_t sector) const { return sector >= 0 && sector <= lastSector_; }
  static std::size_t WordIn(std::int64_t sector) {
    return static_cast<std::size_t>((sector % kSectorsPerChunk) >> 6);
  }
  static std::uint64_t Bit(std::int64_t sector) { return std::uint64_t{1} << (sector & 63); }
  // The chunk of that index, or null; remembers the answer, since carvers
  // ask about runs of neighbouring sectors.
  const Chunk* Lookup(std::int64_t index) const;
  void ForgetLookup() const {
    cachedIndex_ = -1;
    cachedChunk_ = nullptr;
  }

  std::unordered_map<std::int64_t, Chunk> chunks_;
  std::int64_t lastSector_ = -1;
  // The last lookup (a null chunk: none allocated there). Elements of an
  // unordered_map keep their address until erased, and every erasure and
  // insertion below keeps this up to date.
  mutable std::int64_t cachedIndex_ = -1;
  mutable const Chunk* cachedChunk_ = nullptr;
};

}  // namespace vellumark
