// The application shell: the main window, the event loop and its commands, the measurement
// cursors, the About window, start-up and shutdown.
#pragma once

namespace veltrace::app {

// ---- Main window (main_window.cpp) ----
// Opens window 0 "Veltrace V1.11" at (100, 150), inner 800 x 560. Returns 0 on failure.
int openMainWindow();
// Menu bar, all 58 controls in creation order, the initial hiding and CH1 selected.
void buildMainWindowContents();
// Both of the above (with nothing in between), for tests.
int buildMainWindow();

// ---- Event loop and commands (event_loop.cpp) ----
// One turn: wait up to 20 ms, drag update, dispatch, sleep 10 ms.
void eventLoopTurn();
// Turns until quitRequested.
void runEventLoop();
// Carries out the event just returned by eventWait (lastEvent).
void dispatchEvent(int event);
void syncCursorModeButtons();
void updateReadoutVisibility();

// ---- Measurement cursors (cursors.cpp) ----
// A plain click on an image display while the current channel has cursors: grab or release.
void cursorClick(int control);
// Every loop turn while a line is grabbed.
void cursorDragUpdate();
void endCursorGrab();
void propagateLinkedCursors(bool horizontal, bool vertical);

// ---- About window (about_window.cpp) ----
void openAboutWindow();
// The donation address (a build-time setting).
const char* donationAddress();

// ---- Start-up and shutdown (startup.cpp) ----
// The whole program: start-up, event loop, end sequence. Returns the exit code (0).
int startUp();
// The start-up sequence up to the first screen; 0 when the main window could not be opened.
int startUpSequence();
void endSequence();

} // namespace veltrace::app
