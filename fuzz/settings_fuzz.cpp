// The settings file's reader and writer on arbitrary files and values. The input is split into a
// value to write (its length in the first byte) and the file's content (the rest).
//
// Checked for every input: a read never returns more than 254 characters; a write that succeeds
// reads back (the first 254 characters of it); it changed at most one line of the file, or added
// the key (and the section, when that was missing); a refused write left the file byte for byte
// as it was; and no temporary file is left beside it.
#include "state/settings.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using veltrace::state::readSetting;
using veltrace::state::writeSetting;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "settings_fuzz: %s\n", what);
    std::abort();
}

// One private folder for the whole run.
const std::string& folder() {
    static const std::string path = [] {
        char pattern[] = "/tmp/veltrace-settings-fuzz-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (made == nullptr) {
            fail("cannot make a working folder");
        }
        return std::string(made);
    }();
    return path;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::size_t entries(const std::string& path) {
    std::size_t count = 0;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            count += name == "." || name == ".." ? 0 : 1;
        }
        ::closedir(dir);
    }
    return count;
}

// Lines with their endings, so that a changed ending counts as a change.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::size_t next = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, next - start));
        start = next;
    }
    return lines;
}

// The lines that differ once the common start and end are taken away: at most one old line may
// go, and at most two new ones come (a key, or a section and its key); a last line that lacked
// its ending may get one.
bool changesAtMostOneLine(const std::string& before, const std::string& after) {
    std::vector<std::string> a = linesOf(before);
    const std::vector<std::string> b = linesOf(after);
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) {
        ++head;
    }
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        ++tail;
    }
    const std::size_t removed = a.size() - head - tail;
    const std::size_t added = b.size() - head - tail;
    if (removed == 1 && added >= 2 && a[head].back() != '\n' &&
        b[head].substr(0, a[head].size()) == a[head]) {
        // The old last line got its ending and the key (and section) followed.
        return added <= 3;
    }
    return removed <= 1 && added <= 2;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t valueLength = std::min<std::size_t>(data[0], size - 1);
    const std::string value(reinterpret_cast<const char*>(data) + 1, valueLength);
    const std::string content(reinterpret_cast<const char*>(data) + 1 + valueLength,
                              size - 1 - valueLength);
    const std::string file = folder() + "/Veltrace.ini";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << content;
    }

    if (readSetting("COM", "COMPort", file).size() > 254 ||
        readSetting("Other", "Key", file).size() > 254) {
        fail("a read returned more than 254 characters");
    }
    const int written = writeSetting("COM", "COMPort", value, file);
    const std::string after = slurp(file);
    if (entries(folder()) != 1) {
        fail("a temporary file was left behind");
    }
    if (written == 0) {
        if (after != content) {
            fail("a refused write changed the file");
        }
    } else {
        if (readSetting("COM", "COMPort", file) != value.substr(0, 254)) {
            fail("a written value did not read back");
        }
        if (!changesAtMostOneLine(content, after)) {
            fail("a write changed more than the one line");
        }
    }
    ::unlink(file.c_str());
    return 0;
}
