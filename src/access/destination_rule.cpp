#include "access/destination_rule.h"

#include <filesystem>

#include "access/sector_source.h"

namespace vellumark {

DestinationRule::DestinationRule(std::optional<std::uint64_t> sourceDevice, std::optional<FileId> sourceFile,
                                 const SystemView& view)
    : view_(view) {
  if (sourceDevice) source_ = ReadReachOfDevice(*sourceDevice, view);
  if (sourceFile) source_.files.push_back(*sourceFile);
}

DestinationRule::DestinationRule(const SectorSource& source, const SystemView& view)
    : DestinationRule(source.SourceDevice(), source.SourceFile(), view) {}

DestinationRefusal DestinationRule::CheckFolder(const std::string& folder) const {
  return WriteReachOfFolder(folder, view_).Overlaps(source_) ? DestinationRefusal::OnSource
                                                              : DestinationRefusal::None;
}

DestinationRefusal DestinationRule::CheckFile(const std::string& path) const {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (CheckFolder(parent.empty() ? "." : parent.string()) != DestinationRefusal::None) {
    return DestinationRefusal::OnSource;
  }
  const auto facts = view_.stat(path);
  if (!facts) return DestinationRefusal::None;  // a new name
  StorageReach target;
  target.files.push_back({facts->device, facts->inode});
  if (facts->blockDevice) target = WriteReachOfDevice(facts->rdev, view_);
  return target.Overlaps(source_) ? DestinationRefusal::OnSource : DestinationRefusal::None;
}

}  // namespace vellumark
