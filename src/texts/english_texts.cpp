#include "texts/language_tables.h"

namespace vellumark {
namespace {

// Every slot has a text now; 10, 28 and 61 refuse
// a destination that another run is using, a report named like a rescued
// file, and a folder that takes no files; 72, 73 and 80 tell what a rescue
// could not do; 82 names the box for .docx files; 85 ends a run that ran out
// of memory, and 86 to 88 say why a path is no source (they follow the path);
// 90 to 94 tell how an image backup ended (the map of sectors not copied, an
// unfinished image kept or deleted); 96 to 99 say why a disk the program may
// not open was not handed over by the disk service either, and what to do;
// 100 to 102 give a run's pace below the progress windows' labels; 84
// titles the folder chooser and 89 is the image files' filter of the open
// and save dialogs, in Qt's form; 95 is the status bar's link to the help
// window and 103 says why a rescued file could not be opened (it follows
// slot 48 and the file's path); 104 to 107 sum a rescue up in the results
// window and 108 to 111 explain its verdicts; 112 to 114 say where a rescue
// stopped before its end; 115 refuses a destination on a FUSE file system
// that cannot be traced, 116 to 123 refuse a report or an image path that is
// no regular file and say what it is (they follow the path), and 124 and 125
// say which step of a backup failed (the path and the system's reason
// follow); 126 to 130 say why a document found was not saved (130 is
// followed by a sector number); 131 to 134 are the main window's menus and
// About box, 135 to 141 the carving's progress (paused, its pace, how far it
// is) and what its counts mean, 142 to 145 an empty image, the valid range
// of a refused sector or range, a save folder that is not there and a source
// mounted read-write, 146 to 151 the main window's tooltips, 152 asks
// before a backup replaces a file, and 153 says why root cannot open a disk. Several texts end in a blank because the
// caller appends a number or a name. The results window's
// headings, property labels and verdict words (0, 30 to 34, 64, 71, 74, 76,
// 79, 81, 83) have no colon: the window adds one where it puts a value after them.
constexpr MessageTexts kTable = {
    /* 0 */ "Name",
    /* 1 */ "Vellumark 1.3",
    /* 2 */ "Open Drive",
    /* 3 */ "Open IMG file",
    /* 4 */ "Close",
    /* 5 */ "Sector:",
    /* 6 */ "Goto",
    /* 7 */ "File Type:",
    /* 8 */ "Save files to:",
    /* 9 */ "Browse",
    /* 10 */ "Another rescue is saving files to this folder!",
    /* 11 */ "File System:",
    /* 12 */ "Cluster Size:",
    /* 13 */ "Scan Range:",
    /* 14 */ "Start Rescue",
    /* 15 */ "Backup to IMG file",
    /* 16 */ "Failed to open drive!",
    /* 17 */ "Error",
    /* 18 */ "Total Sectors: ",
    /* 19 */ "Invalid sector range!",
    /* 20 */ "Please select file type to rescue!",
    /* 21 */ "Please select folder to save file!",
    /* 22 */ "Dest folder can't be on source drive!",
    /* 23 */ "invalid sector range!",
    /* 24 */ "Rescue files...",
    /* 25 */ "Success: ",
    /* 26 */ "Scaned: ",
    /* 27 */ "Rescued file ",
    /* 28 */ "The report can't take the name of a rescued file!",
    /* 29 */ "Finished",
    /* 30 */ "Title",
    /* 31 */ "Verdict",
    /* 32 */ "Size",
    /* 33 */ "Fragments",
    /* 34 */ "Author",
    /* 35 */ "Invalid sector range!",
    /* 36 */ "Can't save IMG file on source drive!",
    /* 37 */ "Backup to IMG",
    /* 38 */ "Creating IMG file...",
    /* 39 */ "Wait a moment",
    /* 40 */ "No enough free space on dest drive!",
    /* 41 */ "Sector: ",
    /* 42 */ "Percent: ",
    /* 43 */ "Error: ",
    /* 44 */ "Didn't finish, delete target file?",
    /* 45 */ "Prompt",
    /* 46 */ "Finished! There're some bad sectors.",
    /* 47 */ "Finished!",
    /* 48 */ "Failed to open file!",
    /* 49 */ "Searching file",
    /* 50 */ "Sector: ",
    /* 51 */ "Percent: ",
    /* 52 */ "Found: ",
    /* 53 */ "Pause",
    /* 54 */ "Stop",
    /* 55 */ "Cancel",
    /* 56 */ "Rescue File",
    /* 57 */ "File List:",
    /* 58 */ "Preview:",
    /* 59 */ "Close",
    /* 60 */ "Simple steps: 1. Select drive; 2. Open drive; 3. Select folder to store rescued files; "
             "4. Select the reason of losing file; 5. Start rescue.",
    /* 61 */ "Can't write files to the dest folder!",
    /* 62 */ "More >>",
    /* 63 */ "Failed to get parameters",
    /* 64 */ "Last saved",
    /* 65 */ "Progress: ",
    /* 66 */ "Reason:",
    /* 67 */ "Deleted or Disappeared",
    /* 68 */ "Formatted",
    /* 69 */ "Repartitioned",
    /* 70 */ "Unknown file system, not support this option!",
    /* 71 */ "Type",
    /* 72 */ "Sectors that could not be read: ",
    /* 73 */ "Documents found but not written: ",
    /* 74 */ "whole",
    /* 75 */ "1.3",
    /* 76 */ "damaged",
    /* 77 */ "Source:",
    /* 78 */ "Lost data on drive:",
    /* 79 */ "unchecked",
    /* 80 */ "The source stopped giving data at sector ",
    /* 81 */ "partial",
    /* 82 */ "DOCX(Word 2007+)",
    /* 83 */ "Reassembled from",
    /* 84 */ "Save rescued files to",
    /* 85 */ "Out of memory! The operation was stopped.",
    /* 86 */ "it is a pipe, not a drive or an image file",
    /* 87 */ "it is a socket, not a drive or an image file",
    /* 88 */ "it is a character device, not a drive or an image file",
    /* 89 */ "Disk images (*.img *.dd *.raw *.bin *.iso);;All files (*)",
    /* 90 */ "Sectors not copied are listed for GNU ddrescue in ",
    /* 91 */ "Backup cancelled.",
    /* 92 */ "The unfinished image is kept as ",
    /* 93 */ "The unfinished image was deleted.",
    /* 94 */ "The list of sectors not copied could not be written: ",
    /* 95 */ "Help",
    /* 96 */ "permission denied, and the disk service refused it too (it asks for a password through an authentication agent, which must be running in your desktop session). Join the disk group (then log in again) or start the program as root to read this disk",
    /* 97 */ "the disk service does not know this device; it may have been removed. Choose the drive again after the list refreshes",
    /* 98 */ "the device is busy: another program holds it. Close that program, or unmount the disk, and try again",
    /* 99 */ "permission denied, and no disk service (UDisks2) was there to ask. Join the disk group (then log in again) or start the program as root to read this disk",
    /* 100 */ "Speed: ",
    /* 101 */ "Time left: ",
    /* 102 */ "Documents found: ",
    /* 103 */ "no program on this system opens files of this kind",
    /* 104 */ "saved: ",
    /* 105 */ "not saved: ",
    /* 106 */ "Report: ",
    /* 107 */ "Open folder",
    /* 108 */ "The file's structure and the text it holds check: it should open as it was.",
    /* 109 */ "Something in it does not check (see the fault): it may open with gaps, or not at all.",
    /* 110 */ "Written as it was found; files of this kind are not checked.",
    /* 111 */ "The document could not be rebuilt; this is the text that could be read from its pieces.",
    /* 112 */ "Stopped",
    /* 113 */ "Stopped before the end: the carving was cut short. Share of the range searched, and the sector the search stopped at: ",
    /* 114 */ "Stopped before the end of the range: every hit found was carved. Share of the range searched, and the sector the search stopped at: ",
    /* 115 */ "Can't tell where this FUSE file system keeps its files: its driver could not be read, so it may lie on the source. Choose a folder on another disk!",
    /* 116 */ "The report can only be written as a file!",
    /* 117 */ "The IMG file can only be saved as a file!",
    /* 118 */ "it is a folder",
    /* 119 */ "it is a block device; an image is saved as a file, never written straight onto a disk",
    /* 120 */ "it is a character device",
    /* 121 */ "it is a pipe (FIFO)",
    /* 122 */ "it is a socket",
    /* 123 */ "it is not a regular file",
    /* 124 */ "Can't create the IMG file!",
    /* 125 */ "Writing the IMG file failed!",
    /* 126 */ "Why not saved",
    /* 127 */ "damaged beyond rebuilding",
    /* 128 */ "not written",
    /* 129 */ "not of a chosen type",
    /* 130 */ "inside the document at sector ",
    /* 131 */ "File",
    /* 132 */ "Quit",
    /* 133 */ "About",
    /* 134 */ "Rescues lost Word documents (.doc and .docx) from a drive or a drive image by reading its sectors. It never writes to the drive it reads.",
    /* 135 */ "Paused",
    /* 136 */ "Resume",
    /* 137 */ " files/s",
    /* 138 */ "Sectors done: ",
    /* 139 */ "Documents done: ",
    /* 140 */ "Documents written to the save folder",
    /* 141 */ "Every document found, saved or not: the results window says why one was not saved",
    /* 142 */ "it is empty (0 bytes): there is no sector to read",
    /* 143 */ "Valid range: ",
    /* 144 */ "The folder to save files to does not exist!",
    /* 145 */ "This drive, or a partition of it, is mounted read-write: the system may still write to it and overwrite the files to be rescued. Back it up to an image file first (Yes), or rescue from the drive anyway (No)? Mounted at:",
    /* 146 */ "Why the files were lost: it decides which file-system layout the search may trust",
    /* 147 */ "The kinds of Word document to look for: .doc (Word 97-2003, WPS) and .docx (Word 2007 and later)",
    /* 148 */ "The file system's allocation unit; read from the boot sector where it is recognised",
    /* 149 */ "Closes the open drive or image file; the program stays open",
    /* 150 */ "The file system the drive had when the files were lost",
    /* 151 */ "The first and the last sector to search or to back up",
    /* 152 */ "The file already exists. Replace it?",
    /* 153 */ "the system refuses this device even to root: a security module, or a program holding it exclusively, keeps it closed",
};
static_assert(EverySlotFilled(kTable));

}  // namespace

const MessageTexts& EnglishTexts() { return kTable; }

}  // namespace vellumark
