// The recording's file operations on POSIX.
#include "record/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrace::record::detail {

FileHandle createNewFile(const std::string& path, bool& existed, std::string& error) {
    // 0666 less the umask, as any new file of the user's.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    existed = fd < 0 && errno == EEXIST;
    if (fd < 0) {
        error = std::strerror(errno);
        return NoFile;
    }
    return fd;
}

bool writeAll(FileHandle file, std::span<const std::uint8_t> bytes, std::string& error) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(static_cast<int>(file), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool syncToDisk(FileHandle file, std::string& error) {
    // EINVAL: a file that cannot be synced (a pipe, some special files) has nothing to lose.
    if (::fdatasync(static_cast<int>(file)) != 0 && errno != EINVAL) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

void closeFile(FileHandle file) {
    ::close(static_cast<int>(file));
}

void removeFile(const std::string& path) {
    ::unlink(path.c_str());
}

bool replaceFile(const std::string& from, const std::string& to, std::string& error) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

void syncDirectoryOf(const std::string& path) {
    std::filesystem::path directory = std::filesystem::path(path).parent_path();
    if (directory.empty()) {
        directory = ".";
    }
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string temporaryNameBeside(const std::string& path, int attempt) {
    const std::filesystem::path target(path);
    const std::filesystem::path directory =
        target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    return (directory / ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
                         std::to_string(attempt)))
        .string();
}

bool fileFacts(const std::string& path, FileFacts& facts) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return false;
    }
    facts.regular = S_ISREG(info.st_mode);
    facts.size = static_cast<std::uint64_t>(info.st_size);
    facts.modifiedMicros =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000 + info.st_mtim.tv_nsec / 1000;
    return true;
}

} // namespace veltrace::record::detail
