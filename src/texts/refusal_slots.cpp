#include "texts/refusal_slots.h"

#include <unistd.h>

#include "common/message_slots.h"

namespace vellumark {

int SlotOf(Refusal refusal) {
  switch (refusal) {
    case Refusal::None: return 0;
    case Refusal::NoFileType: return slot::kSelectFileType;
    case Refusal::NoSaveFolder: return slot::kSelectSaveFolder;
    case Refusal::FolderOnSource:
    case Refusal::ReportOnSource: return slot::kDestOnSourceDrive;
    case Refusal::ReportNameTaken: return slot::kReportNameTaken;
    case Refusal::ScanRangeInvalid: return slot::kInvalidScanRange;
    case Refusal::FolderBusy: return slot::kDestinationBusy;
    case Refusal::FolderUnwritable: return slot::kDestinationUnwritable;
    case Refusal::BackupRangeInvalid: return slot::kInvalidBackupRange;
    case Refusal::ImageOnSource: return slot::kImageOnSourceDrive;
    case Refusal::DestinationUntraced: return slot::kDestinationUntraced;
    case Refusal::ReportNotAFile: return slot::kReportNotAFile;
    case Refusal::ImageNotAFile: return slot::kImageNotAFile;
  }
  return 0;
}

int SlotOf(OutputKind kind) {
  switch (kind) {
    case OutputKind::Absent:
    case OutputKind::RegularFile: return 0;
    case OutputKind::Folder: return slot::kOutputIsFolder;
    case OutputKind::BlockDevice: return slot::kOutputIsBlockDevice;
    case OutputKind::CharacterDevice: return slot::kOutputIsCharacterDevice;
    case OutputKind::Pipe: return slot::kOutputIsPipe;
    case OutputKind::Socket: return slot::kOutputIsSocket;
    case OutputKind::Other: return slot::kOutputIsOther;
  }
  return 0;
}

int SlotOf(OpenError error) {
  switch (error) {
    case OpenError::None: return 0;
    case OpenError::DriveNotOpened: return slot::kFailedToOpenDrive;
    case OpenError::DriveParametersUnknown: return slot::kFailedToGetParameters;
    case OpenError::FileNotOpened: return slot::kFailedToOpenFile;
  }
  return 0;
}

int SlotOf(RefusedKind kind) {
  switch (kind) {
    case RefusedKind::None: return 0;
    case RefusedKind::Pipe: return slot::kSourceIsPipe;
    case RefusedKind::Socket: return slot::kSourceIsSocket;
    case RefusedKind::CharacterDevice: return slot::kSourceIsCharacterDevice;
    case RefusedKind::Empty: return slot::kSourceEmpty;
  }
  return 0;
}

int SlotOf(AccessRefusal refusal) {
  switch (refusal) {
    case AccessRefusal::None: return 0;
    case AccessRefusal::NotPermitted: return slot::kAccessNotPermitted;
    case AccessRefusal::NotFound: return slot::kAccessNotFound;
    case AccessRefusal::Busy: return slot::kAccessBusy;
    case AccessRefusal::NoService: return slot::kAccessNoService;
  }
  return 0;
}

int ReasonSlot(const OpenResult& result) {
  if (const int kind = SlotOf(result.refused)) return kind;
  // Root is refused by no permission bits: the advice to become root, or to
  // ask the disk service, is no help there.
  if (::geteuid() == 0 && (result.access == AccessRefusal::NotPermitted || result.access == AccessRefusal::NoService)) {
    return slot::kRefusedToRoot;
  }
  return SlotOf(result.access);
}

}  // namespace vellumark
