// Internal to state/: the settings file's platform half, reading a small file whole and
// replacing it atomically. settings_file_posix.cpp and settings_file_win32.cpp implement it.
//
// toolkit/ replaces capture files the same way (toolkit/file_replace.h); state/ includes nothing
// of ours, so each layer keeps its own few lines.
#pragma once

#include <cstddef>
#include <string>

namespace veltrace::state::detail {

// A settings file holds one short line; anything bigger is not ours and is left alone.
inline constexpr std::size_t MaxFileSize = 1 << 20;

// The permission bits a replaced file keeps (POSIX); unused on Windows.
using FileMode = unsigned;
inline constexpr FileMode NewFileMode = 0644;

enum class LoadResult { Loaded, Missing, Refused };

// Reads the whole file if it is a regular file of at most MaxFileSize bytes, and its mode. A
// missing file is not an error for the writer (it creates the file); anything else that stops us
// reading it is.
LoadResult loadFile(const std::string& path, std::string& content, FileMode& mode);

// The file a write replaces: on POSIX a symbolic link is followed so that the link survives.
std::string replacementTarget(const std::string& path);

// Writes content beside target under a temporary name, flushes it to the disk and renames it
// over target. On failure the temporary file is removed and target is untouched.
bool replaceFile(const std::string& target, const std::string& content, FileMode mode);

} // namespace veltrace::state::detail
