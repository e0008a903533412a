// Temporary files renamed into place, on POSIX: mkstemp beside the final name, with the
// permission bits a plain fopen would have given, and rename over the final name.
#include "toolkit/file_replace.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrace::toolkit::detail {

namespace {

// The permission bits a plain fopen would have given the file (0666 less the umask). umask()
// itself cannot be read without changing it, which would race with other threads.
mode_t newFileMode() {
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
            break;
        }
    }
    return 0666 & ~mask;
}

} // namespace

bool pendingFileOpen(const std::string& target, PendingFile& pending) {
    const std::filesystem::path path(target);
    const std::string name = path.filename().string();
    if (name.empty()) {
        return false;
    }
    const std::filesystem::path directory = path.parent_path();
    std::string temporary =
        ((directory.empty() ? std::filesystem::path(".") : directory) / ("." + name + ".XXXXXX"))
            .string();
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0) {
        return false;
    }
    fchmod(descriptor, newFileMode());
    std::FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        close(descriptor);
        unlink(temporary.c_str());
        return false;
    }
    pending.file = file;
    pending.temporary = std::move(temporary);
    return true;
}

bool pendingFileCommit(PendingFile& pending, const std::string& target) {
    const bool closed = std::fclose(pending.file) == 0;
    pending.file = nullptr;
    if (!closed || std::rename(pending.temporary.c_str(), target.c_str()) != 0) {
        unlink(pending.temporary.c_str());
        return false;
    }
    return true;
}

void pendingFileDiscard(PendingFile& pending) {
    if (pending.file != nullptr) {
        std::fclose(pending.file);
        pending.file = nullptr;
    }
    unlink(pending.temporary.c_str());
}

} // namespace veltrace::toolkit::detail
