// The one-channel screen and the four channel strips. Both views are drawn by one procedure;
// what differs between them is held in a geometry record.
#include "display/display.h"

#include "app/controls.h"
#include "app/scope_state.h"
#include "toolkit/toolkit.h"

#include <array>
#include <cstdint>
#include <mutex>

namespace veltrace::display {

namespace {

constexpr std::uint32_t HalfDivisionColour = 0x444444;
constexpr std::uint32_t DivisionColour = 0x888888;
constexpr std::uint32_t CursorColour = 0xFFFF33;

// Horizontal lines (grid and cursors) run to column 512 in both views, four columns past the
// right edge; the clipping of drawLine cuts them at 507.
constexpr int HorizontalLineEnd = 512;
constexpr int SamplesDrawn = 128;
constexpr int PixelsPerSample = 4;

// Columns of the vertical grid lines, shared by both views.
constexpr std::array<int, 6> HalfDivisionColumns = {40, 120, 200, 280, 360, 440};
constexpr std::array<int, 6> DivisionColumns = {80, 160, 240, 320, 400, 480};

// Trace colours of the four strips; the one-channel screen uses the first.
constexpr std::array<std::uint32_t, app::ChannelCount> StripTraceColours = {0x00FFFF, 0x0000FF,
                                                                            0x00FF00, 0xFF9900};

struct ViewGeometry {
    int imageNumber;
    int width;
    int height;
    int displayControl;
    std::array<int, 4> halfDivisionRows;
    std::array<int, 5> divisionRows;
    int pixelsPerStep; // vertical scale: rows per sample step, value v at row height - v * this
    std::uint32_t traceColour;
    int overlayFirstY;
    int overlaySecondY;
    int textTimebase;
    int textTrigger;
    int textSwitches;
    int panelElement; // the element of the device texts that the panel controls show
};

ViewGeometry screenGeometry() {
    return ViewGeometry{app::BitmapScreen,
                        ScreenWidth,
                        ScreenHeight,
                        app::ImageScreen,
                        {100, 204, 308, 412},
                        {48, 152, 256, 360, 464},
                        8,
                        StripTraceColours[0],
                        5,
                        495,
                        app::textTimebase(0),
                        app::textTrigger(0),
                        app::textSwitches(0),
                        0};
}

ViewGeometry stripGeometry(int c) {
    return ViewGeometry{app::BitmapChannel1 + c,
                        ScreenWidth,
                        StripHeight,
                        app::ImageChannel1 + c,
                        {25, 51, 77, 103},
                        {12, 38, 64, 90, 116},
                        2,
                        StripTraceColours[c],
                        0,
                        115,
                        app::textTimebase(c),
                        app::textTrigger(c),
                        app::textSwitches(c),
                        c};
}

void drawGrid(const ViewGeometry& g, std::uint32_t colour, const auto& columns, const auto& rows) {
    for (int x : columns) {
        toolkit::drawLine(x, 0, x, g.height, colour);
    }
    for (int y : rows) {
        toolkit::drawLine(0, y, HorizontalLineEnd, y, colour);
    }
}

void drawTrace(const ViewGeometry& g, int c) {
    const auto& s = app::scope.samples;
    for (int i = 0; i < SamplesDrawn - 1; ++i) {
        toolkit::drawLine(PixelsPerSample * i, g.height - g.pixelsPerStep * s[i][c],
                          PixelsPerSample * i + PixelsPerSample,
                          g.height - g.pixelsPerStep * s[i + 1][c], g.traceColour);
    }
}

void drawCursorLines(const ViewGeometry& g, int c) {
    const app::ScopeState& s = app::scope;
    const auto horizontal = [](int y) {
        toolkit::drawLine(0, y, HorizontalLineEnd, y, CursorColour);
    };
    const auto vertical = [&g](int x) { toolkit::drawLine(x, 0, x, g.height, CursorColour); };
    switch (s.cursorMode[c]) {
    case 1:
        horizontal(s.posHLineO[c]);
        horizontal(s.posHLineU[c]);
        break;
    case 2:
        vertical(s.posVLineR[c]);
        vertical(s.posVLineL[c]);
        break;
    case 3:
        vertical(s.posVLineR[c]);
        vertical(s.posVLineL[c]);
        horizontal(s.posHLineO[c]);
        horizontal(s.posHLineU[c]);
        break;
    default:
        break;
    }
}

void setPanelTexts(const ViewGeometry& g) {
    const app::ScopeState& s = app::scope;
    toolkit::controlTextSet(g.textTimebase, s.timebaseText[g.panelElement]);
    toolkit::controlTextSet(g.textTrigger, s.triggerText[g.panelElement]);
    toolkit::controlTextSet(g.textSwitches, s.voltsText[g.panelElement]);
}

// An armed single shot ends in hold after the update that follows it, whoever asked for it.
void completeSingleShot() {
    if (app::scope.singleShotArmed.exchange(0) != 0) {
        toolkit::controlStateSet(app::ButtonSingleShot, 0);
        app::scope.holdDisplay = 1;
        toolkit::controlStateSet(app::ButtonHold, 1);
    }
}

// The caller holds the scope lock for the whole update.
void renderView(const ViewGeometry& g, int c, int capture) {
    toolkit::imageCreate(g.imageNumber, g.width, g.height);
    if (toolkit::drawingBegin(g.imageNumber) == 0) {
        // Nothing is drawn; the display keeps the image it was last given.
        return;
    }
    drawGrid(g, HalfDivisionColour, HalfDivisionColumns, g.halfDivisionRows);
    drawGrid(g, DivisionColour, DivisionColumns, g.divisionRows);
    drawTrace(g, c);
    drawCursorLines(g, c);
    if (capture != 0) {
        drawCaptureOverlay(c, g.overlayFirstY, g.overlaySecondY);
    }
    toolkit::drawingEnd();

    setPanelTexts(g);
    if (capture != 0) {
        saveCapture(g.imageNumber, c);
    }
    toolkit::controlStateSet(g.displayControl, toolkit::imageHandle(g.imageNumber));
    updateReadout();
    completeSingleShot();
}

int selectedChannel() {
    const int c = app::scope.currentChannel.load();
    return c < app::ChannelCount ? c : 0;
}

} // namespace

// Each update holds the scope lock from start to end: the two threads share the images, the
// panel texts and the readouts, and the channel must not change under a running update. The lock
// is recursive, so a command that already holds it may render.
void renderScreen(int capture) {
    std::lock_guard<std::recursive_mutex> guard(app::scopeLock());
    const int c = selectedChannel();
    renderView(screenGeometry(), c, capture);
}

void renderStrip(int capture) {
    std::lock_guard<std::recursive_mutex> guard(app::scopeLock());
    const int c = selectedChannel();
    renderView(stripGeometry(c), c, capture);
}

void redrawCurrentView(int capture) {
    if (app::scope.fourChannelView.load() != 0) {
        renderStrip(capture);
    } else {
        renderScreen(capture);
    }
}

} // namespace veltrace::display
