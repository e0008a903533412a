// The recording's file operations on Windows. Names are Latin-1 bytes, as the program's texts;
// the wide calls get them as UTF-16. A file is replaced with MoveFileExW (std::rename does not
// replace an existing file there) and synced with FlushFileBuffers.
#include "record/file_io.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace veltrace::record::detail {

namespace {

std::wstring wide(const std::string& latin1) {
    std::wstring result;
    result.reserve(latin1.size());
    for (const char c : latin1) {
        result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return result;
}

std::string errorText(DWORD code) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == '.' || result.back() == ' ')) {
        result.pop_back();
    }
    return result.empty() ? "error " + std::to_string(code) : result;
}

HANDLE handleOf(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

} // namespace

FileHandle createNewFile(const std::string& path, bool& existed, std::string& error) {
    const HANDLE handle =
        CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        existed = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
        error = errorText(code);
        return NoFile;
    }
    existed = false;
    return reinterpret_cast<FileHandle>(handle);
}

bool writeAll(FileHandle file, std::span<const std::uint8_t> bytes, std::string& error) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        if (!WriteFile(handleOf(file), bytes.data() + done, want, &written, nullptr) ||
            written == 0) {
            error = errorText(GetLastError());
            return false;
        }
        done += written;
    }
    return true;
}

bool syncToDisk(FileHandle file, std::string& error) {
    if (!FlushFileBuffers(handleOf(file))) {
        error = errorText(GetLastError());
        return false;
    }
    return true;
}

void closeFile(FileHandle file) {
    CloseHandle(handleOf(file));
}

void removeFile(const std::string& path) {
    DeleteFileW(wide(path).c_str());
}

// The file may still be open (it was created with FILE_SHARE_DELETE for that).
bool replaceFile(const std::string& from, const std::string& to, std::string& error) {
    if (!MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = errorText(GetLastError());
        return false;
    }
    return true;
}

// MOVEFILE_WRITE_THROUGH and FlushFileBuffers already make the name durable on NTFS.
void syncDirectoryOf(const std::string&) {}

std::string temporaryNameBeside(const std::string& path, int attempt) {
    const std::size_t slash = path.find_last_of("/\\:");
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return directory + "." + name + "." + std::to_string(GetCurrentProcessId()) + "." +
           std::to_string(attempt);
}

bool fileFacts(const std::string& path, FileFacts& facts) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    facts.regular = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                    (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    facts.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // 100 ns steps since 1601-01-01.
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
        data.ftLastWriteTime.dwLowDateTime;
    facts.modifiedMicros = static_cast<std::int64_t>(ticks / 10) - 11644473600LL * 1000000;
    return true;
}

} // namespace veltrace::record::detail
