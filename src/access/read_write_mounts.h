#pragma once

#include <string>
#include <vector>

#include "access/device_stack.h"
#include "access/sector_source.h"

namespace vellumark {

// The mount points of file systems mounted read-write whose writes reach
// what the open source reads: the source itself, a partition of it, or a
// loop device over its image file. The system may write there at any time,
// over the very sectors a rescue is after. Empty when nothing is open.
std::vector<std::string> ReadWriteMountsOver(const SectorSource& source, const SystemView& view = SystemView::Live());
// The same for a block device being read, or else an image file.
std::vector<std::string> ReadWriteMountsOver(std::optional<std::uint64_t> device, std::optional<FileId> file,
                                             const SystemView& view = SystemView::Live());

}  // namespace vellumark
