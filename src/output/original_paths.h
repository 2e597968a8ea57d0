#pragma once

#include <optional>
#include <string>

namespace vellumark {

// A file's original folder and name made into a path below the save folder
// that cannot leave it: split at '/' and '\', every part sanitised (no
// control characters nor characters Windows refuses, no trailing dots or
// spaces, at most 200 bytes, cut at a character's boundary), "." and ".."
// and empty parts dropped. Never absolute; an empty name becomes "_".
std::string SafeRelativePath(const std::string& folder, const std::string& name);

// Moves a written file to saveFolder + relative, making its folders (never
// through a link) and numbering the name where it is taken ("Bericht-2.doc").
// Returns the new path; none (the file stays where it was) when it cannot.
std::optional<std::string> MoveToOriginalPath(const std::string& from, const std::string& saveFolder,
                                              const std::string& relative);

}  // namespace vellumark
