// Message boxes and opening documents on Win32 (each replaceable by a hook: shell_hooks.cpp).
#include "toolkit/core_internal.h"
#include "toolkit/shell_hooks.h"
#include "toolkit/win32_internal.h"

#include <shellapi.h>

#include <vector>

namespace veltrace::toolkit {

namespace {

// While a box is shown (GUI thread only).
bool boxOpen = false;

BOOL CALLBACK endDialogWindow(HWND hwnd, LPARAM) {
    // MessageBoxW shows a dialog of the system's dialog class; none of our windows is one.
    wchar_t className[16] = {};
    if (GetClassNameW(hwnd, className, 16) > 0 && lstrcmpW(className, L"#32770") == 0) {
        EndDialog(hwnd, IDOK);
    }
    return TRUE;
}

} // namespace

int messageBox(const std::string& caption, const std::string& text, int flags) {
    if (const MessageBoxHook hook = detail::messageBoxHook()) {
        return hook(caption, text, flags);
    }
    if (terminationRequested()) {
        return IDOK; // the program is ending; nobody is there to answer
    }
    // Owned by the foreground window when that is ours, else by nobody.
    const win32::WindowEntry* owner = win32::windowEntry(foregroundWindowNumber());
    // Our top-most windows would cover the box: they give up the place while it is shown.
    std::vector<int> topmost;
    for (int number = 0; number < detail::WindowCount; ++number) {
        if (windowTopmost(number) != 0) {
            topmost.push_back(number);
            windowSetTopmost(number, 0);
        }
    }
    boxOpen = true;
    const int result =
        MessageBoxW(owner != nullptr ? owner->hwnd : nullptr, win32::wide(text).c_str(),
                    win32::wide(caption).c_str(), static_cast<UINT>(flags));
    boxOpen = false;
    for (int number : topmost) {
        windowSetTopmost(number, 1);
    }
    return result;
}

namespace win32 {

void closeOpenMessageBox() {
    if (boxOpen) {
        EnumThreadWindows(GetCurrentThreadId(), endDialogWindow, 0);
    }
}

} // namespace win32

void openDocument(const std::string& address) {
    if (const OpenDocumentHook hook = detail::openDocumentHook()) {
        hook(address);
        return;
    }
    // Hands the address to the default handler (the browser, for a web address) and returns.
    ShellExecuteW(nullptr, L"open", win32::wide(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace veltrace::toolkit
