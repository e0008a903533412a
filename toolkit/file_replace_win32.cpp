// Temporary files renamed into place, on Windows. std::rename does not replace an existing file
// there, so the finished file is flushed to the disk and moved over the final name with
// MoveFileExW. Names are Latin-1 bytes; the wide calls get them as UTF-16.
#include "toolkit/file_replace.h"
#include "toolkit/win32_internal.h"

#include <windows.h>

#include <atomic>
#include <fcntl.h>
#include <io.h>

namespace veltrace::toolkit::detail {

using win32::wide;

bool pendingFileOpen(const std::string& target, PendingFile& pending) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.find_last_of("/\\:");
    const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty()) {
        return false;
    }
    char suffix[64];
    wsprintfA(suffix, ".%lx%x%lx", GetCurrentProcessId(), counter.fetch_add(1),
              static_cast<unsigned long>(GetTickCount()));
    std::string temporary = directory + "." + name + suffix;
    const HANDLE handle = CreateFileW(wide(temporary).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        DeleteFileW(wide(temporary).c_str());
        return false;
    }
    std::FILE* file = _fdopen(descriptor, "wb");
    if (file == nullptr) {
        _close(descriptor);
        DeleteFileW(wide(temporary).c_str());
        return false;
    }
    pending.file = file;
    pending.temporary = std::move(temporary);
    return true;
}

bool pendingFileCommit(PendingFile& pending, const std::string& target) {
    bool ok = std::fflush(pending.file) == 0;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(pending.file)));
    ok = ok && handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
    ok = std::fclose(pending.file) == 0 && ok;
    pending.file = nullptr;
    const std::wstring temporary = wide(pending.temporary);
    if (ok) {
        ok = MoveFileExW(temporary.c_str(), wide(target).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }
    if (!ok) {
        DeleteFileW(temporary.c_str());
    }
    return ok;
}

void pendingFileDiscard(PendingFile& pending) {
    if (pending.file != nullptr) {
        std::fclose(pending.file);
        pending.file = nullptr;
    }
    DeleteFileW(wide(pending.temporary).c_str());
}

} // namespace veltrace::toolkit::detail
