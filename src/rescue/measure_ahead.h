#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "access/mapped_bytes.h"
#include "access/sector_source.h"
#include "rescue/rescue_run.h"

namespace vellumark {

// Measures the bzip2 streams the carving will come to, on a thread of its
// own while the carving goes on: decompressing them is most of what they
// cost, it depends on their bytes alone, and the second core has room while
// the carving keeps the first busy. A stream is measured from the source's
// bytes as they lie, one after another from its start; whether those are
// the bytes the carving would read (no other file claimed a sector among
// them) is for the carving to tell when it comes to the stream.
//
// The outcome never depends on which thread gets there first: the carving
// takes a measure that is done, waits for one under way, and measures a
// stream not yet begun itself (this thread then leaves it), and both
// measure alike. Only a stream found whole is handed over; a broken or
// unfinished one is measured again by the carving, which then also learns
// where it failed. Only an image file's bytes are measured (they are
// mapped); other sources leave every stream to the carving.
class MeasureAhead {
 public:
  // sectors: the streams' first sectors, in the order the carving comes to
  // them; none of a stream is read beyond lastSector.
  MeasureAhead(SectorSource& source, std::vector<std::int64_t> sectors, std::int64_t lastSector);
  ~MeasureAhead();
  // The first sectors of the bzip2 streams among the search's hits, in the
  // order the carving comes to them: highest first.
  static std::vector<std::int64_t> StreamsAmong(const std::vector<SectorHit>& hits);
  MeasureAhead(const MeasureAhead&) = delete;
  MeasureAhead& operator=(const MeasureAhead&) = delete;

  // The length of the stream at offset when it was measured here and found
  // whole (waiting while it is measured); none otherwise, and from then on
  // it is not measured here.
  std::optional<std::int64_t> Take(std::int64_t offset);
  // While held, the thread reads nothing more of the source (the run is
  // paused: a user who pauses a failing disk wants it left alone).
  void Hold(bool held);
  // Waits until the thread has measured every stream it will: a caller that
  // must know the measures are there (a test of the carving's use of them).
  void WaitUntilDone();

  // A stream longer than this is left to the carving: measuring it ahead
  // would only make the carving wait for it.
  static constexpr std::int64_t kLongest = std::int64_t{256} << 20;
  // The source is mapped in blocks of this size, aligned to it.
  static constexpr std::int64_t kPiece = std::int64_t{4} << 20;

 private:
  enum class Step : std::uint8_t { Waiting, Measuring, Measured, Taken };
  struct Stream {
    std::int64_t offset = 0;
    Step step = Step::Waiting;
    std::optional<std::int64_t> length;
  };
  void Work();
  std::optional<std::int64_t> Measure(std::int64_t offset);

  SectorSource& source_;
  const std::int64_t sourceEnd_;  // bytes
  std::vector<Stream> streams_;
  std::unordered_map<std::int64_t, std::size_t> index_;  // by offset
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;  // the first stream the carving has not come to
  bool stopping_ = false;
  bool done_ = false;  // the thread has nothing left to measure
  bool held_ = false;
  // The block of the source mapped last (by the thread alone).
  std::unique_ptr<MappedBytes> mapped_;
  std::int64_t mappedAt_ = -1;
  std::thread worker_;
};

}  // namespace vellumark
