#pragma once

#include <cstdint>
#include <memory>

#include "access/mapped_bytes.h"

namespace vellumark {

// Bytes [offset, offset + count) of the regular file open as fd, mapped
// read-only with their pages read in (and the kernel told they are read in
// order); none when fd is no regular file, the range reaches past its end,
// or a page could not be read.
std::unique_ptr<MappedBytes> MapFileRange(int fd, std::int64_t offset, std::int64_t count);

// Runs read, turning the bus error of a mapped page that cannot be read (the
// file was cut shorter since it was mapped, or the disk failed) into false.
// A bus error that is not this thread's while it runs read goes wherever it
// would have gone.
bool ReadMappedGuarded(MappedReader read, void* context);

}  // namespace vellumark
