// Everything that happens around a redraw, in one place: the picture is drawn by the display
// layer from the channel's data and cursors; here it is handed to its display, the panel texts
// are set, the readout is computed and shown, a capture is saved, and an armed single shot ends
// in hold. Every update holds the scope lock from start to end: the two threads share the
// pictures, the panel texts and the readouts.
#include "app/app.h"
#include "app/controls.h"
#include "app/picture_pool.h"
#include "display/capture.h"
#include "display/draw.h"
#include "display/readout.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <cstddef>
#include <memory>
#include <mutex>

namespace veltrace::app {

namespace {

using state::scope;
using Guard = std::lock_guard<std::recursive_mutex>;
namespace tk = veltrace::toolkit;

int selectedChannel() {
    const int c = scope.currentChannel.load();
    return c < state::ChannelCount ? c : 0;
}

// The one-channel screen shows channel 1's panel; each strip its own channel's.
int panelChannel(display::View view, int channel) {
    return view == display::View::Screen ? 0 : channel;
}

void setPanelTexts(int panel) {
    const state::ChannelData& data = scope.channel[static_cast<std::size_t>(panel)];
    tk::controlTextSet(panelText(panel, PanelRow::Timebase), data.timebaseText);
    tk::controlTextSet(panelText(panel, PanelRow::Trigger), data.triggerText);
    tk::controlTextSet(panelText(panel, PanelRow::Switches), data.voltsText);
}

void showReadout(display::View view, int c) {
    const auto index = static_cast<std::size_t>(c);
    const state::ChannelData& data = scope.channel[index];
    state::ChannelReadout& readout = scope.readout[index];
    readout = display::computeReadout(scope.cursors[index], data.voltsPerStep, data.timePerSample,
                                      display::geometryOf(view));
    tk::controlTextSet(panelText(c, PanelRow::Volts), readout.voltsReadout);
    tk::controlTextSet(panelText(c, PanelRow::Time), readout.timeReadout);
}

// A copy of the picture with the capture text, saved; a failed capture is silent and leaves
// neither a partial file nor a damaged older one. The text shows the readouts of the update
// before this one: this update computes its own only after the picture is finished.
void saveCapture(display::View view, int c, const tk::Image& picture) {
    const auto index = static_cast<std::size_t>(c);
    display::saveCapture(
        picture, display::geometryOf(view),
        display::captureOverlay(scope.channel[index], scope.cursors[index], scope.readout[index]),
        tk::fontHandle(FontCapture), display::captureFileName(tk::dateNow(), c));
}

// Never destroyed: pictures may come back to it from displays and the registry until the very
// end of the process. One number each for the screen and the four strips.
PicturePool<display::Footprint>& picturePool() {
    static auto* pool = new PicturePool<display::Footprint>(5);
    return *pool;
}

// An armed single shot ends in hold after the update that follows it, whoever asked for it.
void completeSingleShot() {
    if (scope.singleShotArmed.exchange(0) != 0) {
        tk::controlStateSet(ButtonSingleShot, 0);
        scope.holdDisplay = 1;
        tk::controlStateSet(ButtonHold, 1);
    }
}

// The caller holds the scope lock.
void updateView(display::View view, int c, bool capture) {
    const auto index = static_cast<std::size_t>(c);
    const display::ViewGeometry& geometry = display::geometryOf(view);
    std::shared_ptr<tk::Image> picture =
        picturePool().draw(static_cast<std::size_t>(viewImage(view, c)), geometry.width,
                           geometry.height, [&](tk::Image& image, display::Footprint& footprint) {
                               return display::redrawView(image, geometry, c, scope.channel[index],
                                                          scope.cursors[index], footprint);
                           });
    if (!picture) {
        // No memory for a picture: nothing changes, the display keeps the one it has.
        return;
    }
    setPanelTexts(panelChannel(view, c));
    if (capture) {
        saveCapture(view, c, *picture);
    }
    tk::controlStateSet(imageControl(view, c), tk::imageStore(viewImage(view, c), picture));
    showReadout(view, c);
    if (c == selectedChannel()) {
        updateMeasurements(c);
    }
    completeSingleShot();
}

} // namespace

// The channel and the view are read under the lock: a command can change neither in the middle
// of an update.
void renderScreen() {
    Guard guard(state::scopeLock());
    updateView(display::View::Screen, selectedChannel(), false);
}

void renderStrip(int channel) {
    Guard guard(state::scopeLock());
    updateView(display::View::Strips, channel & 3, false);
}

void redrawCurrentView() {
    Guard guard(state::scopeLock());
    updateView(currentView(), selectedChannel(), false);
}

void captureCurrentView() {
    Guard guard(state::scopeLock());
    updateView(currentView(), selectedChannel(), true);
}

} // namespace veltrace::app
