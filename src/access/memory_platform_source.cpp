#include "access/memory_platform_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vellumark {

MemoryPlatformSource::Entry& MemoryPlatformSource::Add(const std::string& path,
                                                       std::vector<std::uint8_t> bytes) {
  Entry& entry = entries_[path];
  entry = Entry{};
  entry.bytes = std::move(bytes);
  return entry;
}

MemoryPlatformSource::Entry* MemoryPlatformSource::Find(const std::string& path) {
  auto it = entries_.find(path);
  return it == entries_.end() ? nullptr : &it->second;
}

bool MemoryPlatformSource::Fails(std::int64_t offset, std::int64_t count) const {
  return std::any_of(failures_.begin(), failures_.end(), [&](const Range& bad) {
    return offset < bad.offset + bad.length && bad.offset < offset + count;
  });
}

void MemoryPlatformSource::FailReads(std::int64_t offset, std::int64_t length) {
  failures_.push_back({offset, length});
}

bool MemoryPlatformSource::Open(const std::string& path) {
  Close();
  open_ = Find(path);
  openFailure_ = open_ != nullptr ? OpenFailure{} : OpenFailure{ENOENT, RefusedKind::None};
  return open_ != nullptr;
}

std::optional<std::int64_t> MemoryPlatformSource::PartitionLength() {
  if (!open_) return std::nullopt;
  if (open_->lengthQueryFails) {
    openFailure_ = {EIO, RefusedKind::None};
    return std::nullopt;
  }
  return open_->Length();
}

std::optional<std::uint32_t> MemoryPlatformSource::PartitionSectorSize() {
  return open_ ? open_->sectorSize : std::nullopt;
}

std::int64_t MemoryPlatformSource::Seek(std::int64_t offset, SeekOrigin origin) {
  if (!open_) return -1;
  std::int64_t base = origin == SeekOrigin::End ? open_->Length() : 0;
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return -1;
  position_ = base + offset;
  return position_;
}

std::int64_t MemoryPlatformSource::Read(void* destination, std::size_t count) {
  const std::int64_t got = ReadAt(destination, count, position_);
  if (got > 0) position_ += got;
  return got;
}

std::int64_t MemoryPlatformSource::ReadAt(void* destination, std::size_t count, std::int64_t position) {
  ++readCalls_;
  if (!open_ || position < 0) return -1;
  const std::int64_t want = static_cast<std::int64_t>(count);
  if (Fails(position, want)) {
    // A disk may leave anything in the buffer of a read that failed.
    std::memset(destination, 0xEE, count);
    ++failedReadCalls_;
    return -1;
  }
  const std::int64_t got = std::clamp<std::int64_t>(open_->Length() - position, 0, want);
  const std::int64_t stored = std::clamp<std::int64_t>(static_cast<std::int64_t>(open_->bytes.size()) - position, 0, got);
  auto* out = static_cast<std::uint8_t*>(destination);
  if (stored > 0) std::memcpy(out, open_->bytes.data() + position, static_cast<std::size_t>(stored));
  if (got > stored) std::memset(out + stored, 0, static_cast<std::size_t>(got - stored));
  return got;
}

namespace {

class MemoryMappedBytes final : public MappedBytes {
 public:
  MemoryMappedBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  const std::uint8_t* Data() const override { return data_; }
  std::size_t Size() const override { return size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace

std::unique_ptr<MappedBytes> MemoryPlatformSource::Map(std::int64_t offset, std::int64_t count) {
  if (!open_ || !open_->mappable || offset < 0 || count <= 0 ||
      offset > static_cast<std::int64_t>(open_->bytes.size()) - count) {
    return nullptr;
  }
  if (Fails(offset, count)) return nullptr;
  ++mapCalls_;
  return std::make_unique<MemoryMappedBytes>(open_->bytes.data() + offset, static_cast<std::size_t>(count));
}

void MemoryPlatformSource::Close() {
  open_ = nullptr;
  position_ = 0;
}

}  // namespace vellumark
