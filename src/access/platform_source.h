#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "access/device_stack.h"
#include "access/mapped_bytes.h"

namespace vellumark {

enum class SeekOrigin { Begin, End };

// Nodes that a path can name but that are no disk and no image: reading them
// would wait for a writer (a pipe), talk to a peer (a socket) or drive a
// device (a character device: a terminal, a tape that rewinds on close). An
// empty file opens, but has no sector to read.
enum class RefusedKind : std::uint8_t { None, Pipe, Socket, CharacterDevice, Empty };

// Why a disk service would not hand over a device the process may not open
// itself (see DeviceBroker).
enum class AccessRefusal : std::uint8_t { None, NotPermitted, NotFound, Busy, NoService };

// Why the last Open failed: the system's error number, or the kind of node
// that was refused without being read; and, when the system refused for want
// of permission and a disk service was asked too, why it said no.
struct OpenFailure {
  int systemError = 0;
  RefusedKind refused = RefusedKind::None;
  AccessRefusal access = AccessRefusal::None;
};

// The operating system's raw access to a partition or an image file: the
// operations the sector source needs. Everything is read-only; there is
// deliberately no way to write through this interface.
class PlatformSource {
 public:
  virtual ~PlatformSource() = default;

  // Opens path for shared, read-only access, closing whatever was open. Only
  // a regular file or a block device is opened; anything else is refused at
  // once, and opening never waits (not even for the writer of a pipe).
  virtual bool Open(const std::string& path) = 0;
  // Why the last Open returned false, or the last PartitionLength (which
  // completes an opening) returned nothing.
  virtual OpenFailure LastOpenFailure() const = 0;
  // Length in bytes of the open partition (or file).
  virtual std::optional<std::int64_t> PartitionLength() = 0;
  // Logical sector size the system reports for the open partition; none for
  // a plain file or when the system cannot tell.
  virtual std::optional<std::uint32_t> PartitionSectorSize() = 0;
  // Absolute positioning; returns the new position or -1.
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  // Reads up to count bytes at the current position and advances past them.
  // Returns the bytes read (fewer only at the end of the source) or -1.
  virtual std::int64_t Read(void* destination, std::size_t count) = 0;
  // Reads up to count bytes at offset without moving the position; safe to
  // call from another thread while the position-based reads go on. Returns
  // the bytes read (fewer only at the end of the source) or -1.
  virtual std::int64_t ReadAt(void* destination, std::size_t count, std::int64_t offset) = 0;
  // Tells the system that the source is now read front to back, so that it
  // reads ahead of the reads.
  virtual void AdviseSequential() {}
  // Tells the system that [offset, offset + count) will be read soon, so
  // that it starts reading it now, beside the reads that come before it.
  // Safe to call from another thread, like ReadAt.
  virtual void AdviseWillNeed(std::int64_t offset, std::int64_t count) { (void)offset, (void)count; }
  // Bytes [offset, offset + count) of an open image file mapped into memory,
  // their pages read in; none when the platform does not map this source (a
  // device) or not this range (past the end, or a page could not be read).
  // Safe to call from another thread, like ReadAt.
  virtual std::unique_ptr<MappedBytes> Map(std::int64_t offset, std::int64_t count) {
    (void)offset, (void)count;
    return nullptr;
  }
  // Runs read, which reads mapped bytes; false when a mapped page could not
  // be read on the way, which cut read short (see MappedReader).
  virtual bool ReadMapped(MappedReader read, void* context) {
    read(context);
    return true;
  }
  // Reads count bytes at offset past the system's cache. A cached read
  // fails for every sector of a cached page (4 KiB) that holds one bad
  // sector, so a sector whose cached read failed is tried once this way, to
  // lose only the sectors that are bad themselves. Returns the bytes read,
  // or -1, also where the platform has no such read.
  virtual std::int64_t ReadUncached(void* destination, std::size_t count, std::int64_t offset) {
    (void)destination, (void)count, (void)offset;
    return -1;
  }
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // The device number of an open block device, so that writing onto the
  // device being read can be refused; none for an image file.
  virtual std::optional<std::uint64_t> DeviceNumber() = 0;
  // Which file is open, so that writing onto it under another name or
  // through a link can be refused too.
  virtual std::optional<FileId> OpenFileId() = 0;
  // The mount points of file systems the system has mounted read-write over
  // what is open (the source itself, a partition of it, or a loop device over
  // its image file): the system may write there while it is being rescued.
  // Empty where the platform cannot tell.
  virtual std::vector<std::string> ReadWriteMounts() { return {}; }
};

}  // namespace vellumark
