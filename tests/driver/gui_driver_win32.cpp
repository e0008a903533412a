// The GUI test driver on Win32: the messages a real mouse and menu produce, pixels through
// WM_PRINT into a memory bitmap (works with Wine's null display driver as on a desktop).
#include "driver/gui_driver.h"
#include "toolkit/win32_access.h"

namespace veltrace::testing_support::driver {

namespace {

void mouse(HWND hwnd, UINT message, int x, int y) {
    SendMessageW(hwnd, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(x, y));
}

} // namespace

void settle() {
    toolkit::access::flushPendingUpdates();
}

void click(int control) {
    const HWND hwnd = toolkit::access::controlHwnd(control);
    if (hwnd != nullptr) {
        RECT rect{};
        GetClientRect(hwnd, &rect);
        clickAt(control, rect.right / 2, rect.bottom / 2);
        return;
    }
    settle();
}

void clickAt(int control, int x, int y) {
    if (const HWND hwnd = toolkit::access::controlHwnd(control)) {
        mouse(hwnd, WM_LBUTTONDOWN, x, y);
        mouse(hwnd, WM_LBUTTONUP, x, y);
    }
    settle();
}

void doubleClickAt(int control, int x, int y) {
    if (const HWND hwnd = toolkit::access::controlHwnd(control)) {
        mouse(hwnd, WM_LBUTTONDOWN, x, y);
        mouse(hwnd, WM_LBUTTONUP, x, y);
        mouse(hwnd, WM_LBUTTONDBLCLK, x, y);
        mouse(hwnd, WM_LBUTTONUP, x, y);
    }
    settle();
}

void movePointer(int window, int x, int y) {
    if (const HWND hwnd = toolkit::access::windowHwnd(window)) {
        POINT point{x, y};
        ClientToScreen(hwnd, &point);
        SetCursorPos(point.x, point.y);
    }
    settle();
}

void chooseMenuItem(int item) {
    for (int window = 0; window < 2; ++window) {
        const HWND hwnd = toolkit::access::windowHwnd(window);
        const HMENU bar = hwnd != nullptr ? GetMenu(hwnd) : nullptr;
        if (bar == nullptr) {
            continue;
        }
        for (int title = 0; title < GetMenuItemCount(bar); ++title) {
            const HMENU menu = GetSubMenu(bar, title);
            if (menu != nullptr && GetMenuState(menu, static_cast<UINT>(item), MF_BYCOMMAND) !=
                                       static_cast<UINT>(-1)) {
                // What the menu bar sends when the item is chosen.
                PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(item, 0), 0);
                settle();
                return;
            }
        }
    }
    settle();
}

void closeWindow(int window) {
    if (const HWND hwnd = toolkit::access::windowHwnd(window)) {
        // What the close box sends.
        SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    settle();
}

int areaHeight(int window) {
    RECT client{};
    const HWND hwnd = toolkit::access::windowHwnd(window);
    // The client area of a window with a menu bar is the area below it.
    return hwnd != nullptr && GetClientRect(hwnd, &client) ? client.bottom : 0;
}

bool shown(int control) {
    const HWND hwnd = toolkit::access::controlHwnd(control);
    return hwnd != nullptr && IsWindowVisible(hwnd);
}

int checked(int control) {
    const HWND hwnd = toolkit::access::controlHwnd(control);
    if (hwnd == nullptr) {
        return -1;
    }
    const LONG_PTR type = GetWindowLongPtrW(hwnd, GWL_STYLE) & BS_TYPEMASK;
    if (type != BS_CHECKBOX && type != BS_AUTOCHECKBOX && type != BS_RADIOBUTTON &&
        type != BS_AUTORADIOBUTTON) {
        return -1;
    }
    return SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

toolkit::Image pixels(int control) {
    const HWND hwnd = toolkit::access::controlHwnd(control);
    if (hwnd == nullptr) {
        return {};
    }
    settle();
    RECT client{};
    GetClientRect(hwnd, &client);
    toolkit::Image image;
    image.width = client.right;
    image.height = client.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HDC dc = CreateCompatibleDC(nullptr);
    const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dc == nullptr || bitmap == nullptr || bits == nullptr) {
        return {};
    }
    const HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    GdiFlush();
    const auto* from = static_cast<const std::uint8_t*>(bits);
    image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
    for (std::size_t i = 0; i < static_cast<std::size_t>(image.width) * image.height; ++i) {
        image.rgb[3 * i] = from[4 * i + 2];
        image.rgb[3 * i + 1] = from[4 * i + 1];
        image.rgb[3 * i + 2] = from[4 * i];
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return image;
}

} // namespace veltrace::testing_support::driver
