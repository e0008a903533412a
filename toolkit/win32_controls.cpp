// The Win32 controls behind the numbered controls. The record of each control
// (control_record.cpp) is the truth; this file creates the control windows, reports their clicks
// as program events and brings them up to date from the record on the GUI thread. The
// acquisition thread never touches a window: it changes the record, and the record's wake posts
// one message to the GUI thread, which applies the change inside eventWait (or inside any modal
// loop that dispatches messages, such as a message box's).
#include "toolkit/control_record.h"
#include "toolkit/win32_access.h"
#include "toolkit/win32_internal.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <vector>

namespace veltrace::toolkit {

namespace {

using detail::LastControl;
using detail::validControl;

constexpr int ComboListHeight = 350; // the dropped list is at most this high
constexpr UINT WakeMessage = WM_APP + 1;
constexpr UINT TerminateMessage = WM_APP + 2;

struct ControlEntry {
    HWND hwnd = nullptr;
    ControlKind kind = ControlKind::None;
    int window = -1;
    // Image display: the picture shown, as bottom-up-free BGR rows padded to 4 bytes.
    std::shared_ptr<const Image> picture;
    Handle shown = 0; // the handle of that picture, for the painted report
    std::vector<std::uint8_t> bgr;
    BITMAPINFO info{};
    HBITMAP buttonBitmap = nullptr; // picture button
};

// GUI thread only.
std::array<ControlEntry, LastControl + 1> controls{};

// The hidden message-only window the acquisition thread's wake-ups are posted to. Set while the
// record exists; wake() reads it under the record's lock.
std::atomic<HWND> wakeWindow{nullptr};
std::atomic<bool> wakePending{false};

LRESULT CALLBACK wakeProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WakeMessage) {
        wakePending = false;
        win32::applyDirtyRecords();
        return 0;
    }
    if (message == TerminateMessage) {
        // Dispatched by eventWait, or by a message box's own loop, which this ends.
        win32::closeOpenMessageBox();
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Any thread: one pending wake-up is enough, however many changes the worker makes.
void wakeGuiThread() {
    const HWND target = wakeWindow.load();
    if (target != nullptr && !wakePending.exchange(true)) {
        if (!PostMessageW(target, WakeMessage, 0, 0)) {
            wakePending = false;
        }
    }
}

// Static texts break lines at "\r\n"; the program writes a lone "\r" or "\n" too.
std::wstring staticText(const std::string& text) {
    std::wstring result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            result += L"\r\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
        }
    }
    return result;
}

void setPicture(ControlEntry& entry, std::shared_ptr<const Image> picture) {
    entry.picture = std::move(picture);
    entry.bgr.clear();
    const Image* image = entry.picture.get();
    if (image != nullptr && image->width > 0 && image->height > 0 &&
        image->rgb.size() >= static_cast<std::size_t>(image->width) * image->height * 3) {
        const std::size_t stride = (static_cast<std::size_t>(image->width) * 3 + 3) & ~3u;
        entry.bgr.assign(stride * image->height, 0);
        for (int y = 0; y < image->height; ++y) {
            const std::uint8_t* from =
                image->rgb.data() + static_cast<std::size_t>(y) * image->width * 3;
            std::uint8_t* to = entry.bgr.data() + stride * y;
            for (int x = 0; x < image->width; ++x) {
                to[3 * x] = from[3 * x + 2];
                to[3 * x + 1] = from[3 * x + 1];
                to[3 * x + 2] = from[3 * x];
            }
        }
        entry.info = BITMAPINFO{};
        entry.info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        entry.info.bmiHeader.biWidth = image->width;
        entry.info.bmiHeader.biHeight = -image->height; // rows top first
        entry.info.bmiHeader.biPlanes = 1;
        entry.info.bmiHeader.biBitCount = 24;
        entry.info.bmiHeader.biCompression = BI_RGB;
    }
    if (entry.hwnd != nullptr) {
        InvalidateRect(entry.hwnd, nullptr, TRUE);
    }
}

void paintImage(HWND hwnd, HDC dc) {
    const int number = static_cast<int>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!validControl(number)) {
        return;
    }
    const ControlEntry& entry = controls[static_cast<std::size_t>(number)];
    RECT client{};
    GetClientRect(hwnd, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    if (!entry.bgr.empty() && entry.picture) {
        SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(entry.picture->width),
                          static_cast<DWORD>(entry.picture->height), 0, 0, 0,
                          static_cast<UINT>(entry.picture->height), entry.bgr.data(), &entry.info,
                          DIB_RGB_COLORS);
    }
}

void destroyControl(int number) {
    detail::recordForget(number);
    ControlEntry& entry = controls[static_cast<std::size_t>(number)];
    if (entry.hwnd != nullptr) {
        DestroyWindow(entry.hwnd);
    }
    if (entry.buttonBitmap != nullptr) {
        DeleteObject(entry.buttonBitmap);
    }
    entry = ControlEntry{};
}

// Common start of every creation: a free number in the window opened last.
HWND createStart(int number) {
    if (!win32::ready() || !validControl(number)) {
        return nullptr;
    }
    const win32::WindowEntry* window = win32::windowEntry(win32::buildWindow());
    if (window == nullptr) {
        return nullptr;
    }
    destroyControl(number);
    return window->hwnd;
}

HWND createControl(int number, HWND parent, const wchar_t* className, const std::wstring& text,
                   DWORD style, DWORD exStyle, int x, int y, int w, int h) {
    const HWND hwnd = CreateWindowExW(
        exStyle, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, std::max(0, w),
        std::max(0, h), parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(win32::ControlIdBase + number)),
        win32::instance(), nullptr);
    if (hwnd != nullptr) {
        SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(win32::guiFont()), FALSE);
    }
    return hwnd;
}

void createFinish(int number, HWND hwnd, ControlKind kind, int x, int y, int w, int h,
                  const std::string& text) {
    if (hwnd == nullptr) {
        return;
    }
    const int window = win32::buildWindow();
    detail::recordCreate(number, kind, window, x, y, w, h, text);
    ControlEntry& entry = controls[static_cast<std::size_t>(number)];
    entry.hwnd = hwnd;
    entry.kind = kind;
    entry.window = window;
}

void applyUpdate(const detail::PendingUpdate& update) {
    ControlEntry& entry = controls[static_cast<std::size_t>(update.number)];
    if (entry.hwnd == nullptr) {
        return;
    }
    if (update.text) {
        switch (update.kind) {
        case ControlKind::PushButton:
        case ControlKind::ToggleButton:
        case ControlKind::OptionButton:
            SetWindowTextW(entry.hwnd, win32::wide(update.textValue).c_str());
            break;
        case ControlKind::Label:
        case ControlKind::ValueText:
            SetWindowTextW(entry.hwnd, staticText(update.textValue).c_str());
            break;
        default:
            break;
        }
    }
    if (update.state) {
        // Setting a state from the program never produces an event: these messages notify
        // nobody.
        switch (update.kind) {
        case ControlKind::ToggleButton:
        case ControlKind::OptionButton:
            SendMessageW(entry.hwnd, BM_SETCHECK,
                         update.stateValue != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
            break;
        case ControlKind::ComboBox:
            SendMessageW(entry.hwnd, CB_SETCURSEL, static_cast<WPARAM>(update.stateValue), 0);
            break;
        default:
            break;
        }
    }
    if (update.image && update.kind == ControlKind::ImageDisplay) {
        setPicture(entry, update.picture);
        entry.shown = update.picture ? update.pictureHandle : 0;
    }
    if (update.visible) {
        ShowWindow(entry.hwnd, update.visibleValue ? SW_SHOWNA : SW_HIDE);
    }
}

} // namespace

namespace win32 {

void controlsBegin() {
    for (ControlEntry& entry : controls) {
        entry = ControlEntry{};
    }
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW wake{};
        wake.cbSize = sizeof wake;
        wake.lpfnWndProc = wakeProcedure;
        wake.hInstance = instance();
        wake.lpszClassName = L"VeltraceWake";
        registered = RegisterClassExW(&wake) != 0;
    }
    wakeWindow = CreateWindowExW(0, L"VeltraceWake", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 instance(), nullptr);
    wakePending = false;
    detail::recordBegin(detail::ControlBackend{&win32::applyDirtyRecords, &wakeGuiThread});
}

void controlsEnd() {
    // The record first: from then on no worker can reach wakeGuiThread.
    detail::recordEnd();
    const HWND hwnd = wakeWindow.exchange(nullptr);
    if (hwnd != nullptr) {
        DestroyWindow(hwnd);
    }
    for (ControlEntry& entry : controls) {
        if (entry.buttonBitmap != nullptr) {
            DeleteObject(entry.buttonBitmap);
        }
        entry = ControlEntry{}; // the windows went with their top-level windows
    }
}

void forgetControlsOfWindow(int window) {
    for (int number : detail::recordControlsOfWindow(window)) {
        destroyControl(number);
    }
    detail::recordWindowClosed(window);
}

void applyDirtyRecords() {
    for (const detail::PendingUpdate& update : detail::takeDirtyUpdates()) {
        applyUpdate(update);
    }
}

void wakeForTermination() {
    const HWND target = wakeWindow.load();
    if (target != nullptr) {
        PostMessageW(target, TerminateMessage, 0, 0);
    }
}

HWND controlWindowOf(int number) {
    return validControl(number) ? controls[static_cast<std::size_t>(number)].hwnd : nullptr;
}

void controlCommand(int window, int number, int code) {
    if (!validControl(number)) {
        return;
    }
    const ControlEntry& entry = controls[static_cast<std::size_t>(number)];
    switch (entry.kind) {
    case ControlKind::PushButton:
    case ControlKind::PictureButton:
        if (code == BN_CLICKED) {
            postEvent(QueuedEvent{EventControl, number, 0, 0, window});
        }
        break;
    case ControlKind::ToggleButton:
        // The push-like check box has flipped itself already: the record takes its new state
        // before the program sees the event.
        if (code == BN_CLICKED) {
            const LRESULT checked = SendMessageW(entry.hwnd, BM_GETCHECK, 0, 0);
            detail::recordStateFromWidget(number, checked == BST_CHECKED ? 1 : 0);
            postEvent(QueuedEvent{EventControl, number, 0, 0, window});
        }
        break;
    case ControlKind::OptionButton:
        // Groups follow creation order, so the button is not an automatic one: a click selects
        // it (also when it was selected) and the record clears the rest of its group.
        if (code == BN_CLICKED) {
            SendMessageW(entry.hwnd, BM_SETCHECK, BST_CHECKED, 0);
            detail::recordOptionSelected(number);
            applyDirtyRecords();
            postEvent(QueuedEvent{EventControl, number, 0, 0, window});
        }
        break;
    case ControlKind::ComboBox:
        if (code == CBN_SELCHANGE) {
            const LRESULT index = SendMessageW(entry.hwnd, CB_GETCURSEL, 0, 0);
            detail::recordStateFromWidget(number, static_cast<int>(index));
        }
        break;
    default:
        break;
    }
}

// The picture display: shows the latest picture at the top-left of its client area (inside the
// sunken edge) and reports clicks (type 0) and double clicks (type 1).
LRESULT CALLBACK imageProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        const HDC dc = BeginPaint(hwnd, &paint);
        paintImage(hwnd, dc);
        EndPaint(hwnd, &paint);
        const int number = static_cast<int>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (validControl(number) && controls[static_cast<std::size_t>(number)].shown != 0) {
            // On the screen now (the statistics report times how soon).
            detail::picturePainted(controls[static_cast<std::size_t>(number)].shown);
        }
        return 0;
    }
    case WM_PRINTCLIENT:
        paintImage(hwnd, reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        return 1; // WM_PAINT covers the whole client area
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        const int number = static_cast<int>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (validControl(number)) {
            postEvent(QueuedEvent{EventControl, number, message == WM_LBUTTONDBLCLK ? 1 : 0, 0,
                                  controls[static_cast<std::size_t>(number)].window});
        }
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

HBITMAP bitmapOf(const Image& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() < static_cast<std::size_t>(image.width) * image.height * 3) {
        return nullptr;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) {
        return bitmap;
    }
    auto* to = static_cast<std::uint8_t*>(bits);
    for (std::size_t i = 0; i < static_cast<std::size_t>(image.width) * image.height; ++i) {
        to[4 * i] = image.rgb[3 * i + 2];
        to[4 * i + 1] = image.rgb[3 * i + 1];
        to[4 * i + 2] = image.rgb[3 * i];
        to[4 * i + 3] = 0;
    }
    return bitmap;
}

} // namespace win32

void pushButtonCreate(int number, int x, int y, int w, int h, const std::string& caption) {
    const HWND parent = createStart(number);
    if (parent != nullptr) {
        createFinish(number,
                     createControl(number, parent, L"BUTTON", win32::wide(caption),
                                   BS_PUSHBUTTON | WS_TABSTOP, 0, x, y, w, h),
                     ControlKind::PushButton, x, y, w, h, caption);
    }
}

void toggleButtonCreate(int number, int x, int y, int w, int h, const std::string& caption) {
    const HWND parent = createStart(number);
    if (parent != nullptr) {
        createFinish(number,
                     createControl(number, parent, L"BUTTON", win32::wide(caption),
                                   BS_AUTOCHECKBOX | BS_PUSHLIKE | WS_TABSTOP, 0, x, y, w, h),
                     ControlKind::ToggleButton, x, y, w, h, caption);
    }
}

void optionButtonCreate(int number, int x, int y, int w, int h, const std::string& caption) {
    const HWND parent = createStart(number);
    if (parent != nullptr) {
        createFinish(number,
                     createControl(number, parent, L"BUTTON", win32::wide(caption),
                                   BS_RADIOBUTTON | WS_TABSTOP, 0, x, y, w, h),
                     ControlKind::OptionButton, x, y, w, h, caption);
    }
}

void labelCreate(int number, int x, int y, int w, int h, const std::string& caption, int centred) {
    const HWND parent = createStart(number);
    if (parent != nullptr) {
        createFinish(number,
                     createControl(number, parent, L"STATIC", staticText(caption),
                                   (centred != 0 ? SS_CENTER : SS_LEFT) | SS_NOPREFIX, 0, x, y, w,
                                   h),
                     ControlKind::Label, x, y, w, h, caption);
    }
}

void valueTextCreate(int number, int x, int y, int w, int h) {
    const HWND parent = createStart(number);
    if (parent != nullptr) {
        createFinish(number,
                     createControl(number, parent, L"STATIC", L"", SS_LEFT | SS_NOPREFIX,
                                   WS_EX_CLIENTEDGE, x, y, w, h),
                     ControlKind::ValueText, x, y, w, h, std::string());
    }
}

void imageDisplayCreate(int number, int x, int y, int w, int h, int sunkenEdge) {
    const HWND parent = createStart(number);
    if (parent == nullptr) {
        return;
    }
    const HWND hwnd = createControl(number, parent, win32::ImageClass, L"", 0,
                                    sunkenEdge != 0 ? WS_EX_CLIENTEDGE : 0, x, y, w, h);
    if (hwnd != nullptr) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, number);
    }
    createFinish(number, hwnd, ControlKind::ImageDisplay, x, y, w, h, std::string());
}

void pictureButtonCreate(int number, int x, int y, int w, int h, Handle image) {
    const HWND parent = createStart(number);
    if (parent == nullptr) {
        return;
    }
    const HWND hwnd = createControl(number, parent, L"BUTTON", L"",
                                    BS_PUSHBUTTON | BS_BITMAP | WS_TABSTOP, 0, x, y, w, h);
    createFinish(number, hwnd, ControlKind::PictureButton, x, y, w, h, std::string());
    if (hwnd == nullptr) {
        return;
    }
    if (const std::shared_ptr<const Image> picture = imageByHandle(image)) {
        ControlEntry& entry = controls[static_cast<std::size_t>(number)];
        entry.buttonBitmap = win32::bitmapOf(*picture);
        SendMessageW(hwnd, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(entry.buttonBitmap));
    }
    detail::recordPictureButtonImage(number, image);
}

void comboBoxCreate(int number, int x, int y, int w, int h) {
    const HWND parent = createStart(number);
    if (parent == nullptr) {
        return;
    }
    // A drop-down list's window height is the closed field plus its list.
    const HWND hwnd =
        createControl(number, parent, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                      0, x, y, w, h + ComboListHeight);
    if (hwnd != nullptr && h > 6) {
        SendMessageW(hwnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), h - 6);
    }
    createFinish(number, hwnd, ControlKind::ComboBox, x, y, w, h, std::string());
}

void comboItemAdd(int number, const std::string& text) {
    if (!win32::ready() || !validControl(number)) {
        return;
    }
    const ControlEntry& entry = controls[static_cast<std::size_t>(number)];
    if (entry.kind != ControlKind::ComboBox || entry.hwnd == nullptr) {
        return;
    }
    detail::recordComboItemAdd(number, text);
    // The first entry of an empty list does not select itself: the field stays empty until the
    // program selects something.
    SendMessageW(entry.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(win32::wide(text).c_str()));
}

} // namespace veltrace::toolkit

namespace veltrace::toolkit::access {

HWND windowHwnd(int number) {
    const win32::WindowEntry* entry = win32::windowEntry(number);
    return entry != nullptr ? entry->hwnd : nullptr;
}

HWND controlHwnd(int number) {
    return win32::controlWindowOf(number);
}

void flushPendingUpdates() {
    if (!win32::ready()) {
        return;
    }
    win32::applyDirtyRecords();
    win32::pumpMessages();
    win32::applyDirtyRecords();
}

} // namespace veltrace::toolkit::access
