#include "rescue/claim_map.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace vellumark {

// A moved-from or copied-over map must not keep a remembered chunk that now
// belongs to another map or no longer exists.
ClaimMap::ClaimMap(ClaimMap&& other) noexcept
    : chunks_(std::move(other.chunks_)), lastSector_(other.lastSector_) {
  other.Reset();
}

ClaimMap& ClaimMap::operator=(const ClaimMap& other) {
  if (this != &other) {
    chunks_ = other.chunks_;
    lastSector_ = other.lastSector_;
    ForgetLookup();
  }
  return *this;
}

ClaimMap& ClaimMap::operator=(ClaimMap&& other) noexcept {
  if (this != &other) {
    chunks_ = std::move(other.chunks_);
    lastSector_ = other.lastSector_;
    ForgetLookup();
    other.Reset();
  }
  return *this;
}

const ClaimMap::Chunk* ClaimMap::Lookup(std::int64_t index) const {
  if (index != cachedIndex_) {
    const auto it = chunks_.find(index);
    cachedIndex_ = index;
    cachedChunk_ = it == chunks_.end() ? nullptr : &it->second;
  }
  return cachedChunk_;
}

void ClaimMap::ClaimSector(std::int64_t sector) {
  if (!Covers(sector)) return;
  const std::int64_t index = sector / kSectorsPerChunk;
  Chunk& chunk = chunks_[index];
  cachedIndex_ = index;
  cachedChunk_ = &chunk;
  std::uint64_t& word = chunk.words[WordIn(sector)];
  if ((word & Bit(sector)) == 0) {
    word |= Bit(sector);
    ++chunk.claimed;
    const std::size_t w = WordIn(sector);
    chunk.used[w >> 6] |= std::uint64_t{1} << (w & 63);
  }
}

void ClaimMap::ReleaseSector(std::int64_t sector) {
  if (!Covers(sector)) return;
  const std::int64_t index = sector / kSectorsPerChunk;
  const auto it = chunks_.find(index);
  if (it == chunks_.end()) return;
  Chunk& chunk = it->second;
  std::uint64_t& word = chunk.words[WordIn(sector)];
  if ((word & Bit(sector)) == 0) return;
  word &= ~Bit(sector);
  if (word == 0) {
    const std::size_t w = WordIn(sector);
    chunk.used[w >> 6] &= ~(std::uint64_t{1} << (w & 63));
  }
  if (--chunk.claimed == 0) {
    chunks_.erase(it);
    cachedIndex_ = index;
    cachedChunk_ = nullptr;
  }
}

std::int64_t ClaimMap::NthFree(std::int64_t sector, std::int64_t count, std::int64_t* looked) const {
  std::int64_t work = 0;
  const auto done = [&](std::int64_t answer) {
    if (looked != nullptr) *looked += work + 1;
    return answer;
  };
  while (count > 0) {
    if (!Covers(sector)) return done(sector + count - 1);
    ++work;
    const std::int64_t index = sector / kSectorsPerChunk;
    const std::int64_t chunkEnd = std::min((index + 1) * kSectorsPerChunk, lastSector_ + 1);
    const Chunk* chunk = Lookup(index);
    if (chunk == nullptr) {
      if (count <= chunkEnd - sector) return done(sector + count - 1);
      count -= chunkEnd - sector;
      sector = chunkEnd;
      continue;
    }
    while (sector < chunkEnd) {
      ++work;
      const int bit = static_cast<int>(sector & 63);
      if (bit == 0) {
        // Whole free words up to the next one with a claim, in one step.
        const std::size_t w = WordIn(sector);
        const std::uint64_t later = chunk->used[w >> 6] >> (w & 63);
        const std::int64_t freeWords = later == 0 ? 64 - static_cast<std::int64_t>(w & 63) : std::countr_zero(later);
        const std::int64_t free = std::min(freeWords * 64, chunkEnd - sector);
        if (free > 0) {
          if (count <= free) return done(sector + count - 1);
          count -= free;
          sector += free;
          continue;
        }
      }
      const std::int64_t wordEnd = std::min(sector - bit + 64, chunkEnd);
      const auto span = static_cast<int>(wordEnd - sector);
      std::uint64_t free = ~chunk->words[WordIn(sector)] >> bit;
      if (span < 64) free &= (std::uint64_t{1} << span) - 1;
      const int n = std::popcount(free);
      if (count > n) {
        count -= n;
        sector = wordEnd;
        continue;
      }
      for (;; free &= free - 1) {
        if (--count == 0) return done(sector + std::countr_zero(free));
      }
    }
  }
  return done(sector);
}

std::int64_t ClaimMap::CountClaimed() const {
  std::int64_t count = 0;
  for (const auto& [index, chunk] : chunks_) count += chunk.claimed;
  return count;
}

void ClaimMap::Reset() {
  chunks_ = {};
  lastSector_ = -1;
  ForgetLookup();
}

}  // namespace vellumark
