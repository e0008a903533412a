// A thin driver for GUI tests that run on every backend: it does what a person does (click a
// control, move the pointer, choose a menu item) through the window system's own input paths,
// and reads back what a control shows. gui_driver_qt.cpp drives the Qt widgets with QTest,
// gui_driver_win32.cpp the Win32 windows with their messages.
#pragma once

#include "toolkit/toolkit.h"

namespace veltrace::testing_support::driver {

// Lets the window system deliver what is pending and brings the controls up to date with the
// control record (no program event is taken).
void settle();
// A left click in the middle of a control (or at (x, y) inside it, in control coordinates).
void click(int control);
void clickAt(int control, int x, int y);
void doubleClickAt(int control, int x, int y);
// Moves the pointer to (x, y) of the window's area below the menu bar.
void movePointer(int window, int x, int y);
// Chooses a menu item as the menu bar would.
void chooseMenuItem(int item);
// Presses the window's close box.
void closeWindow(int window);
// Height of the window's area below the menu bar, as the window system has laid it out.
int areaHeight(int window);
// Whether the control is shown on the screen (the window system's view, not the record's).
bool shown(int control);
// Whether a toggle or option button shows itself pressed / selected, read from the widget itself
// (not the record): -1 when the control is no such button.
int checked(int control);
// What the control shows inside its edge, as an image; empty when there is no such control.
toolkit::Image pixels(int control);

} // namespace veltrace::testing_support::driver
