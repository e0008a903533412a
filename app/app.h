// The application: the main window, the event loop and its commands, the measurement cursors,
// everything that happens around a redraw, the device link's life, the port dialog, the About
// window, start-up and shutdown. The only layer that knows every other one.
#pragma once

#include "display/view_geometry.h"

#include <cstdint>
#include <optional>
#include <string>

namespace veltrace::app {

// ---- Main window (main_window.cpp) ----
// Opens window 0 "Veltrace V1.11" at (100, 150), inner 800 x 560, with the program icon.
// Returns 0 on failure.
int openMainWindow();
// Menu bar, all 58 controls in creation order, the one-channel view's visibility, CH1 selected.
void buildMainWindowContents();
// Both of the above (with nothing in between), for tests.
int buildMainWindow();

// ---- Which controls show (view_controls.cpp) ----
// The view of the moment: the strips while fourChannelView is set, else the screen.
display::View currentView();
// Shows the controls of `view` and hides those of the other; with `innerHeight` above 0 the main
// window is resized to it between hiding and showing.
void showViewControls(display::View view, int innerHeight = 0);
// The three cursor mode buttons follow the current channel's mode.
void syncCursorModeButtons();
// The Volts and Time(Frq) rows of the current channel follow its mode.
void updateReadoutVisibility();

// ---- Screen updates (view_update.cpp) ----
// Each draws the picture anew, hands it to its display, sets the panel texts, recomputes the
// readout and completes an armed single shot; under the scope lock (taken here).
// The one-channel screen of the current channel.
void renderScreen();
// The strip of `channel` in the four-channel view.
void renderStrip(int channel);
// renderScreen in the one-channel view, else renderStrip for the current channel.
void redrawCurrentView();
// The update of the current view with a capture: the picture with its settings and readout text
// is saved as a PNG file named by date, time and channel, the window shows it without the text.
void captureCurrentView();

// ---- Event loop and commands (event_loop.cpp) ----
// One turn: wait for an event (up to 20 ms while a cursor line is grabbed, else up to
// idleWaitMs, -1 without limit), drag update, dispatch, sleep 10 ms.
void eventLoopTurn(int idleWaitMs = 20);
// Turns until quitRequested.
void runEventLoop();
// Carries out the event just returned by eventWait.
void dispatchEvent(int event);

// ---- Measurement cursors (cursors.cpp) ----
// A plain click on a picture display while the current channel has cursors: grab or release.
void cursorClick(int control);
// Every loop turn while a line is grabbed.
void cursorDragUpdate();
void endCursorGrab();
void propagateLinkedCursors(bool horizontal, bool vertical);

// ---- The stream as data (device_link.cpp) ----
// What the command line asked of the device link. Empty paths: neither.
struct StreamOptions {
    std::string recordPath;        // append every byte read from the port to this recording
    bool replaceRecording = false; // an existing file there is replaced (--force)
    std::string replayPath;        // read this recording or raw dump instead of the port
    double replaySpeed = 1.0;      // times the recorded pace; 0 = as fast as frames are drawn
};
void setStreamOptions(StreamOptions options);
// Creates the recording or opens the replay the options name; false, with the reason on
// standard error, when it cannot. Before the window opens: a file that cannot be written is an
// error at start, never a silent loss.
bool prepareStream();
// Writes out and closes the recording, if any, and tells on standard error what was lost, if
// anything, and how a replay's file ended when it did not end whole. End of the program.
void finishStream();

// ---- The device link (device_link.cpp) ----
// The ports that exist, into scope.comPortNames / comPortCount (once, at start-up).
void probePorts();
// Reads COMPort from the settings file, opens the port (telling the user when it cannot) and
// starts the acquisition thread. The port is opened again whenever the device comes back after it
// went away; its bytes are recorded when a recording was prepared. A prepared replay is read
// instead of the port, once: the next connect (a port change) opens the port. Main thread,
// without the scope lock (it may show a message).
void connectDevice();
// Closes the open port, if any (the acquisition thread then reads nothing).
void closePort();
// The waiting form of the stop handshake with the acquisition thread of the last connect.
void stopAcquisition();
// The end of the program's short form.
void stopAcquisitionShort();
// Sets or clears HOLD (scope.holdDisplay) and wakes the acquisition thread's wait, so it takes
// what arrived up to this moment under the old setting: the bytes that arrive while HOLD is set
// are the ones dropped, however long the thread's wait for a frame's rest.
void setHoldDisplay(bool held);
// A port name as the "not available or busy" message shows it: whole up to 40 characters, else
// shortened in the middle to 40.
std::string shownPortName(const std::string& portName);
// What the last connect left, for diagnostics and tests.
struct DeviceStatus {
    std::string portName; // the port last asked for
    bool open = false;    // that port is open (or a replay is read instead)
    int workerThread = 0; // number of its acquisition thread, 0 when none started
};
DeviceStatus deviceStatus();

// ---- Port selection dialog (port_dialog.cpp) ----
// Shows the dialog (modal) until Ok or its close box. Returns the port chosen with Ok when it
// differs from the configured one (possibly "" when nothing was selected), else nothing.
std::optional<std::string> runPortDialog();

// ---- About window (about_window.cpp) ----
void openAboutWindow();
// The donation address (a build-time setting).
const char* donationAddress();

// ---- Measurements window (measurements_window.cpp) ----
// Opens the window, or brings the open one to the front. Statistics start afresh when it opens.
void openMeasurementsWindow();
// Closes it, if open; from then on no frame is measured. Safe to call when it is not open.
void closeMeasurementsWindow();
// Closes it and forgets what the frames so far brought (their readings and count): a new main
// window starts without measurements.
void resetMeasurements();
// Clears the minimum, maximum and mean of every measurement (the window's Reset button).
void resetMeasurementStatistics();
// What a completed frame brings: the device's reading of it is kept for its channel, then the
// current view is drawn. The acquisition thread's frame callback, under the scope lock.
void frameCompleted();
// Part of every screen update of the selected channel `channel` (view_update.cpp, under the
// scope lock): while the window is open, measures the channel's frame and shows it; a new frame
// also goes into the statistics. Does nothing while the window is closed.
void updateMeasurements(int channel);
// How many times a frame has been measured since the program started (for tests and the
// statistics of a run): it stands still while the window is closed.
std::uint64_t measurementPasses();

// ---- Start-up and shutdown (startup.cpp) ----
// The exit status when no window system can be reached.
inline constexpr int ExitNoWindowSystem = 1;
// The exit status when the recording or replay the options ask for cannot be had.
inline constexpr int ExitStreamUnavailable = 1;
// The whole program: start-up, event loop, end sequence. Returns the exit code: 0,
// ExitNoWindowSystem or ExitStreamUnavailable.
int startUp();
// The start-up sequence up to the first screen: 1 started, 0 when the main window could not be
// opened (the program then ends quietly with 0), -1 when no window system can be reached (said
// on standard error).
int startUpSequence();
void endSequence();

} // namespace veltrace::app
