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

DestinationRefusal DestinationRule::Verdict(const StorageReach& target) const {
  if (target.Overlaps(source_)) return DestinationRefusal::OnSource;
  // Any file or device being read could be what an untraced FUSE server keeps its bytes in.
  const bool sourceKnown = !source_.pieces.empty() || !source_.files.empty();
  return target.unresolved && sourceKnown ? DestinationRefusal::Unresolved : DestinationRefusal::None;
}

DestinationRefusal DestinationRule::CheckFolder(const std::string& folder) const {
  return Verdict(WriteReachOfFolder(folder, view_));
}

DestinationRefusal DestinationRule::CheckFile(const std::string& path) const {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (const DestinationRefusal folder = CheckFolder(parent.empty() ? "." : parent.string());
      folder != DestinationRefusal::None) {
    return folder;
  }
  const auto facts = view_.stat(path);
  if (!facts) return DestinationRefusal::None;  // a new name
  StorageReach target;
  target.files.push_back({facts->device, facts->inode});
  if (facts->blockDevice) target = WriteReachOfDevice(facts->rdev, view_);
  return Verdict(target);
}

}  // namespace vellumark
