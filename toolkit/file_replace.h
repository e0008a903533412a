// Internal to the toolkit: writing a file under a temporary name beside its final name and
// renaming it into place only when it is complete, so a failed write leaves no partial file and
// never damages an earlier one. file_replace_posix.cpp and file_replace_win32.cpp implement it.
//
// state/ replaces the settings file the same way in its own few lines (state/settings_file.h):
// neither layer may include the other.
#pragma once

#include <cstdio>
#include <string>

namespace veltrace::toolkit::detail {

struct PendingFile {
    std::FILE* file = nullptr; // binary, for writing
    std::string temporary;     // its name, in the directory of the final name
};

// Creates the temporary file beside target. False when it cannot be created.
bool pendingFileOpen(const std::string& target, PendingFile& pending);
// Closes the stream and renames the file over target (replacing an existing one). On failure the
// temporary file is removed and target is untouched.
bool pendingFileCommit(PendingFile& pending, const std::string& target);
// Closes the stream and removes the temporary file.
void pendingFileDiscard(PendingFile& pending);

} // namespace veltrace::toolkit::detail
