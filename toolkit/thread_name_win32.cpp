// Thread names on Windows: SetThreadDescription exists from Windows 10 1607 on, so it is looked
// up at run time and an older system simply goes without. Wine 8 passes the name on to the Linux
// task, where /proc shows it.
#include "toolkit/toolkit.h"

#include <windows.h>

#include <string>

namespace veltrace::toolkit {

void threadSetName(const char* name) {
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return;
    }
    const auto set = reinterpret_cast<SetDescription>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")));
    if (set == nullptr) {
        return;
    }
    std::wstring wide;
    for (const char* c = name; *c != '\0'; ++c) {
        wide.push_back(static_cast<unsigned char>(*c));
    }
    set(GetCurrentThread(), wide.c_str());
}

} // namespace veltrace::toolkit
