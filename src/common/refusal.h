#pragma once

#include <cstdint>

namespace vellumark {

// Why the engine declined a request before doing any of it. The engine names
// the reason; each front end turns it into its message (and its exit status)
// at its own edge.
enum class Refusal : std::uint8_t {
  None,
  NoFileType,          // no kind of file chosen
  NoSaveFolder,        // the save folder is missing or is no folder
  FolderOnSource,      // writing into the save folder would reach the source
  ReportOnSource,      // writing the report would reach the source
  ReportNameTaken,     // the report would take a rescued file's name
  ScanRangeInvalid,    // the first and last sector do not make a range on the source
  FolderBusy,          // another rescue holds the save folder
  FolderUnwritable,    // the save folder takes no files
  BackupRangeInvalid,  // the first and last sector do not make a range on the source
  ImageOnSource,       // writing the image or its sector map would reach the source
  DestinationUntraced, // a FUSE file system whose server could not be read: it may lie on the source
  ReportNotAFile,      // the report's path names something other than a regular file
  ImageNotAFile,       // the image's (or its map's) path names something other than a regular file
};

// Which step of opening a source failed.
enum class OpenError : std::uint8_t {
  None,
  DriveNotOpened,
  DriveParametersUnknown,  // opened, but its length could not be learned
  FileNotOpened,
};

}  // namespace vellumark
