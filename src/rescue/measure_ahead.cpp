#include "rescue/measure_ahead.h"

#include <algorithm>

#include "formats/bzip2/bzip2_end.h"

namespace vellumark {

MeasureAhead::MeasureAhead(SectorSource& source, std::vector<std::int64_t> sectors, std::int64_t lastSector)
    : source_(source), sourceEnd_((lastSector + 1) * source.ScanGeometry().BytesPerSector) {
  const std::int64_t bytesPerSector = source.ScanGeometry().BytesPerSector;
  streams_.reserve(sectors.size());
  for (const std::int64_t sector : sectors) {
    const std::int64_t offset = sector * bytesPerSector;
    if (index_.emplace(offset, streams_.size()).second) streams_.push_back(Stream{offset, Step::Waiting, std::nullopt});
  }
  if (!streams_.empty()) worker_ = std::thread([this] { Work(); });
}

std::vector<std::int64_t> MeasureAhead::StreamsAmong(const std::vector<SectorHit>& hits) {
  std::vector<std::int64_t> sectors;
  for (auto hit = hits.rbegin(); hit != hits.rend(); ++hit) {
    if (hit->code == code::kBzip2) sectors.push_back(hit->sector);
  }
  return sectors;
}

MeasureAhead::~MeasureAhead() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

std::optional<std::int64_t> MeasureAhead::Take(std::int64_t offset) {
  std::unique_lock lock(mutex_);
  const auto found = index_.find(offset);
  if (found == index_.end()) return std::nullopt;
  Stream& stream = streams_[found->second];
  // The carving has come this far: what lies before is never asked for.
  next_ = std::max(next_, found->second + 1);
  if (stream.step == Step::Waiting) {
    stream.step = Step::Taken;
    return std::nullopt;
  }
  changed_.wait(lock, [&] { return stream.step != Step::Measuring; });
  stream.step = Step::Taken;
  return stream.length;
}

void MeasureAhead::Hold(bool held) {
  {
    const std::lock_guard lock(mutex_);
    held_ = held;
  }
  changed_.notify_all();
}

void MeasureAhead::WaitUntilDone() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return done_ || streams_.empty(); });
}

void MeasureAhead::Work() {
  std::unique_lock lock(mutex_);
  // From the last stream the carving comes to, back towards it: the
  // carving measures the first ones itself while this thread measures the
  // last, and neither waits for the other until they meet. Going the
  // carving's way, this thread was always on the stream the carving came
  // to next, and the carving waited for it.
  for (std::size_t last = streams_.size();;) {
    while (last > next_ && streams_[last - 1].step != Step::Waiting) --last;
    if (stopping_ || last <= next_) {
      done_ = true;
      changed_.notify_all();
      return;
    }
    Stream& stream = streams_[--last];
    stream.step = Step::Measuring;
    const std::int64_t offset = stream.offset;
    lock.unlock();
    const std::optional<std::int64_t> length = Measure(offset);
    lock.lock();
    stream.length = length;
    stream.step = Step::Measured;
    changed_.notify_all();
  }
}

namespace {

struct Feeding {
  Bzip2End* end;
  ByteView bytes;
};

void Feed(void* context) {
  auto& feeding = *static_cast<Feeding*>(context);
  feeding.end->Feed(feeding.bytes);
}

}  // namespace

std::optional<std::int64_t> MeasureAhead::Measure(std::int64_t offset) {
  Bzip2End end;
  for (std::int64_t at = offset; end.Current() == Bzip2End::State::Going;) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || !held_; });
      if (stopping_) return std::nullopt;
    }
    const std::int64_t stop = std::min(sourceEnd_, offset + kLongest);
    if (at >= stop) return std::nullopt;
    // The block of the source that holds at, mapped once for every stream
    // that starts or goes on in it: most streams a search finds are not
    // streams and fail within their first bytes, and a source whose every
    // sector looks like a stream's start must not cost a mapping each.
    const std::int64_t block = at / kPiece * kPiece;
    if (mapped_ == nullptr || mappedAt_ != block) {
      mapped_.reset();
      mapped_ = source_.MapAhead(block, std::min(kPiece, sourceEnd_ - block));
      mappedAt_ = block;
      if (mapped_ == nullptr) return std::nullopt;
    }
    const std::int64_t count = std::min(block + static_cast<std::int64_t>(mapped_->Size()), stop) - at;
    Feeding feeding{&end, ByteView(mapped_->Data() + (at - block), static_cast<std::size_t>(count))};
    // A page the drive cannot give ends the measure; the carving meets it.
    if (!source_.ReadMapped(Feed, &feeding)) {
      mapped_.reset();
      return std::nullopt;
    }
    at += count;
  }
  if (end.Current() != Bzip2End::State::Done) return std::nullopt;
  return end.Length();
}

}  // namespace vellumark
