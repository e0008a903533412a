// Internal to the window half of the toolkit: what its Qt files share with one another.
// Everything here runs on the GUI thread unless a comment says otherwise.
#pragma once

#include "toolkit/event_queue.h"
#include "toolkit/toolkit.h"

#include <functional>

class QAction;
class QMenuBar;
class QWidget;

namespace veltrace::toolkit::qt {

// ---- Start and end (qt_app.cpp) -------------------------------------------------------------

// True between a successful toolkitInit and toolkitEnd (GUI thread).
bool ready();

// ---- Events (qt_events.cpp) -----------------------------------------------------------------

// The queue itself is the toolkit's own (event_queue.h); widget signals append to it.
using detail::clearEvents;
using detail::dropEventsOfWindow;
using detail::postEvent;
using detail::QueuedEvent;
// Follows the mouse through an application-wide event filter (see pointerX).
void pointerTrackingStart();
void pointerTrackingEnd();
// Wakes the event wait when the system asks the program to end.
void terminationWatchStart();
void terminationWatchEnd();

// ---- Windows (qt_windows.cpp) ---------------------------------------------------------------

struct WindowEntry {
    QWidget* frame = nullptr;    // the top-level widget
    QMenuBar* menuBar = nullptr; // child at the top, or null
    QWidget* content = nullptr;  // child below the menu bar; the controls live here
    int left = 0;                // last known outer top-left (request or platform report)
    int top = 0;
    int innerWidth = 0; // client size, menu bar included
    int innerHeight = 0;
    bool fixedSize = false;
};

// The open window of that number, or null.
WindowEntry* windowEntry(int number);
// The window controls are created in (the one opened last), or -1 when it has been closed.
int buildWindow();
// Places the menu bar and the content area inside the client area.
void layoutWindow(WindowEntry& entry);
void closeAllWindows();

// ---- Controls (qt_controls.cpp) -------------------------------------------------------------

// Starts the control record for a new application; the dispatcher is the GUI thread's.
void controlsBegin();
// Forgets every control record and the GUI thread's dispatcher (so a late call from a worker
// that has not yet seen its stop request only updates nothing and wakes nobody).
void controlsEnd();
// Deletes the controls of a window and their records (before the window itself goes).
void forgetControlsOfWindow(int window);
// Brings the widgets up to date with the control record.
void applyDirtyRecords();
QWidget* controlWidgetOf(int number);
// Test hook: called on the GUI thread each time dirty records were applied.
void setRecordsAppliedHook(std::function<void()> hook);

// ---- Menus (qt_menu.cpp) --------------------------------------------------------------------

void forgetMenusOfWindow(int window);
QAction* menuItemActionOf(int item);

// ---- Shell (qt_shell.cpp) ---------------------------------------------------------------------

// Closes the message box that is open, if any, as if its OK button was pressed.
void closeOpenMessageBox();

// ---- Fonts (qt_fonts_text.cpp) --------------------------------------------------------------

void fontsFreeAll();

} // namespace veltrace::toolkit::qt
