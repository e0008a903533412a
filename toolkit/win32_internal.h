// Internal to the Win32 backend: what its files share with one another. Everything here runs on
// the GUI thread (the thread that called toolkitInit) unless a comment says otherwise.
#pragma once

#include "toolkit/event_queue.h"
#include "toolkit/toolkit.h"

#include <windows.h>

#include <string>

namespace veltrace::toolkit::win32 {

// ---- Start and end (win32_app.cpp) ----------------------------------------------------------

// True between a successful toolkitInit and toolkitEnd.
bool ready();
HINSTANCE instance();
// Whether the program file has its icon resource (number 1); test programs have none.
bool programFileHasIcon();
// The platform's default GUI font, which every control uses.
HFONT guiFont();
// Latin-1 bytes as UTF-16 (each byte is its own code point), for the wide calls.
std::wstring wide(const std::string& latin1);
// The class names of our top-level windows and picture displays.
inline constexpr wchar_t WindowClass[] = L"VeltraceWindow";
inline constexpr wchar_t ImageClass[] = L"VeltraceImage";

// ---- Events (win32_events.cpp) --------------------------------------------------------------

// The queue itself is the toolkit's own (event_queue.h); window procedures append to it.
using detail::clearEvents;
using detail::dropEventsOfWindow;
using detail::postEvent;
using detail::QueuedEvent;
// Dispatches every message waiting for this thread (the test driver uses it too).
void pumpMessages();

// ---- Requests to end (termination_win32.cpp) --------------------------------------------------

// The session ends (WM_QUERYENDSESSION, WM_ENDSESSION): once catchTerminationRequests has been
// called, a request to end like the console's.
void sessionEnding();

// ---- Windows (win32_windows.cpp) ------------------------------------------------------------

struct WindowEntry {
    HWND hwnd = nullptr;
    HMENU menuBar = nullptr;
    int innerWidth = 0; // client size, menu bar included
    int innerHeight = 0;
    DWORD style = 0;
};

WindowEntry* windowEntry(int number);
// The window controls are created in (the one opened last), or -1 when it has been closed.
int buildWindow();
void closeAllWindows();
LRESULT CALLBACK windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// ---- Controls (win32_controls.cpp) ----------------------------------------------------------

// Control windows carry their number in their identifier, above the menu items' range.
inline constexpr int ControlIdBase = 0x1000;

void controlsBegin();
void controlsEnd();
void forgetControlsOfWindow(int window);
void applyDirtyRecords();
HWND controlWindowOf(int number);
// Any thread: wakes the GUI thread for a request to end, which also ends an open message box.
void wakeForTermination();
// A WM_COMMAND notification from control `number` of `window`.
void controlCommand(int window, int number, int code);
LRESULT CALLBACK imageProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// A bottom-up 24-bit DIB of an image (for picture buttons and the window icon); null on failure.
HBITMAP bitmapOf(const Image& image);

// ---- Menus (win32_menu.cpp) -----------------------------------------------------------------

void forgetMenusOfWindow(int window);

// ---- Message boxes (win32_shell.cpp) ----------------------------------------------------------

// Ends the message box that is open, as if Ok was pressed.
void closeOpenMessageBox();

// ---- Fonts (win32_fonts_text.cpp) -----------------------------------------------------------

void fontsFreeAll();

} // namespace veltrace::toolkit::win32
