#pragma once

// Slot numbers of the message table that the engine reports to its front ends.
// The engine never formats user-visible text itself: it names a slot and lets
// the front end look the text up in the language chosen at start-up.
namespace vellumark::slot {

inline constexpr int kCaption = 1;
inline constexpr int kFailedToOpenDrive = 16;
inline constexpr int kError = 17;
inline constexpr int kTotalSectors = 18;
inline constexpr int kInvalidViewSector = 19;
inline constexpr int kSelectFileType = 20;
inline constexpr int kSelectSaveFolder = 21;
inline constexpr int kDestOnSourceDrive = 22;
inline constexpr int kInvalidScanRange = 23;
inline constexpr int kRescueFiles = 24;
inline constexpr int kSuccess = 25;
inline constexpr int kRescuedFile = 27;
inline constexpr int kFinished = 29;
inline constexpr int kInvalidBackupRange = 35;
inline constexpr int kImageOnSourceDrive = 36;
inline constexpr int kBackupToImage = 37;
inline constexpr int kCreatingImage = 38;
inline constexpr int kWaitAMoment = 39;
inline constexpr int kNoFreeSpace = 40;
inline constexpr int kSector = 41;
inline constexpr int kPercent = 42;
inline constexpr int kErrorCount = 43;
inline constexpr int kDeleteUnfinishedTarget = 44;
inline constexpr int kPrompt = 45;
inline constexpr int kFinishedWithBadSectors = 46;
inline constexpr int kBackupFinished = 47;
inline constexpr int kFailedToOpenFile = 48;
inline constexpr int kSearchingFile = 49;
inline constexpr int kSearchSector = 50;
inline constexpr int kSearchPercent = 51;
inline constexpr int kFound = 52;
inline constexpr int kPause = 53;
inline constexpr int kStop = 54;
inline constexpr int kCancel = 55;
inline constexpr int kFailedToGetParameters = 63;
inline constexpr int kProgress = 65;
inline constexpr int kReasonDeleted = 67;
inline constexpr int kReasonFormatted = 68;
inline constexpr int kReasonRepartitioned = 69;
inline constexpr int kUnknownFileSystem = 70;
inline constexpr int kSource = 77;

// Refusals of a destination, in slots nothing else used.
inline constexpr int kDestinationBusy = 10;
inline constexpr int kReportNameTaken = 28;
inline constexpr int kDestinationUnwritable = 61;

// What a rescue could not do, told at its end.
inline constexpr int kUnreadableSectors = 72;
inline constexpr int kNotWritten = 73;
inline constexpr int kSourceEnded = 80;

// The main window's box for Word 2007 and later documents.
inline constexpr int kDocxBox = 82;

// The results window, which lists the documents a rescue wrote. Its headings,
// labels and verdict words took over slots nothing else used.
inline constexpr int kColumnName = 0;
inline constexpr int kColumnTitle = 30;
inline constexpr int kColumnVerdict = 31;
inline constexpr int kColumnSize = 32;
inline constexpr int kColumnFragments = 33;
inline constexpr int kAuthor = 34;
inline constexpr int kRescueFileCaption = 56;
inline constexpr int kFileList = 57;
inline constexpr int kPreview = 58;
inline constexpr int kCloseResults = 59;
inline constexpr int kLastSaved = 64;
inline constexpr int kKind = 71;
inline constexpr int kVerdictWhole = 74;
inline constexpr int kVerdictDamaged = 76;
inline constexpr int kVerdictUnchecked = 79;
// The text of a document that could not be rebuilt whole, saved from its
// parts that checked.
inline constexpr int kVerdictPartial = 81;
// The column that gives the fragments a reassembled document was put back
// together from.
inline constexpr int kColumnReassembled = 83;

// Why a source or a run failed, said after the message of what failed.
inline constexpr int kOutOfMemory = 85;
inline constexpr int kSourceIsPipe = 86;
inline constexpr int kSourceIsSocket = 87;
inline constexpr int kSourceIsCharacterDevice = 88;
// Why the disk service did not hand over a disk the program may not open.
inline constexpr int kAccessNotPermitted = 96;
inline constexpr int kAccessNotFound = 97;
inline constexpr int kAccessBusy = 98;
inline constexpr int kAccessNoService = 99;

// The pace of a run, below the progress windows' specified labels.
inline constexpr int kSpeed = 100;
inline constexpr int kTimeLeft = 101;
inline constexpr int kDocumentsFound = 102;

// The end of an image backup: the map of sectors it could not copy, and what
// became of an unfinished image (the command line says so; the window has
// asked).
inline constexpr int kSectorsNotCopiedListed = 90;
inline constexpr int kBackupCancelled = 91;
inline constexpr int kUnfinishedImageKept = 92;
inline constexpr int kUnfinishedImageDeleted = 93;
inline constexpr int kSectorMapNotWritten = 94;

// The dialogs' own texts: the folder chooser's title, and the open and save
// dialogs' filter (image files, then all files, in Qt's form).
inline constexpr int kFolderChooserTitle = 84;
inline constexpr int kImageFileFilter = 89;

// The status bar's link to the help window, and why a rescued file could not
// be opened.
inline constexpr int kHelp = 95;
inline constexpr int kNoHandler = 103;

// The results window's summary of a rescue, its button to the folder, and
// what each verdict means (the verdict column's tooltips).
inline constexpr int kSavedCount = 104;
inline constexpr int kNotSavedCount = 105;
inline constexpr int kReportAt = 106;
inline constexpr int kOpenFolder = 107;
inline constexpr int kExplainWhole = 108;
inline constexpr int kExplainDamaged = 109;
inline constexpr int kExplainUnchecked = 110;
inline constexpr int kExplainPartial = 111;

// A destination on a FUSE file system whose server could not be read.
inline constexpr int kDestinationUntraced = 115;
// A named output (the report, an image) whose path is no regular file, and
// what it is instead (these follow the path).
inline constexpr int kReportNotAFile = 116;
inline constexpr int kImageNotAFile = 117;
inline constexpr int kOutputIsFolder = 118;
inline constexpr int kOutputIsBlockDevice = 119;
inline constexpr int kOutputIsCharacterDevice = 120;
inline constexpr int kOutputIsPipe = 121;
inline constexpr int kOutputIsSocket = 122;
inline constexpr int kOutputIsOther = 123;
// A backup whose image could not be made or written (the path and the
// system's reason follow).
inline constexpr int kImageNotCreated = 124;
inline constexpr int kImageWriteFailed = 125;

// A rescue stopped before its end (the search cancelled, the carving
// stopped, or the program being ended) says so before its count: the
// caption, and the text that says whether the carving was cut short too.
inline constexpr int kRunStopped = 112;
inline constexpr int kStoppedCarvingCut = 113;
inline constexpr int kStoppedCarvingDone = 114;

// Documents found but not saved are listed too: the results window's column
// of why, and its words (the system's reason, or the sector of the document
// that holds one, follows them).
inline constexpr int kColumnNotSavedReason = 126;
inline constexpr int kNotSavedDamaged = 127;
inline constexpr int kNotSavedNotWritten = 128;
inline constexpr int kNotSavedNotChosen = 129;
inline constexpr int kNotSavedInsideAnother = 130;

// The main window's menus, and the About box's text.
inline constexpr int kMenuFile = 131;
inline constexpr int kMenuQuit = 132;
inline constexpr int kMenuAbout = 133;
inline constexpr int kAboutText = 134;

// The carving's progress: paused, its button's other caption, its pace in
// files a second, how far its walk down the range is, and how many of the
// documents found it has handled (followed by "done / all").
inline constexpr int kPaused = 135;
inline constexpr int kResume = 136;
inline constexpr int kFilesPerSecond = 137;
inline constexpr int kSectorsWalked = 138;
inline constexpr int kDocumentsDone = 139;
// What the rescued count and the documents found count (tooltips).
inline constexpr int kExplainSuccess = 140;
inline constexpr int kExplainDocumentsFound = 141;

// An image file of no bytes (follows its path), and the range a sector or a
// range must lie in (followed by "first - last").
inline constexpr int kSourceEmpty = 142;
inline constexpr int kValidRange = 143;
// A save folder typed that does not exist.
inline constexpr int kSaveFolderMissing = 144;
// A source the system has mounted read-write (its mount points follow):
// back it up first, or rescue from it anyway? Answered with the two choices'
// own words.
inline constexpr int kMountedReadWrite = 145;
inline constexpr int kBackUpFirst = 168;
inline constexpr int kRescueAnyway = 169;

// What the main window's less obvious controls do (tooltips).
inline constexpr int kExplainReason = 146;
inline constexpr int kExplainFileTypes = 147;
inline constexpr int kExplainClusterSize = 148;
inline constexpr int kExplainClose = 149;
inline constexpr int kExplainFileSystem = 150;
inline constexpr int kExplainRange = 151;
// A backup target that exists already (its path follows): replace it?
inline constexpr int kReplaceImage = 152;
// A device the system refuses even to root (who gets no advice to become
// root); it follows the path.
inline constexpr int kRefusedToRoot = 153;

// A document whose structure is whole but some of whose sectors nothing
// shows to be its own: the verdict's word and its explanation.
inline constexpr int kVerdictWholeStructure = 154;
inline constexpr int kExplainWholeStructure = 155;

// What is wrong with a damaged document, in plain words, before the
// checks' own detail: sectors the drive would not give, an end never found,
// a structure that does not check, a start whose parts never held together.
inline constexpr int kFaultUnreadable = 170;
inline constexpr int kFaultCutShort = 171;
inline constexpr int kFaultStructure = 172;
inline constexpr int kFaultNotRebuilt = 173;

// Files written under their original names and folders, where the file
// system's records name them: the main window's option, and the results
// window's heading (and preview label) for the original path.
inline constexpr int kOriginalNamesBox = 174;
inline constexpr int kOriginalPath = 175;

}  // namespace vellumark::slot
