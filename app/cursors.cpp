// Measurement cursors: grabbing a line with a click on the current channel's picture, moving it
// with the pointer on every loop turn, letting it go with the next click, and copying linked
// pairs to all four channels.
#include "app/app.h"
#include "app/controls.h"
#include "display/view_geometry.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace veltrace::app {

namespace {

using state::CursorLine;
using state::scope;
using Guard = std::lock_guard<std::recursive_mutex>;

// Up to 4 pixels on either side of a line grabs it.
constexpr int hitTolerance = 5;
constexpr int minimumGap = 2;

// Only the picture the current channel is drawn in can grab; in the one-channel view that is
// ImageScreen, and ImageChannel1 belongs to channel 0 as well.
bool isCurrentChannelPicture(int control, int channel) {
    if (channel == 0 && control == ImageScreen) {
        return true;
    }
    return control == ImageChannel1 + channel;
}

bool near(int position, int origin, int pointer) {
    return std::abs(position + origin - pointer) < hitTolerance;
}

// Moves a line to the pointer reading, then keeps it inside the picture bound on its own side and
// at least two pixels from its partner (the first line of a pair stays above / left of it). A
// reading of 0 or -1 (first row/column, or outside the window) leaves the line alone, so a line
// whose pointer wandered off waits there until it comes back.
void followPointer(std::int16_t& position, int reading, int origin, bool firstOfPair,
                   std::int16_t partner) {
    if (reading <= 0) {
        return;
    }
    int pos = reading - origin;
    if (firstOfPair) {
        pos = std::max(pos, display::LowestCursorPosition);
        pos = std::min(pos, partner - minimumGap);
    } else {
        pos = std::min(pos, display::HighestCursorPosition);
        pos = std::max(pos, partner + minimumGap);
    }
    position = static_cast<std::int16_t>(pos);
}

} // namespace

void cursorClick(int control) {
    Guard guard(state::scopeLock());
    const int c = scope.currentChannel & 3;
    state::ChannelCursors& cursors = scope.cursors[static_cast<std::size_t>(c)];
    if (!isPictureControl(control) || cursors.cursorMode == state::CursorMode::None) {
        return;
    }
    if (scope.draggingLine == 1) {
        // Any picture lets the line go, not only the current channel's.
        endCursorGrab();
        return;
    }
    if (!isCurrentChannelPicture(control, c)) {
        return;
    }
    const display::ViewGeometry& g = display::geometryOf(currentView());
    scope.draggedLine = CursorLine::None;
    // Later tests win, so with several lines in reach VLineR beats VLineL beats HLineU beats
    // HLineO.
    if (state::showsHorizontal(cursors.cursorMode)) {
        const int py = toolkit::pointerY(MainWindow);
        if (near(cursors.posHLineO, g.originY(c), py)) {
            scope.draggedLine = CursorLine::HLineO;
        }
        if (near(cursors.posHLineU, g.originY(c), py)) {
            scope.draggedLine = CursorLine::HLineU;
        }
    }
    if (state::showsVertical(cursors.cursorMode)) {
        const int px = toolkit::pointerX(MainWindow);
        if (near(cursors.posVLineL, g.originX(), px)) {
            scope.draggedLine = CursorLine::VLineL;
        }
        if (near(cursors.posVLineR, g.originX(), px)) {
            scope.draggedLine = CursorLine::VLineR;
        }
    }
    if (scope.draggedLine != CursorLine::None) {
        scope.draggingLine = 1;
        // The trace stays frozen while the line moves over it.
        setHoldDisplay(true);
    }
}

void cursorDragUpdate() {
    Guard guard(state::scopeLock());
    const int c = scope.currentChannel & 3;
    state::ChannelCursors& cursors = scope.cursors[static_cast<std::size_t>(c)];
    const display::ViewGeometry& g = display::geometryOf(currentView());
    switch (scope.draggedLine) {
    case CursorLine::HLineO:
        followPointer(cursors.posHLineO, toolkit::pointerY(MainWindow), g.originY(c), true,
                      cursors.posHLineU);
        break;
    case CursorLine::HLineU:
        followPointer(cursors.posHLineU, toolkit::pointerY(MainWindow), g.originY(c), false,
                      cursors.posHLineO);
        break;
    case CursorLine::VLineL:
        followPointer(cursors.posVLineL, toolkit::pointerX(MainWindow), g.originX(), true,
                      cursors.posVLineR);
        break;
    case CursorLine::VLineR:
        followPointer(cursors.posVLineR, toolkit::pointerX(MainWindow), g.originX(), false,
                      cursors.posVLineL);
        break;
    case CursorLine::None:
        break;
    }

    // Redraw on every turn, moved or not.
    if (scope.linkHLines == 1 || scope.linkVLines == 1) {
        propagateLinkedCursors(scope.linkHLines == 1, scope.linkVLines == 1);
        // The four-channel view was redrawn strip by strip inside the propagation.
        if (scope.fourChannelView == 0) {
            renderScreen();
        }
    } else {
        redrawCurrentView();
    }
}

void endCursorGrab() {
    Guard guard(state::scopeLock());
    scope.draggingLine = 0;
    setHoldDisplay(toolkit::controlStateGet(ButtonHold) != 0);
}

void propagateLinkedCursors(bool horizontal, bool vertical) {
    Guard guard(state::scopeLock());
    const int holdPressed = toolkit::controlStateGet(ButtonHold);
    scope.holdDisplay = 1;
    const state::ChannelCursors source = scope.cursors[scope.currentChannel & 3];
    for (int k = 0; k < state::ChannelCount; ++k) {
        state::ChannelCursors& cursors = scope.cursors[static_cast<std::size_t>(k)];
        if (horizontal) {
            cursors.posHLineO = source.posHLineO;
            cursors.posHLineU = source.posHLineU;
        }
        if (vertical) {
            cursors.posVLineL = source.posVLineL;
            cursors.posVLineR = source.posVLineR;
        }
        if (scope.fourChannelView == 1) {
            renderStrip(k);
        }
    }
    scope.holdDisplay = holdPressed != 0 ? 1 : 0;
}

} // namespace veltrace::app
