// Test access to the widgets behind the toolkit's numbers, so GUI tests can drive them with real
// Qt mouse events and look at what they show. Not for the program itself: it talks to the
// toolkit by number only.
#pragma once

#include <functional>

class QAction;
class QMenuBar;
class QWidget;

namespace veltrace::toolkit::access {

// The top-level widget of an open window, or null.
QWidget* windowWidget(int number);
// The area below the menu bar in which the window's controls live, or null.
QWidget* windowContent(int number);
// The window's menu bar, or null.
QMenuBar* windowMenuBar(int number);
// The widget of a control, or null.
QWidget* controlWidget(int number);
// The action behind a menu item, or null.
QAction* menuItemAction(int item);
// Brings widgets up to date with the control record and lets Qt handle what is pending
// (posted events, geometry reports), without waiting and without taking program events.
void flushPendingUpdates();
// Called on the GUI thread each time the control record has been applied to the widgets
// (inside eventWait or a flush). An empty function removes the hook.
void setRecordsAppliedHook(std::function<void()> hook);

} // namespace veltrace::toolkit::access
