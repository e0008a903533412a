// The settings file is a plain INI file with the rules of the classic profile files: section and
// key names match without regard to case, blanks around "=" and around values do not count, a
// value in matching quotes loses them, ";" starts a comment line, and anything missing reads as
// empty. Reading never fails loudly; writing rewrites only the one key's line, keeps every other
// byte of the file, and swaps the new file in with a rename so that a crash or a full disk can
// never leave a half-written settings file behind. A file that is more than our own file with one
// name (several hard links, someone else's) keeps its identity instead: see rewriteInPlace.
//
// This is the POSIX twin: files are opened, checked and replaced with the platform's own calls.
#include "state/settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace veltrace::state {

namespace {

// The profile read's buffer holds 255 characters including the terminating zero.
constexpr std::size_t MaxValueLength = 254;
// A settings file holds one short line; anything bigger is not ours and is left alone.
constexpr off_t MaxFileSize = 1 << 20;

struct Line {
    std::string text; // without its line ending
    std::string eol;  // "\n", "\r\n" or "" for a last line without an ending
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

// What one line of the file means.
struct LineMeaning {
    enum Kind { Other, Section, Entry } kind = Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // entry value, trimmed, quotes removed
};

LineMeaning interpret(const std::string& line) {
    LineMeaning meaning;
    const std::string_view text = trim(line);
    if (text.empty() || text.front() == ';') {
        return meaning;
    }
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        meaning.kind = LineMeaning::Section;
        meaning.name =
            trim(text.substr(1, close == std::string_view::npos ? text.npos : close - 1));
        return meaning;
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        return meaning;
    }
    meaning.kind = LineMeaning::Entry;
    meaning.name = trim(text.substr(0, equals));
    std::string_view value = trim(text.substr(equals + 1));
    if (value.size() >= 2 && isQuote(value.front()) && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    meaning.value = value;
    return meaning;
}

std::vector<Line> splitLines(const std::string& content) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t newline = content.find('\n', start);
        Line line;
        if (newline == std::string::npos) {
            line.text = content.substr(start);
            start = content.size();
        } else {
            line.text = content.substr(start, newline - start);
            line.eol = "\n";
            start = newline + 1;
        }
        if (!line.eol.empty() && !line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.eol = "\r\n";
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

enum class LoadResult { Loaded, Missing, Refused };

// What a file was when we read it: who owns it, how many names it has, and which file it is, so
// a write can keep all of that and notice when the file changed under it.
struct FileFacts {
    mode_t mode = 0644;
    uid_t owner = 0;
    gid_t group = 0;
    nlink_t links = 0;
    dev_t device = 0;
    ino_t inode = 0;
};

FileFacts factsOf(const struct stat& info) {
    return FileFacts{static_cast<mode_t>(info.st_mode & 07777),
                     info.st_uid,
                     info.st_gid,
                     info.st_nlink,
                     info.st_dev,
                     info.st_ino};
}

// Reads the whole file if it is a regular file of sane size. A missing file is not an error for
// the writer (it creates the file); anything else that stops us reading it is.
LoadResult loadFile(const std::string& path, std::string& content, FileFacts& facts) {
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT ? LoadResult::Missing : LoadResult::Refused;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > MaxFileSize) {
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
        if (content.size() > static_cast<std::size_t>(MaxFileSize)) {
            ::close(fd); // grew while we read it
            return LoadResult::Refused;
        }
    }
    ::close(fd);
    return LoadResult::Loaded;
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
    bool ok = ::fchmod(fd, old != nullptr ? old->mode : 0644) == 0;
    if (ok && old != nullptr) {
        struct stat created {};
        ok = ::fstat(fd, &created) == 0 && (created.st_gid == old->group ||
                                            ::fchown(fd, static_cast<uid_t>(-1), old->group) == 0);
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
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_dev != old.device ||
        info.st_ino != old.inode) {
        ::close(fd);
        return false;
    }
    bool ok = writeAllAt(fd, content, 0) &&
              ::ftruncate(fd, static_cast<off_t>(content.size())) == 0 && ::fsync(fd) == 0;
    if (!ok) {
        writeAllAt(fd, oldContent, 0);
        ::ftruncate(fd, static_cast<off_t>(oldContent.size()));
        ::fsync(fd);
    }
    ok = (::close(fd) == 0) && ok;
    return ok;
}

// A value that reading would change (outer blanks or a pair of outer quotes) is written in
// quotes, so that whatever is written reads back unchanged.
std::string encodeValue(const std::string& value) {
    const std::string_view view(value);
    const bool needsQuotes =
        !value.empty() &&
        (trim(view).size() != value.size() ||
         (value.size() >= 2 && isQuote(value.front()) && value.back() == value.front()));
    return needsQuotes ? "\"" + value + "\"" : value;
}

} // namespace

std::string readSetting(const std::string& section, const std::string& key,
                        const std::string& file) {
    std::string content;
    FileFacts facts;
    if (loadFile(file, content, facts) != LoadResult::Loaded) {
        return "";
    }
    bool inSection = false;
    for (const Line& line : splitLines(content)) {
        const LineMeaning meaning = interpret(line.text);
        if (meaning.kind == LineMeaning::Section) {
            inSection = sameName(meaning.name, section);
        } else if (meaning.kind == LineMeaning::Entry && inSection && sameName(meaning.name, key)) {
            return std::string(meaning.value.substr(0, MaxValueLength));
        }
    }
    return "";
}

int writeSetting(const std::string& section, const std::string& key, const std::string& value,
                 const std::string& file) {
    // Names and values that cannot stand on one INI line are refused rather than written in a
    // form that would read back as something else.
    const auto fitsOnLine = [](const std::string& text) {
        return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
    };
    const std::string_view keyName = trim(key);
    const std::string_view sectionName = trim(section);
    if (keyName.empty() || sectionName.empty() || !fitsOnLine(key) || !fitsOnLine(section) ||
        !fitsOnLine(value) || keyName.find('=') != std::string_view::npos ||
        keyName.front() == ';' || keyName.front() == '[' ||
        sectionName.find(']') != std::string_view::npos) {
        return 0;
    }

    const std::string target = writeTarget(file);
    if (target.empty()) {
        return 0;
    }
    std::string content;
    FileFacts facts;
    const LoadResult loaded = loadFile(target, content, facts);
    if (loaded == LoadResult::Refused) {
        return 0;
    }

    std::vector<Line> lines = splitLines(content);
    const std::string eol = (!lines.empty() && lines.front().eol == "\r\n") ? "\r\n" : "\n";
    const std::string entry = std::string(keyName) + "=" + encodeValue(value);

    bool inSection = false;
    bool inFirstSection = false;
    bool sectionFound = false;
    std::size_t insertAfter = 0; // the last entry of the first matching section, or its header
    bool replaced = false;
    for (std::size_t i = 0; i < lines.size() && !replaced; ++i) {
        const LineMeaning meaning = interpret(lines[i].text);
        if (meaning.kind == LineMeaning::Section) {
            inSection = sameName(meaning.name, sectionName);
            inFirstSection = inSection && !sectionFound;
            if (inFirstSection) {
                sectionFound = true;
                insertAfter = i;
            }
        } else if (meaning.kind == LineMeaning::Entry && inSection) {
            if (sameName(meaning.name, keyName)) {
                lines[i].text = entry;
                replaced = true;
            } else if (inFirstSection) {
                insertAfter = i;
            }
        }
    }

    if (!replaced) {
        if (sectionFound) {
            if (lines[insertAfter].eol.empty()) {
                lines[insertAfter].eol = eol;
            }
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1,
                         Line{entry, eol});
        } else {
            if (!lines.empty() && lines.back().eol.empty()) {
                lines.back().eol = eol;
            }
            lines.push_back(Line{"[" + std::string(sectionName) + "]", eol});
            lines.push_back(Line{entry, eol});
        }
    }

    std::string output;
    output.reserve(content.size() + entry.size() + sectionName.size() + 8);
    for (const Line& line : lines) {
        output += line.text;
        output += line.eol;
    }
    if (loaded == LoadResult::Missing) {
        return replaceFile(target, output, nullptr) ? 1 : 0;
    }
    const bool ordinary = facts.links == 1 && facts.owner == ::geteuid();
    const bool written = ordinary ? replaceFile(target, output, &facts)
                                  : rewriteInPlace(target, content, output, facts);
    return written ? 1 : 0;
}

} // namespace veltrace::state
