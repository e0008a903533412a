// installer-probe: what scripts/check-installer.sh asks Windows (Wine) about the installed program.
//   installer-probe shortcut FILE.lnk   what a shell shortcut holds, as Windows' own shell link
//                                       object reads it, one "name=value" line each: target,
//                                       arguments, working folder (as stored, variables not
//                                       expanded) and icon
//   installer-probe window CLASS        exit status 0 if a top-level window of that class is open
//                                       (the program runs), 1 if not
#include <windows.h>

#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    }
    return out;
}

} // namespace

int shortcut(const wchar_t* path) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "installer-probe: no COM\n");
        return 1;
    }
    int status = 1;
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(path, STGM_READ))) {
        wchar_t text[MAX_PATH * 2] = {};
        int icon = 0;
        link->GetPath(text, MAX_PATH * 2, nullptr, SLGP_RAWPATH);
        std::printf("target=%s\n", utf8(text).c_str());
        text[0] = 0;
        link->GetArguments(text, MAX_PATH * 2);
        std::printf("arguments=%s\n", utf8(text).c_str());
        text[0] = 0;
        link->GetWorkingDirectory(text, MAX_PATH * 2);
        std::printf("workdir=%s\n", utf8(text).c_str());
        text[0] = 0;
        link->GetIconLocation(text, MAX_PATH * 2, &icon);
        std::printf("icon=%s,%d\n", utf8(text).c_str(), icon);
        status = 0;
    } else {
        std::fprintf(stderr, "installer-probe: cannot read %s\n", utf8(path).c_str());
    }
    if (file != nullptr) {
        file->Release();
    }
    if (link != nullptr) {
        link->Release();
    }
    CoUninitialize();
    return status;
}

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc == 3 ? argv[1] : L"";
    if (command == L"shortcut") {
        return shortcut(argv[2]);
    }
    if (command == L"window") {
        return FindWindowW(argv[2], nullptr) != nullptr ? 0 : 1;
    }
    std::fprintf(stderr, "Usage: installer-probe shortcut FILE.lnk | window CLASS\n");
    return 2;
}
