// The settings file on Windows: read whole, and replaced through a temporary file in the same
// directory that is flushed to the disk and moved over the old one with MoveFileExW. Names are
// Latin-1 bytes like every text of the program; the wide calls get them as UTF-16, since the
// narrow ones would read them in whatever ANSI code page the machine has.
#include "state/settings_file.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace veltrace::state::detail {

namespace {

std::wstring wide(const std::string& latin1) {
    std::wstring result;
    result.reserve(latin1.size());
    for (const char c : latin1) {
        result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return result;
}

bool writeAll(HANDLE file, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1 << 20));
        DWORD put = 0;
        if (!WriteFile(file, data.data() + done, piece, &put, nullptr) || put == 0) {
            return false;
        }
        done += put;
    }
    return true;
}

// A name no other writer in this directory uses: process, counter and clock.
std::wstring temporaryName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.find_last_of("/\\");
    const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    char suffix[64];
    wsprintfA(suffix, ".%lx%x%lx", GetCurrentProcessId(), counter.fetch_add(1),
              static_cast<unsigned long>(GetTickCount()));
    return wide(directory + "." + base + suffix);
}

} // namespace

LoadResult loadFile(const std::string& path, std::string& content, FileFacts& facts) {
    content.clear();
    facts = FileFacts{};
    const HANDLE file =
        CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? LoadResult::Missing : LoadResult::Refused;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !GetFileSizeEx(file, &size) ||
        static_cast<unsigned long long>(size.QuadPart) > MaxFileSize) {
        CloseHandle(file);
        return LoadResult::Refused;
    }
    facts.links = info.nNumberOfLinks;
    facts.device = info.dwVolumeSerialNumber;
    facts.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            CloseHandle(file);
            return LoadResult::Refused;
        }
        if (got == 0) {
            break;
        }
        content.append(buffer, got);
        if (content.size() > MaxFileSize) {
            CloseHandle(file); // grew while we read it
            return LoadResult::Refused;
        }
    }
    CloseHandle(file);
    return LoadResult::Loaded;
}

// Windows programs do not meet settings files behind symbolic links; the name is the file.
std::string writeTarget(const std::string& path) {
    return path;
}

// A new file written beside the old one under a temporary name, flushed to the disk and moved
// over it. (Files with several names are rare enough on Windows to be replaced like any other.)
bool storeFile(const std::string& target, const std::string&, const std::string& content,
               const FileFacts*) {
    // A read-only settings file is the user's choice: Windows refuses to move a file over it,
    // and so do we everywhere (Wine would allow it).
    const DWORD attributes = GetFileAttributesW(wide(target).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    const std::wstring temporary = temporaryName(target);
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = writeAll(file, content) && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    if (ok) {
        ok = MoveFileExW(temporary.c_str(), wide(target).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }
    if (!ok) {
        DeleteFileW(temporary.c_str());
    }
    return ok;
}

} // namespace veltrace::state::detail
