// The files NTFS's master file table lists, deleted ones among them until
// their records are used again.
#include <map>

#include "formats/ntfs/mft_record.h"
#include "rescue/volume_records.h"

namespace vellumark {

namespace {

constexpr std::uint64_t kRootRecord = 5;
constexpr int kDeepestFolder = 64;
constexpr std::uint64_t kMostRecords = 4'000'000;
constexpr std::uint64_t kChunkBytes = 1 << 20;

struct Entry {
  std::string name;
  std::uint64_t parent = 0;
  bool directory = false;
};

std::string FolderOf(const std::map<std::uint64_t, Entry>& entries, std::uint64_t parent) {
  std::string path;
  for (int depth = 0; depth < kDeepestFolder && parent != kRootRecord; ++depth) {
    const auto it = entries.find(parent);
    if (it == entries.end() || !it->second.directory) return path.empty() ? "?" : "?/" + path;
    path = path.empty() ? it->second.name : it->second.name + "/" + path;
    parent = it->second.parent;
  }
  return path;
}

}  // namespace

void ReadNtfsRecords(SectorSource& source, const VolumeRegion& region, std::vector<OriginalFile>& files) {
  const auto boot = ReadSourceBytes(source, region.firstSector, 512);
  if (!boot) return;
  const auto facts = ParseNtfsBootSector(ByteView(boot->data(), boot->size()));
  if (!facts) return;
  const std::int64_t sectorBytes = source.ScanGeometry().BytesPerSector;
  const std::uint64_t clusterBytes = std::uint64_t{facts->sectorsPerCluster} * facts->bytesPerSector;
  const auto sectorOf = [&](std::uint64_t cluster) {
    return region.firstSector + static_cast<std::int64_t>(cluster * clusterBytes / sectorBytes);
  };
  const auto first = ReadSourceBytes(source, sectorOf(facts->mftCluster), facts->recordSize);
  if (!first) return;
  const auto mft = ParseMftRecord(ByteView(first->data(), first->size()));
  if (!mft || mft->runs.empty()) return;

  // Every record in table order. The $MFT's runs say where its bytes lie;
  // a record may straddle two runs (a run of an odd number of 512-byte
  // clusters ends inside one), so the runs are read as one stream.
  std::map<std::uint64_t, Entry> entries;
  std::vector<std::pair<std::uint64_t, MftRecordFacts>> withData;
  std::uint64_t number = 0;
  std::vector<std::uint8_t> stream;
  const auto takeRecords = [&](bool readable) {
    std::size_t at = 0;
    for (; stream.size() - at >= facts->recordSize && number < kMostRecords; at += facts->recordSize, ++number) {
      if (!readable) continue;
      const auto parsed = ParseMftRecord(ByteView(stream.data() + at, facts->recordSize));
      if (!parsed || parsed->baseRecord != 0) continue;
      const NtfsFileName* name = parsed->PreferredName();
      if (name == nullptr) continue;
      entries[number] = {name->name, name->parentRecord, parsed->directory};
      if (!parsed->directory && parsed->hasData && !parsed->dataResident && parsed->firstVcn == 0) {
        withData.emplace_back(number, *parsed);
      }
    }
    stream.erase(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(at));
  };
  for (const DataRun& run : mft->runs) {
    const std::uint64_t runBytes = run.length * clusterBytes;
    for (std::uint64_t offset = 0; offset < runBytes && number < kMostRecords; offset += kChunkBytes) {
      const std::uint64_t count = std::min(kChunkBytes, runBytes - offset);
      std::optional<std::vector<std::uint8_t>> chunk;
      if (run.cluster) chunk = ReadSourceBytes(source, sectorOf(*run.cluster) + static_cast<std::int64_t>(offset / sectorBytes), count);
      if (!chunk) {
        // Unreadable or sparse: its records are counted, not read.
        stream.resize(stream.size() + count);
        takeRecords(false);
        continue;
      }
      stream.insert(stream.end(), chunk->begin(), chunk->end());
      takeRecords(true);
    }
  }

  for (const auto& [record, facts0] : withData) {
    if (files.size() >= kMostFiles) break;
    const NtfsFileName& name = *facts0.PreferredName();
    if (name.name.empty() || name.name.front() == '$') continue;  // the file system's own files
    OriginalFile file;
    file.name = name.name;
    file.folder = FolderOf(entries, name.parentRecord);
    file.created = UtcText(name.created);
    file.modified = UtcText(name.modified);
    file.size = facts0.dataSize;
    file.deleted = !facts0.inUse;
    file.volumeStart = region.firstSector;
    bool whole = true;
    std::uint64_t covered = 0;
    for (const DataRun& run : facts0.runs) {
      if (!run.cluster) {
        whole = false;
        break;
      }
      const std::int64_t at = sectorOf(*run.cluster);
      const auto count = static_cast<std::int64_t>(run.length * clusterBytes / sectorBytes);
      if (!file.runs.empty() && file.runs.back().first + file.runs.back().count == at) {
        file.runs.back().count += count;
      } else {
        file.runs.push_back({at, count});
      }
      covered += run.length * clusterBytes;
    }
    if (file.runs.empty()) continue;
    file.firstSector = file.runs.front().first;
    if (!whole || covered < file.size) file.runs.clear();  // sparse, or the runs go on in another record
    files.push_back(std::move(file));
  }
}

}  // namespace vellumark
