// Internal to the toolkit: the record of every numbered control, shared by all window-system
// backends.
//
// The record (kind, place, text, state, visibility, image, combo entries) lives under its own
// mutex; it is what the getters read and what the setters write, from either thread. A setter
// called from the acquisition thread never touches a widget: it marks the control dirty and asks
// the backend to wake its GUI thread, which then takes the dirty records (takeDirtyUpdates) and
// brings its widgets up to date. On the GUI thread a setter has the backend apply at once.
#pragma once

#include "toolkit/toolkit.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace veltrace::toolkit::detail {

inline constexpr int FirstControl = 1;
// The main window's 58 controls, the dialogs' and the Measurements window's (100 and up).
inline constexpr int LastControl = 199;

inline bool validControl(int number) {
    return number >= FirstControl && number <= LastControl;
}

// What the backend provides to the record. Both functions may be empty.
struct ControlBackend {
    // GUI thread: bring the widgets up to date with the dirty records now.
    void (*applyNow)() = nullptr;
    // Any thread, thread-safe: make the GUI thread apply the dirty records soon.
    void (*wake)() = nullptr;
};

// Starts a fresh record for a new GUI thread (the calling thread).
void recordBegin(const ControlBackend& backend);
// Forgets every record and the backend, so a late call from a worker updates nothing and wakes
// nobody.
void recordEnd();

// A new control at a free number of `window`. Option buttons form groups by creation order: one
// created right after another option button of the same window joins its group.
void recordCreate(int number, ControlKind kind, int window, int x, int y, int w, int h,
                  const std::string& text);
void recordForget(int number);
// The numbers of every control of that window.
std::vector<int> recordControlsOfWindow(int window);
// A closed window's controls are gone: the next option button there starts a new group.
void recordWindowClosed(int window);

// Changes coming from the GUI thread's own widgets (a click flipped a toggle, a combo box
// selection): the widget already shows it, so nothing is marked dirty.
void recordStateFromWidget(int number, int state);
// A click selected an option button: the others of its group are cleared (and marked dirty).
void recordOptionSelected(int number);
void recordComboItemAdd(int number, const std::string& text);
void recordPictureButtonImage(int number, Handle image);
bool recordExists(int number);
ControlKind recordKind(int number);

// One control's pending changes, taken from the record for the backend to apply.
struct PendingUpdate {
    int number = 0;
    ControlKind kind = ControlKind::None;
    bool text = false, state = false, visible = false, image = false;
    std::string textValue;
    int stateValue = 0;
    bool visibleValue = true;
    std::shared_ptr<const Image> picture;
    Handle pictureHandle = 0;
};
// Takes (and clears) every dirty mark, in control-number order.
std::vector<PendingUpdate> takeDirtyUpdates();

// A backend's picture display has painted the picture of that handle (GUI thread).
void picturePainted(Handle picture);

// True on the thread that started the record.
bool onRecordThread();

} // namespace veltrace::toolkit::detail
