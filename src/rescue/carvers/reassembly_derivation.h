#pragma once

// What a compound file's bookkeeping, as one placement of its clusters has
// it, says of the rest of the file: the header gives the FAT, the FAT the
// directory, the directory the streams, Word's FIB and piece table where
// its text lies. Each of those says which check each sector of the file
// must pass.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rescue/carvers/reassembly_checks.h"

namespace vellumark::reassembly {

using Bytes = std::vector<std::uint8_t>;

// The file's sector f (0 is the header) lies in the file's cluster
// UnitOf(f); the first cluster is the header's, however many sectors of it
// were free.
struct ClusterLayout {
  std::size_t headerSectors = 1;
  std::size_t clusterSectors = 1;

  std::size_t UnitOf(std::size_t f) const { return f < headerSectors ? 0 : 1 + (f - headerSectors) / clusterSectors; }
  std::size_t FirstSectorOf(std::size_t unit) const { return unit == 0 ? 0 : headerSectors + (unit - 1) * clusterSectors; }
};

// Where each block of a stream lies in the file: the file's sector and the
// offset in it. A stream below the cutoff lives in 64-byte blocks of the
// mini stream, itself the root entry's chain of sectors.
struct StreamMap {
  std::size_t block = kSector;
  std::vector<std::pair<std::size_t, std::uint32_t>> places;
  std::uint32_t size = 0;
};

// The streams directly under the root storage, by name: their first sector
// (or block) and size.
using RootStreams = std::map<std::string, std::pair<std::uint32_t, std::uint32_t>>;
using Checks = std::map<std::size_t, std::vector<Check>>;  // by the file's sector (0 is the header)

class Derivation {
 public:
  explicit Derivation(ClusterLayout layout) : layout_(layout) {}

  // Reads the image as last placed and notes every check its bookkeeping
  // allows, as far as the parts read so far are sound. Returns the number
  // of the file's clusters the checks reach; 0 when the header cannot be
  // this file's.
  std::size_t Derive(const Bytes& image);

  const ClusterLayout& Layout() const { return layout_; }
  const Checks& SectorChecks() const { return checks_; }
  const std::vector<std::uint32_t>& FatSectors() const { return fatSectors_; }
  std::size_t FileSectors() const { return fileSectors_; }  // with the header; 0 until the FAT is read
  const Bytes& Directory() const { return directory_; }
  const RootStreams& Streams() const { return streams_; }

  StreamMap MapStream(std::uint32_t start, std::uint32_t size) const;
  // A stream's bytes as the image holds them, or nothing when its chain is
  // short or leaves the image.
  std::optional<Bytes> StreamBytes(const Bytes& image, const StreamMap& map) const;

 private:
  struct Piece {
    std::size_t offset;
    std::size_t count;
    std::size_t width;
  };

  void Add(std::size_t f, Check check);
  std::size_t DeriveStreams(const Bytes& image, std::size_t units);
  template <typename MakeCheck>
  void AddAlong(const StreamMap& map, std::size_t offset, std::size_t count, MakeCheck make);
  void AddText(const StreamMap& wordChain, const std::vector<Piece>& pieces);
  void AddRising(const StreamMap& chain, std::size_t offset, std::size_t count);
  void AddWordChecks(const Bytes& image, const Bytes& word, const StreamMap& wordChain);
  static std::vector<Piece> Pieces(ByteView stream, std::uint32_t fcClx, std::uint32_t lcbClx, std::size_t wordSize,
                                   std::size_t oldWidth);
  RootStreams ReadRootStreams() const;

  ClusterLayout layout_;
  Checks checks_;
  std::vector<std::uint32_t> fatSectors_;
  std::size_t fileSectors_ = 0;
  std::size_t highestChecked_ = 0;
  Bytes directory_;
  std::vector<std::uint32_t> fat_, miniFat_, rootChain_;
  std::uint32_t cutoff_ = 4096;
  RootStreams streams_;
};

// A chain of the table from start, as far as it is sound; at most limit entries.
std::vector<std::uint32_t> Chain(const std::vector<std::uint32_t>& table, std::uint32_t start, std::size_t limit);

}  // namespace vellumark::reassembly
