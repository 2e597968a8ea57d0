#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "access/device_stack.h"

namespace vellumark {

// The mount points of file systems mounted read-write whose writes reach
// what a block device being read (or else an image file) holds: the device
// itself, a partition of it, or a loop device over the image file. The
// system may write there at any time, over the very sectors a rescue is
// after. Empty when neither is given.
std::vector<std::string> ReadWriteMountsOver(std::optional<std::uint64_t> device, std::optional<FileId> file,
                                             const SystemView& view = SystemView::Live());

}  // namespace vellumark
