#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "access/device_stack.h"

namespace vellumark {

// A file, device or folder a FUSE server has open: where that file system's
// bytes may come from.
struct HeldFile {
  PathFacts facts;
  std::string path;  // as the kernel names it for the server (a hint only)
};

// What the servers of one FUSE mount hold open. found is false when no
// server could be told apart or one could not be read: then nothing can be
// said of where the file system keeps its bytes.
struct FuseHoldings {
  bool found = false;
  std::vector<HeldFile> held;
};

// The server of a FUSE mount is the process holding that mount's connection
// to /dev/fuse. The kernel names the connection in the descriptor's fdinfo
// ("fuse_connection:", the mount's device number); where it does not (older
// kernels), every process holding /dev/fuse counts as a server, since any
// of them may be this mount's. mountDevice is the mount's device number as
// stat reports it.
FuseHoldings FindFuseHoldings(std::uint64_t mountDevice, const SystemView& view = SystemView::Live());

// Whether a mount table's file-system type is FUSE: "fuse", "fuseblk" or
// "fuse.NAME".
bool IsFuseType(const std::string& fileSystemType);

}  // namespace vellumark
