#pragma once

#include <string>

#include "access/platform_source.h"

namespace vellumark {

// Something that can hand over a read-only descriptor of a device the
// process may not open itself: on a desktop, the disk service, which asks
// the user for permission. The platform source asks it only after its own
// open was refused for want of permission, and takes the descriptor only if
// it is read-only and of the very node that was named.
class DeviceBroker {
 public:
  struct Grant {
    int fd = -1;  // owned by the caller once handed over
    AccessRefusal refusal = AccessRefusal::None;
  };

  virtual ~DeviceBroker() = default;
  virtual Grant OpenReadOnly(const std::string& path) = 0;
};

}  // namespace vellumark
