// The settings file on POSIX: read whole; replaced through a temporary file in the same
// directory that is synced and renamed over the old one, or rewritten in place when it is more
// than our own file with one name.
#include "state/settings_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrace::state::detail {

namespace {

FileFacts factsOf(const struct stat& info) {
    return FileFacts{
        static_cast<std::uint32_t>(info.st_mode & 07777), static_cast<std::uint32_t>(info.st_uid),
        static_cast<std::uint32_t>(info.st_gid),          static_cast<std::uint64_t>(info.st_nlink),
        static_cast<std::uint64_t>(info.st_dev),          static_cast<std::uint64_t>(info.st_ino)};
}

bool writeAllAt(int fd, const std::string& data, off_t offset) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t put =
            ::pwrite(fd, data.data() + done, data.size() - done, offset + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The ordinary case: our own file with one name. A new file written beside it under a temporary
// name is renamed over it, so a crash or a full disk can never leave a half-written settings
// file. It gets the old file's permissions and group; a group we cannot give it is a refusal.
bool replaceFile(const std::string& target, const std::string& content, const FileFacts* old) {
    const std::size_t slash = target.rfind('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = directoryOf(target) + "." + base + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return false;
    }
    bool ok = ::fchmod(fd, static_cast<mode_t>(old != nullptr ? old->mode : 0644)) == 0;
    if (ok && old != nullptr) {
        struct stat created {};
        ok = ::fstat(fd, &created) == 0 &&
             (static_cast<std::uint32_t>(created.st_gid) == old->group ||
              ::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(old->group)) == 0);
    }
    ok = ok && writeAllAt(fd, content, 0) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) {
        ok = ::rename(temporary.c_str(), target.c_str()) == 0;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
    }
    return ok;
}

// A file with several names, or someone else's: a new file renamed over one name would leave
// the other names with the old content and give the file a new owner. It is rewritten where it
// is instead, which keeps its owner, group, permissions and every name; should the rewrite fail
// half-way, the old content is put back, so a failed write still changes nothing.
bool rewriteInPlace(const std::string& target, const std::string& oldContent,
                    const std::string& content, const FileFacts& old) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    // It must still be the file we read; anything else is left alone.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_dev) != old.device ||
        static_cast<std::uint64_t>(info.st_ino) != old.inode) {
        ::close(fd);
        return false;
    }
    bool ok = writeAllAt(fd, content, 0) &&
              ::ftruncate(fd, static_cast<off_t>(content.size())) == 0 && ::fsync(fd) == 0;
    if (!ok) {
        // Putting the old content back is all that is left to try; the rewrite has failed
        // whatever these report.
        writeAllAt(fd, oldContent, 0);
        [[maybe_unused]] const int truncated =
            ::ftruncate(fd, static_cast<off_t>(oldContent.size()));
        ::fsync(fd);
    }
    ok = (::close(fd) == 0) && ok;
    return ok;
}

} // namespace

// Reads the whole file if it is a regular file of sane size. A missing file is not an error for
// the writer (it creates the file); anything else that stops us reading it is.
LoadResult loadFile(const std::string& path, std::string& content, FileFacts& facts) {
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT ? LoadResult::Missing : LoadResult::Refused;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::size_t>(info.st_size) > MaxFileSize) {
        ::close(fd);
        return LoadResult::Refused;
    }
    facts = factsOf(info);
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ::close(fd);
            return LoadResult::Refused;
        }
        if (got == 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(got));
        if (content.size() > MaxFileSize) {
            ::close(fd); // grew while we read it
            return LoadResult::Refused;
        }
    }
    ::close(fd);
    return LoadResult::Loaded;
}

// The file a write is for: a symbolic link is followed to the file it names, so the link stays a
// link and its target gets the new content, as an in-place write would have left it. A link to a
// file that does not exist yet names the file to create. Empty when the chain does not end (a
// loop, or more links than the system follows).
std::string writeTarget(const std::string& path) {
    constexpr int MaxLinks = 40;
    std::string current = path;
    for (int hop = 0; hop < MaxLinks; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return current;
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target - 1);
        if (length <= 0) {
            return "";
        }
        const std::string next(target, static_cast<std::size_t>(length));
        current = next.front() == '/' ? next : directoryOf(current) + next;
    }
    return "";
}

bool storeFile(const std::string& target, const std::string& oldContent, const std::string& content,
               const FileFacts* old) {
    if (old == nullptr) {
        return replaceFile(target, content, nullptr);
    }
    const bool ordinary = old->links == 1 && old->owner == static_cast<std::uint32_t>(::geteuid());
    return ordinary ? replaceFile(target, content, old)
                    : rewriteInPlace(target, oldContent, content, *old);
}

} // namespace veltrace::state::detail
