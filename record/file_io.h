// Internal to record/: the few file operations a recording needs, one file per platform
// (file_io_posix.cpp, file_io_win32.cpp), so the format's code stays the same everywhere.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace veltrace::record::detail {

using FileHandle = std::intptr_t;
inline constexpr FileHandle NoFile = -1;

// Creates `path` for writing; it must not exist (`existed` tells that case). NoFile, with the
// system's reason in `error`, on failure.
FileHandle createNewFile(const std::string& path, bool& existed, std::string& error);
// All of `bytes`, going on after short writes. False with the reason on failure.
bool writeAll(FileHandle file, std::span<const std::uint8_t> bytes, std::string& error);
// Waits until what was written is on the disk. False with the reason on failure.
bool syncToDisk(FileHandle file, std::string& error);
void closeFile(FileHandle file);
void removeFile(const std::string& path);
// Renames `from` over `to`, replacing a file there in one step. False with the reason.
bool replaceFile(const std::string& from, const std::string& to, std::string& error);
// So that a new file's name survives a crash of the machine along with its contents.
void syncDirectoryOf(const std::string& path);
// A name for a temporary file beside `path` that this process alone uses.
std::string temporaryNameBeside(const std::string& path, int attempt);

struct FileFacts {
    bool regular = false;            // a plain file (not a directory or a device)
    std::uint64_t size = 0;          // bytes
    std::int64_t modifiedMicros = 0; // last change, microseconds since 1970 (UTC)
};
bool fileFacts(const std::string& path, FileFacts& facts);

} // namespace veltrace::record::detail
