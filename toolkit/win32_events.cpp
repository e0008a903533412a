// eventWait and the pointer position on Win32.
//
// Window procedures append to the program's event queue (event_queue.h) on the GUI thread;
// eventWait hands the events out oldest first. While the queue is empty it sleeps in
// MsgWaitForMultipleObjects until a message arrives (a click, a repaint, or the acquisition
// thread's wake-up after it changed the control record, or a request to end the program) or the
// time is up.
#include "toolkit/core_internal.h"
#include "toolkit/win32_internal.h"

namespace veltrace::toolkit {

namespace {

// Tab and Shift+Tab move the focus between the controls of the window that has it.
bool dialogNavigation(MSG& message) {
    if (message.message != WM_KEYDOWN && message.message != WM_KEYUP &&
        message.message != WM_CHAR) {
        return false;
    }
    for (int number = 0; number < detail::WindowCount; ++number) {
        const win32::WindowEntry* entry = win32::windowEntry(number);
        if (entry != nullptr &&
            (message.hwnd == entry->hwnd || IsChild(entry->hwnd, message.hwnd))) {
            return IsDialogMessageW(entry->hwnd, &message) != 0;
        }
    }
    return false;
}

// -1 (both readings) whenever the pointer is outside the client area: left of or above it, or
// on or beyond its last column or row. One rule for the position, so a pointer beside the window
// does not pass its height off as a row of the picture.
int pointerCoordinate(int window, bool horizontal) {
    const win32::WindowEntry* entry = win32::windowEntry(window);
    if (entry == nullptr) {
        return 0;
    }
    POINT point{};
    RECT client{};
    if (!GetCursorPos(&point) || !ScreenToClient(entry->hwnd, &point) ||
        !GetClientRect(entry->hwnd, &client)) {
        return -1;
    }
    const bool inside =
        point.x >= 0 && point.y >= 0 && point.x < client.right - 1 && point.y < client.bottom - 1;
    if (!inside) {
        return -1;
    }
    return horizontal ? point.x : point.y;
}

} // namespace

namespace win32 {

void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!dialogNavigation(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

} // namespace win32

int eventWait(int timeoutMs) {
    if (terminationRequested()) {
        return detail::handOutTermination();
    }
    if (!win32::ready()) {
        return detail::handOutNothing();
    }
    win32::applyDirtyRecords();
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        win32::pumpMessages();
        win32::applyDirtyRecords();
        if (detail::eventsQueued() || timeoutMs == 0 || !win32::ready() || terminationRequested()) {
            break;
        }
        DWORD wait = INFINITE;
        if (timeoutMs > 0) {
            const ULONGLONG elapsed = GetTickCount64() - start;
            if (elapsed >= static_cast<ULONGLONG>(timeoutMs)) {
                break;
            }
            wait = static_cast<DWORD>(static_cast<ULONGLONG>(timeoutMs) - elapsed);
        }
        // Sleeps until a message is posted or sent to this thread or the time is up; messages
        // already seen by an earlier peek count as new input (MWMO_INPUTAVAILABLE).
        MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return detail::handOutNext();
}

int pointerX(int window) {
    return pointerCoordinate(window, true);
}
int pointerY(int window) {
    return pointerCoordinate(window, false);
}

} // namespace veltrace::toolkit
