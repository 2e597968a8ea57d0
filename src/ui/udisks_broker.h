#pragma once

#include "access/device_broker.h"

namespace vellumark {

// Asks UDisks2 on the system bus for a read-only descriptor of a block
// device (Block.OpenDevice("r")); UDisks2 asks polkit, which may ask the user
// for a password. This lets a desktop user read a disk without running the
// whole program as root or joining the disk group.
class UDisksBroker final : public DeviceBroker {
 public:
  Grant OpenReadOnly(const std::string& path) override;
};

}  // namespace vellumark
