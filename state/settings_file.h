// Internal to state/: the settings file's platform half, reading a small file whole and writing
// it back so that a failed write changes nothing. settings_file_posix.cpp and
// settings_file_win32.cpp implement it.
//
// toolkit/ replaces capture files the same way (toolkit/file_replace.h); state/ includes nothing
// of ours, so each layer keeps its own few lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veltrace::state::detail {

// A settings file holds one short line; anything bigger is not ours and is left alone.
inline constexpr std::size_t MaxFileSize = 1 << 20;

// What a file was when we read it: who owns it, how many names it has, and which file it is, so
// a write can keep all of that and notice when the file changed under it. (POSIX fills all of
// it; Windows only what it has.)
struct FileFacts {
    std::uint32_t mode = 0644;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint64_t links = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

enum class LoadResult { Loaded, Missing, Refused };

// Reads the whole file if it is a regular file of at most MaxFileSize bytes. A missing file is
// not an error for the writer (it creates the file); anything else that stops us reading it is.
LoadResult loadFile(const std::string& path, std::string& content, FileFacts& facts);

// The file a write is for (on POSIX a chain of symbolic links is followed); empty when it
// cannot be told.
std::string writeTarget(const std::string& path);

// Writes content as target's new content; old is what loadFile found (null when the file did
// not exist) and oldContent what it read. On failure target is as it was and no temporary file
// is left.
bool storeFile(const std::string& target, const std::string& oldContent, const std::string& content,
               const FileFacts* old);

} // namespace veltrace::state::detail
