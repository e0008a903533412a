// The toolkit layer: numbered windows, controls, menus, images and fonts, events and the
// pointer, drawing, PNG saving, dates, texts, threads and pauses.
//
// Objects are addressed by small numbers chosen by the caller. Creating an object under a
// number in use releases the old one first; an operation on a number that names nothing does
// nothing and returns 0. Texts are byte strings in Latin-1 ("\xB5" is the micro sign); they are
// converted only where they meet Qt.
//
// Threads: the acquisition thread may call the image, drawing (except drawText), control text /
// state / visibility setters and getters, text, date and thread functions while the main thread
// waits in eventWait. Everything else (windows, menus, control creation, events, pointer, fonts,
// drawText, message boxes) is for the main thread only.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace veltrace::toolkit {

using Handle = std::intptr_t;

// ---- Start and end -------------------------------------------------------------------------

// Creates the Qt application when none exists. Returns 0 when no window system can be reached
// (no DISPLAY / WAYLAND_DISPLAY and no QT_QPA_PLATFORM), so the caller can say so instead of
// letting Qt abort. Calling it again is harmless.
int toolkitInit();
// The same for a program that draws text into images and never opens a window (veltrace-log):
// the layer starts on a platform that needs no display. Must come before any other start.
int toolkitInitHeadless();
// Forgets all threads (without stopping them), closes every window, frees menus, fonts, images.
void toolkitEnd();
// Called when the window system cannot start in a way that toolkitInit cannot return from (Qt
// ends its start-up with a fatal error): it gets one line that says what was tried and must end
// the process; if it returns, the toolkit prints the line and ends the process with status 1.
// On Win32, where a display is always there, a start that Windows refuses goes this way too.
using StartFailureHandler = std::function<void(const std::string&)>;
void setStartFailureHandler(StartFailureHandler handler);

// ---- Windows -------------------------------------------------------------------------------

inline constexpr int WindowFixedCaption = 1;   // caption, system menu, close box; not resizable
inline constexpr int WindowCentred = 2;        // centre on the active window (x, y ignored)
inline constexpr int KeepCoordinate = INT_MIN; // windowResize: leave this coordinate unchanged

// x, y: outer top-left in screen coordinates. The inner size includes a menu bar added later.
// Returns non-zero on success. Shown at once.
int windowOpen(int number, int x, int y, int innerWidth, int innerHeight, const std::string& title,
               int flags);
void windowClose(int number);
int windowLeft(int number);
int windowTop(int number);
int windowOuterWidth(int number);
int windowOuterHeight(int number);
int windowInnerWidth(int number);
int windowInnerHeight(int number);
int windowExists(int number);
// Moves and resizes without changing the stacking order or activating the window.
int windowResize(int number, int x, int y, int innerWidth, int innerHeight);
Handle windowHandle(int number);
// Number of the program's window in the foreground (the active one), -1 when none is ours.
int foregroundWindowNumber();
// Window order and enabling (the port dialog keeps itself on top and the main window disabled).
void windowSetTopmost(int number, int topmost);
void windowRaise(int number);
void windowEnable(int number, int enabled);
int windowEnabled(int number);
// 1 while the window keeps itself above other windows (windowSetTopmost).
int windowTopmost(int number);
// The program's icon (a small image, by handle) for this window and every window opened later.
void windowIconSet(int number, Handle image);

// ---- Menu bar ------------------------------------------------------------------------------

int menuBarCreate(int window);
void menuTitleAdd(const std::string& title);
void menuItemAdd(int item, const std::string& text);
void menuSeparatorAdd();

// ---- Controls ------------------------------------------------------------------------------
// Created in the window opened last, visible at once; positions relative to the area below the
// menu bar.

enum class ControlKind {
    None,
    PushButton,
    ToggleButton,
    OptionButton,
    Label,
    ValueText,
    ImageDisplay,
    PictureButton,
    ComboBox
};

void pushButtonCreate(int number, int x, int y, int w, int h, const std::string& caption);
void toggleButtonCreate(int number, int x, int y, int w, int h, const std::string& caption);
void optionButtonCreate(int number, int x, int y, int w, int h, const std::string& caption);
void labelCreate(int number, int x, int y, int w, int h, const std::string& caption, int centred);
void valueTextCreate(int number, int x, int y, int w, int h);
void imageDisplayCreate(int number, int x, int y, int w, int h, int sunkenEdge);
void pictureButtonCreate(int number, int x, int y, int w, int h, Handle image);
void comboBoxCreate(int number, int x, int y, int w, int h);
void comboItemAdd(int number, const std::string& text);

// Safe from the acquisition thread: these work on the toolkit's own record of each control and
// the GUI thread brings the widgets up to date inside eventWait.
void controlTextSet(int number, const std::string& text);
std::string controlTextGet(int number); // combo box: the selected entry, "" when none
// Toggle/option button: pressed/selected when value != 0. Image display: the image (by handle)
// to show. Combo box: selects the entry at that index (-1 none). Never produces an event.
void controlStateSet(int number, Handle value);
int controlStateGet(int number);
void controlHide(int number, int hide);

// Called on the GUI thread each time a picture display has painted the picture it shows, with
// that picture's handle: how soon a new picture reaches the screen, for the statistics report.
// An empty function removes it.
using PicturePaintedHook = std::function<void(Handle)>;
void setPicturePaintedHook(PicturePaintedHook hook);

// What the toolkit's record holds for a control (for tests and diagnostics).
struct ControlInfo {
    ControlKind kind = ControlKind::None;
    int window = -1;
    int x = 0, y = 0, w = 0, h = 0;
    bool visible = false;
    std::string text;
    int state = 0;
    Handle image = 0;               // image display: handle of the image it shows
    std::vector<std::string> items; // combo box entries
};
ControlInfo controlInfo(int number);

// ---- Events and pointer --------------------------------------------------------------------

inline constexpr int EventNone = 0;
inline constexpr int EventControl = 1;
inline constexpr int EventMenu = 2;
inline constexpr int EventClose = 3;
// The system asks the program to end (see catchTerminationRequests).
inline constexpr int EventTerminate = 4;

// Next event (oldest first), 0 when nothing arrived within timeoutMs (-1 waits without limit,
// 0 does not wait). Also brings widgets up to date with the control record.
int eventWait(int timeoutMs);
int eventControl();  // control number of the last control event
int eventType();     // 0 plain click, 1 double click on an image display
int eventMenuItem(); // menu item of the last menu event
int eventWindow();   // window of the last close request
// Pointer in the window's area below the menu bar; -1 left of / above it, or at / beyond its
// right / bottom edge.
int pointerX(int window);
int pointerY(int window);

// ---- Requests to end -----------------------------------------------------------------------

// From now on a request of the system to end the program (SIGTERM, SIGINT or SIGHUP on POSIX;
// on Windows the console's Ctrl-C, Ctrl-Break or close, and the end of the session)
// does not end the process at once: eventWait returns EventTerminate (and keeps returning it),
// and a message box that is open closes, so the program can run its own end sequence.
void catchTerminationRequests();
// True once such a request has arrived.
bool terminationRequested();

// ---- Fonts, images and drawing -------------------------------------------------------------

int fontLoad(int number, const std::string& face, int points);
Handle fontHandle(int number);

// A 24-bit RGB image: 3 bytes per pixel (red, green, blue), rows top first, no padding.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

// Colour integers: red in the lowest byte, green in the next, blue in the third.
inline constexpr std::uint32_t rgbColour(int r, int g, int b) {
    return static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) |
           (static_cast<std::uint32_t>(b) << 16);
}

// Large enough for any screen, small enough that width * height * 3 never overflows.
inline constexpr int MaxImageSide = 16384;

// ---- Images as values: drawing without any numbered state. Any thread.
// A black image of that size; null when the size is out of range or memory runs out.
std::shared_ptr<Image> imageBlank(int width, int height);
// Decodes a BMP file held in memory (24- or 32-bit, uncompressed or bit fields); null when it is
// not one we can read.
std::shared_ptr<Image> imageDecodeBmp(const std::uint8_t* data, std::size_t size);
// Both end points drawn, clipped to the image.
void drawLine(Image& image, int x1, int y1, int x2, int y2, std::uint32_t colour);
// Transparent text with its cell's top-left corner at (x, y), in a loaded font (by handle) and a
// colour; returns the x after the text. Needs toolkitInit; main thread only.
int drawText(Image& image, int x, int y, const std::string& text, Handle font,
             std::uint32_t colour);
// Puts a finished image under `number` (replacing, never changing, the one there) and returns
// its handle for controlStateSet; a null image only frees the number and returns 0.
Handle imageStore(int number, std::shared_ptr<Image> image);

// ---- Numbered images and the calling thread's drawing state.
int imageCreate(int number, int width, int height); // every pixel black; 0 on failure
// Decodes a BMP file held in memory (24- or 32-bit, uncompressed or bit fields) into image
// `number`. 0 on failure.
int imageFromMemory(int number, const std::uint8_t* data, std::size_t size);
void imageFree(int number);
Handle imageHandle(int number); // 0 if none
// The current image of that number (shared: a later imageCreate replaces, never mutates it).
std::shared_ptr<const Image> imageGet(int number);
std::shared_ptr<const Image> imageByHandle(Handle handle);
// Colour integer of one pixel, or -1 outside the image / no image.
std::int64_t imagePixel(int number, int x, int y);

// The drawing state belongs to the calling thread. It draws into the image of that number in
// place: only for an image just created, never one already handed to a display (a display, and
// whoever recycles its pictures, count on a shown picture not changing).
int drawingBegin(int imageNumber); // 0 on failure
void drawLine(int x1, int y1, int x2, int y2, std::uint32_t colour);
inline constexpr int DrawingModeTransparent = 1;
void drawingModeSet(int mode);
void drawingFontSet(Handle font);
void frontColourSet(std::uint32_t colour);
int drawText(int x, int y, const std::string& text); // main thread only; returns the x after it
void drawingEnd();

inline constexpr int ImageFormatPng = 1;
void pngEncoderRegister();
// Writes a PNG (8-bit RGB, no interlace, filter None, zlib level 9, IHDR/IDAT/IEND) through a
// temporary file in the same directory renamed into place. Non-zero on success; on failure no
// file is left behind and an existing file of that name is untouched.
int imageSave(int imageNumber, const std::string& fileName, int format);
// The same for an image held by the caller (needs no pngEncoderRegister).
int imageSavePng(const Image& image, const std::string& fileName);

// ---- Dates, numbers and texts --------------------------------------------------------------

// Seconds since 1970 with the local calendar fields counted as if UTC; -1 outside 1970..2038.
std::int64_t dateNow();
// The date number of local calendar fields (for tests and callers that build dates).
std::int64_t dateFromFields(int year, int month, int day, int hour, int minute, int second);
std::string dateFormat(const std::string& mask, std::int64_t date);
std::string integerToText(std::int64_t value);
std::string floatToText(float value, int decimals);
int textEqual(const std::string& a, const std::string& b);

// ---- Threads, time and shell ---------------------------------------------------------------

using ThreadProc = int (*)(void*);
// Starts procedure(argument) with the platform's default stack; returns a number counting up
// from 1, or 0 on failure. Threads that have ended are forgotten at the next start.
int threadStart(ThreadProc procedure, void* argument);
// Stops the thread: its stop token is set (it must check threadStopRequested() before every side
// effect and return) and it is forgotten; an ended or unknown thread is only forgotten.
void threadKill(int number);
// True on a toolkit thread whose stop token threadKill has set.
bool threadStopRequested();
// 1 while the thread of that number runs.
int threadRunning(int number);
// Names the calling thread for the system's tools (at most 15 characters show): top, ps and
// /proc on Linux, debuggers on Windows, and /proc again under Wine, which passes the name on.
// Does nothing where the system cannot name threads.
void threadSetName(const char* name);
void pause(int milliseconds);

inline constexpr int MessageBoxOkExclamation = 0x30;
int messageBox(const std::string& caption, const std::string& text, int flags);
void openDocument(const std::string& address);

// Tests replace the two shell services so nothing modal or external happens.
using MessageBoxHook = std::function<int(const std::string&, const std::string&, int)>;
using OpenDocumentHook = std::function<void(const std::string&)>;
void setMessageBoxHook(MessageBoxHook hook);
void setOpenDocumentHook(OpenDocumentHook hook);

} // namespace veltrace::toolkit
