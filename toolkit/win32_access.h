// Test access to the Win32 windows behind the toolkit's numbers, so GUI tests can drive them
// with real window messages and look at what they show. Not for the program itself: it talks
// to the toolkit by number only.
#pragma once

#include <windows.h>

namespace veltrace::toolkit::access {

// The top-level window of an open window number, or null.
HWND windowHwnd(int number);
// The window of a control, or null.
HWND controlHwnd(int number);
// Dispatches what is waiting and brings the controls up to date with the control record,
// without waiting and without taking program events.
void flushPendingUpdates();

} // namespace veltrace::toolkit::access
