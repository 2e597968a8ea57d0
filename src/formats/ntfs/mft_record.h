#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_view.h"

namespace vellumark {

// What an NTFS boot sector says about where the volume's clusters and its
// master file table lie.
struct NtfsBootFacts {
  std::uint32_t bytesPerSector = 0;
  std::uint32_t sectorsPerCluster = 0;
  std::uint64_t totalSectors = 0;
  std::uint64_t mftCluster = 0;
  std::uint32_t recordSize = 0;  // bytes of one file record
};
std::optional<NtfsBootFacts> ParseNtfsBootSector(ByteView sector);

// A stretch of clusters a non-resident attribute's data lies in; a sparse
// stretch (no clusters on the disk, read as zeros) has no cluster.
struct DataRun {
  std::optional<std::uint64_t> cluster;
  std::uint64_t length = 0;  // clusters

  friend bool operator==(const DataRun&, const DataRun&) = default;
};

// The runs a run list encodes (length and signed offset from the previous
// run's cluster, each of a width its header byte gives); nothing when the
// list runs past the bytes, a run is empty or a cluster falls below zero.
std::optional<std::vector<DataRun>> ParseDataRuns(ByteView list);

// One $FILE_NAME attribute: the name in one of its namespaces and the
// folder's record it lies in, with the times it holds (seconds since 1970,
// UTC).
struct NtfsFileName {
  std::string name;  // UTF-8
  std::uint64_t parentRecord = 0;  // the low 48 bits of the reference
  std::uint16_t parentSequence = 0;
  std::uint8_t nameSpace = 0;
  std::int64_t created = 0;
  std::int64_t modified = 0;
};

// What a file record says of its file: whether the record is in use (a
// deleted file's is not), its names, and its unnamed $DATA attribute.
struct MftRecordFacts {
  bool inUse = false;
  bool directory = false;
  std::uint16_t sequence = 0;
  std::optional<std::uint32_t> recordNumber;  // where the record states it
  std::uint64_t baseRecord = 0;               // nonzero in an extension record
  std::vector<NtfsFileName> names;
  bool hasData = false;
  bool dataResident = false;
  std::uint64_t dataSize = 0;
  std::uint64_t firstVcn = 0;
  std::vector<DataRun> runs;  // of a non-resident $DATA

  // The name to show: the long (Win32 or POSIX) one where there is one.
  const NtfsFileName* PreferredName() const;
};

// Reads a file record from its bytes (the record's allocated size, which
// must be a whole number of 512-byte strides): checks the "FILE" signature,
// applies the update sequence to a copy (a stride whose last two bytes do
// not hold the sequence number was torn and fails the record), then walks
// the attributes.
std::optional<MftRecordFacts> ParseMftRecord(ByteView record);

// Seconds since 1970 of a Windows FILETIME (100 ns since 1601).
std::int64_t FileTimeToUnix(std::uint64_t fileTime);

}  // namespace vellumark
