// Measurement cursors: grabbing a line with a click on the current channel's picture, moving it
// with the pointer on every loop turn, letting it go with the next click, and copying linked
// pairs to all four channels.
#include "app/app.h"
#include "app/controls.h"
#include "app/scope_state.h"
#include "display/display.h"
#include "toolkit/toolkit.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>

namespace veltrace::app {

namespace {

// The picture of channel c starts two pixels inside its control (the sunken edge); the controls
// stand at x 10 and y 10 + 133 c in the window's area below the menu bar.
constexpr int screenOriginX = 12;
inline int screenOriginY(int channel) {
    return 12 + 133 * channel;
}

// Up to 4 pixels on either side of a line grabs it.
constexpr int hitTolerance = 5;

constexpr int lowestPosition = 0;
constexpr int highestPosition = 511;
constexpr int minimumGap = 2;

bool isPicture(int control) {
    return control == ImageScreen || (control >= ImageChannel1 && control < ImageChannel1 + 4);
}

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
// at least two pixels from its partner (the first line of a pair stays above / left of it).
void followPointer(std::int16_t& position, int reading, int origin, bool firstOfPair,
                   std::int16_t partner) {
    if (reading <= 0) {
        return;
    }
    int pos = reading - origin;
    if (firstOfPair) {
        pos = std::max(pos, lowestPosition);
        pos = std::min(pos, partner - minimumGap);
    } else {
        pos = std::min(pos, highestPosition);
        pos = std::max(pos, partner + minimumGap);
    }
    position = static_cast<std::int16_t>(pos);
}

} // namespace

void cursorClick(int control) {
    std::lock_guard<std::recursive_mutex> guard(scopeLock());
    const int c = scope.currentChannel;
    if (!isPicture(control) || scope.cursorMode[c] == 0) {
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
    scope.draggedLine.clear();
    const int mode = scope.cursorMode[c];
    // Later tests win, so with several lines in reach VLineR beats VLineL beats HLineU beats
    // HLineO.
    if (mode == 1 || mode == 3) {
        const int py = toolkit::pointerY(MainWindow);
        if (near(scope.posHLineO[c], screenOriginY(c), py)) {
            scope.draggedLine = "HLineO";
        }
        if (near(scope.posHLineU[c], screenOriginY(c), py)) {
            scope.draggedLine = "HLineU";
        }
    }
    if (mode == 2 || mode == 3) {
        const int px = toolkit::pointerX(MainWindow);
        if (near(scope.posVLineL[c], screenOriginX, px)) {
            scope.draggedLine = "VLineL";
        }
        if (near(scope.posVLineR[c], screenOriginX, px)) {
            scope.draggedLine = "VLineR";
        }
    }
    if (!scope.draggedLine.empty()) {
        scope.draggingLine = 1;
        // The trace stays frozen while the line moves over it.
        scope.holdDisplay = 1;
    }
}

void cursorDragUpdate() {
    std::lock_guard<std::recursive_mutex> guard(scopeLock());
    const int c = scope.currentChannel;
    const std::string& line = scope.draggedLine;
    // A reading of 0 or -1 (first row/column, or outside the window) leaves the line alone, so
    // a line whose pointer wandered off waits there until it comes back.
    if (line == "HLineO") {
        followPointer(scope.posHLineO[c], toolkit::pointerY(MainWindow), screenOriginY(c), true,
                      scope.posHLineU[c]);
    } else if (line == "HLineU") {
        followPointer(scope.posHLineU[c], toolkit::pointerY(MainWindow), screenOriginY(c), false,
                      scope.posHLineO[c]);
    } else if (line == "VLineL") {
        followPointer(scope.posVLineL[c], toolkit::pointerX(MainWindow), screenOriginX, true,
                      scope.posVLineR[c]);
    } else if (line == "VLineR") {
        followPointer(scope.posVLineR[c], toolkit::pointerX(MainWindow), screenOriginX, false,
                      scope.posVLineL[c]);
    }

    // Redraw on every turn, moved or not.
    if (scope.linkHLines == 1 || scope.linkVLines == 1) {
        propagateLinkedCursors(scope.linkHLines == 1, scope.linkVLines == 1);
        // The four-channel view was redrawn strip by strip inside the propagation.
        if (scope.fourChannelView == 0) {
            display::renderScreen(0);
        }
    } else {
        display::redrawCurrentView(0);
    }
}

void endCursorGrab() {
    std::lock_guard<std::recursive_mutex> guard(scopeLock());
    scope.draggingLine = 0;
    scope.holdDisplay = toolkit::controlStateGet(ButtonHold) != 0 ? 1 : 0;
}

void propagateLinkedCursors(bool horizontal, bool vertical) {
    std::lock_guard<std::recursive_mutex> guard(scopeLock());
    const int holdPressed = toolkit::controlStateGet(ButtonHold);
    scope.holdDisplay = 1;
    const std::uint8_t c0 = scope.currentChannel;
    for (int k = 0; k < ChannelCount; ++k) {
        if (horizontal) {
            scope.posHLineO[k] = scope.posHLineO[c0];
            scope.posHLineU[k] = scope.posHLineU[c0];
        }
        if (vertical) {
            scope.posVLineL[k] = scope.posVLineL[c0];
            scope.posVLineR[k] = scope.posVLineR[c0];
        }
        scope.currentChannel = static_cast<std::uint8_t>(k);
        if (scope.fourChannelView == 1) {
            display::renderStrip(0);
        }
    }
    scope.currentChannel = c0;
    scope.holdDisplay = holdPressed != 0 ? 1 : 0;
}

} // namespace veltrace::app
