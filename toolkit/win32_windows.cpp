// Numbered top-level windows on Win32. The requested inner size is the client size without a
// menu bar (AdjustWindowRectEx without a menu), so a menu bar added later takes its height from
// the client area, and control coordinates are client coordinates below the menu bar.
#include "toolkit/core_internal.h"
#include "toolkit/win32_internal.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace veltrace::toolkit {

namespace {

using detail::WindowCount;

std::array<std::unique_ptr<win32::WindowEntry>, WindowCount> windows;
int lastOpened = -1;
HICON programIcon = nullptr;

bool validWindow(int number) {
    return number >= 0 && number < WindowCount;
}

// Outer size for an inner size; the menu bar is not counted.
SIZE outerSize(DWORD style, int innerWidth, int innerHeight) {
    RECT rect{0, 0, innerWidth, innerHeight};
    AdjustWindowRectEx(&rect, style, FALSE, 0);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

int numberOf(HWND hwnd) {
    return static_cast<int>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)) - 1;
}

} // namespace

namespace win32 {

WindowEntry* windowEntry(int number) {
    return validWindow(number) ? windows[static_cast<std::size_t>(number)].get() : nullptr;
}

int buildWindow() {
    return windowEntry(lastOpened) != nullptr ? lastOpened : -1;
}

void closeAllWindows() {
    for (int number = 0; number < WindowCount; ++number) {
        windowClose(number);
    }
    lastOpened = -1;
    if (programIcon != nullptr) {
        DestroyIcon(programIcon);
        programIcon = nullptr;
    }
}

LRESULT CALLBACK windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const int number = numberOf(hwnd);
    switch (message) {
    case WM_CLOSE:
        // The program decides: the close box only reports.
        if (number >= 0) {
            postEvent(QueuedEvent{EventClose, 0, 0, 0, number});
        }
        return 0;
    case WM_COMMAND:
        if (lParam == 0 && HIWORD(wParam) == 0) {
            postEvent(QueuedEvent{EventMenu, 0, 0, LOWORD(wParam), number});
        } else if (lParam != 0 && LOWORD(wParam) >= ControlIdBase) {
            controlCommand(number, LOWORD(wParam) - ControlIdBase, HIWORD(wParam));
        }
        return 0;
    case WM_QUERYENDSESSION:
        // The session may end: we agree, and the program runs its end sequence as soon as the
        // event wait sees the request. What it keeps (the settings file, captures) is written
        // when it is made, so a session that ends before the sequence is through loses nothing.
        sessionEnding();
        return TRUE;
    case WM_ENDSESSION:
        if (wParam != 0) {
            sessionEnding();
        }
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

} // namespace win32

int windowOpen(int number, int x, int y, int innerWidth, int innerHeight, const std::string& title,
               int flags) {
    if (!win32::ready() || !validWindow(number) || innerWidth < 0 || innerHeight < 0) {
        return 0;
    }
    // The window to centre on is the active one before an old window of this number goes; if
    // that was the active one, the program's other window takes its place.
    int active = -1;
    if ((flags & WindowCentred) != 0) {
        active = foregroundWindowNumber();
        if (active == number) {
            const int other = number == 0 ? 1 : 0;
            active = windowExists(other) != 0 ? other : -1;
        }
    }
    RECT over{};
    const bool haveOver = active >= 0 && GetWindowRect(win32::windowEntry(active)->hwnd, &over);
    windowClose(number);

    const DWORD style = (flags & WindowFixedCaption) != 0
                            ? (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN)
                            : (WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN);
    const SIZE outer = outerSize(style, innerWidth, innerHeight);
    int left = x;
    int top = y;
    if ((flags & WindowCentred) != 0) {
        if (haveOver) {
            left = std::max<int>(0, over.left + ((over.right - over.left) - outer.cx) / 2);
            top = std::max<int>(0, over.top + ((over.bottom - over.top) - outer.cy) / 2);
        } else {
            left = 100;
            top = 150;
        }
    }
    const HWND hwnd =
        CreateWindowExW(0, win32::WindowClass, win32::wide(title).c_str(), style, left, top,
                        outer.cx, outer.cy, nullptr, nullptr, win32::instance(), nullptr);
    if (hwnd == nullptr) {
        return 0;
    }
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, number + 1);
    if (programIcon != nullptr) {
        SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(programIcon));
        SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(programIcon));
    }
    auto entry = std::make_unique<win32::WindowEntry>();
    entry->hwnd = hwnd;
    entry->innerWidth = innerWidth;
    entry->innerHeight = innerHeight;
    entry->style = style;
    windows[static_cast<std::size_t>(number)] = std::move(entry);
    lastOpened = number;
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    return 1;
}

void windowClose(int number) {
    win32::WindowEntry* entry = win32::windowEntry(number);
    if (entry == nullptr) {
        return;
    }
    win32::forgetControlsOfWindow(number);
    win32::forgetMenusOfWindow(number);
    win32::dropEventsOfWindow(number);
    const HWND hwnd = entry->hwnd;
    windows[static_cast<std::size_t>(number)].reset();
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    DestroyWindow(hwnd); // its menu bar goes with it
}

int windowLeft(int number) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    RECT rect{};
    return entry != nullptr && GetWindowRect(entry->hwnd, &rect) ? rect.left : 0;
}

int windowTop(int number) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    RECT rect{};
    return entry != nullptr && GetWindowRect(entry->hwnd, &rect) ? rect.top : 0;
}

int windowOuterWidth(int number) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    RECT rect{};
    return entry != nullptr && GetWindowRect(entry->hwnd, &rect) ? rect.right - rect.left : 0;
}

int windowOuterHeight(int number) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    RECT rect{};
    return entry != nullptr && GetWindowRect(entry->hwnd, &rect) ? rect.bottom - rect.top : 0;
}

int windowInnerWidth(int number) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    return entry != nullptr ? entry->innerWidth : 0;
}

int windowInnerHeight(int number) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    return entry != nullptr ? entry->innerHeight : 0;
}

int windowExists(int number) {
    return win32::windowEntry(number) != nullptr ? 1 : 0;
}

int windowResize(int number, int x, int y, int innerWidth, int innerHeight) {
    win32::WindowEntry* entry = win32::windowEntry(number);
    if (entry == nullptr || innerWidth < 0 || innerHeight < 0) {
        return 0;
    }
    RECT rect{};
    GetWindowRect(entry->hwnd, &rect);
    const SIZE outer = outerSize(entry->style, innerWidth, innerHeight);
    entry->innerWidth = innerWidth;
    entry->innerHeight = innerHeight;
    SetWindowPos(entry->hwnd, nullptr, x != KeepCoordinate ? x : rect.left,
                 y != KeepCoordinate ? y : rect.top, outer.cx, outer.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    return 1;
}

Handle windowHandle(int number) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    return entry != nullptr ? reinterpret_cast<Handle>(entry->hwnd) : 0;
}

int foregroundWindowNumber() {
    const HWND foreground = GetForegroundWindow();
    for (int number = 0; number < WindowCount; ++number) {
        const win32::WindowEntry* entry = win32::windowEntry(number);
        if (entry != nullptr && foreground != nullptr && entry->hwnd == foreground) {
            return number;
        }
    }
    return -1;
}

void windowSetTopmost(int number, int topmost) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    if (entry != nullptr) {
        SetWindowPos(entry->hwnd, topmost != 0 ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

int windowTopmost(int number) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    return entry != nullptr && (GetWindowLongPtrW(entry->hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0
               ? 1
               : 0;
}

void windowRaise(int number) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    if (entry != nullptr) {
        BringWindowToTop(entry->hwnd);
        SetForegroundWindow(entry->hwnd);
    }
}

void windowEnable(int number, int enabled) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    if (entry != nullptr) {
        EnableWindow(entry->hwnd, enabled != 0 ? TRUE : FALSE);
    }
}

int windowEnabled(int number) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    return entry != nullptr && IsWindowEnabled(entry->hwnd) ? 1 : 0;
}

void windowIconSet(int number, Handle image) {
    win32::WindowEntry* entry = win32::windowEntry(number);
    const std::shared_ptr<const Image> picture = imageByHandle(image);
    if (entry == nullptr || !picture || picture->width <= 0 || picture->height <= 0) {
        return;
    }
    // A program file with its own icon shows that one (the window class carries it at every size
    // the system asks for, drawn by the same code); the picture is for programs without one.
    if (win32::programFileHasIcon()) {
        return;
    }
    const HBITMAP colour = win32::bitmapOf(*picture);
    // An all-zero mask: every pixel of the picture is shown.
    const std::vector<BYTE> opaque(
        static_cast<std::size_t>((picture->width + 15) / 16 * 2 * picture->height), 0);
    const HBITMAP mask = CreateBitmap(picture->width, picture->height, 1, 1, opaque.data());
    ICONINFO info{TRUE, 0, 0, mask, colour};
    const HICON icon = colour != nullptr && mask != nullptr ? CreateIconIndirect(&info) : nullptr;
    DeleteObject(colour);
    DeleteObject(mask);
    if (icon == nullptr) {
        return;
    }
    // The program has one icon: windows opened later (the About window, the port dialog) get
    // it too, as windows of one class do.
    if (programIcon != nullptr) {
        DestroyIcon(programIcon);
    }
    programIcon = icon;
    for (int other = 0; other < WindowCount; ++other) {
        if (const win32::WindowEntry* open = win32::windowEntry(other)) {
            SendMessageW(open->hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
            SendMessageW(open->hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        }
    }
}

} // namespace veltrace::toolkit
