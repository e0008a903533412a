// Everything that happens around a redraw, in one place: the picture is drawn by the display
// layer from the channel's data and cursors; here it is handed to its display, the panel texts
// are set, the readout is computed and shown, a capture is saved, and an armed single shot ends
// in hold. Every update holds the scope lock from start to end: the two threads share the
// pictures, the panel texts and the readouts.
#include "app/app.h"
#include "app/controls.h"
#include "display/capture.h"
#include "display/draw.h"
#include "display/readout.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <array>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

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

// Pictures are drawn again into buffers that no display holds any more, for the cost of what is
// on them (display::redrawView) instead of a whole new picture each time. A picture handed out
// comes back here when its last holder (the image registry, a display, the window's conversion)
// lets go of it, on whichever thread that is; the pool's lock orders those returns before the
// next reuse.
class PicturePool {
  public:
    static constexpr std::size_t Numbers = 5; // the screen and the four strips
    static constexpr std::size_t KeptPerNumber =
        3; // what one display and the registry cycle through

    std::shared_ptr<tk::Image> draw(int number, display::View view, int channel,
                                    const state::ChannelData& data,
                                    const state::ChannelCursors& cursors) {
        const display::ViewGeometry& geometry = display::geometryOf(view);
        std::unique_ptr<Picture> picture = take(number);
        if (!picture) {
            picture = std::make_unique<Picture>();
            picture->number = number;
            try {
                picture->image.width = geometry.width;
                picture->image.height = geometry.height;
                picture->image.rgb.resize(static_cast<std::size_t>(geometry.width) *
                                          geometry.height * 3);
            } catch (const std::bad_alloc&) {
                return nullptr;
            }
        }
        if (!display::redrawView(picture->image, geometry, channel, data, cursors,
                                 picture->footprint)) {
            return nullptr;
        }
        Picture* raw = picture.release();
        const std::shared_ptr<Picture> owner(raw, [this](Picture* back) { give(back); });
        return std::shared_ptr<tk::Image>(owner, &raw->image);
    }

  private:
    struct Picture {
        tk::Image image;
        display::Footprint footprint;
        int number = 0;
    };

    std::unique_ptr<Picture> take(int number) {
        std::lock_guard lock(mutex_);
        std::vector<std::unique_ptr<Picture>>& kept = free_[static_cast<std::size_t>(number)];
        if (kept.empty()) {
            return nullptr;
        }
        std::unique_ptr<Picture> picture = std::move(kept.back());
        kept.pop_back();
        return picture;
    }

    void give(Picture* back) {
        std::unique_ptr<Picture> picture(back);
        std::lock_guard lock(mutex_);
        std::vector<std::unique_ptr<Picture>>& kept =
            free_[static_cast<std::size_t>(picture->number)];
        if (kept.size() < KeptPerNumber) {
            kept.push_back(std::move(picture));
        }
    }

    std::mutex mutex_;
    std::array<std::vector<std::unique_ptr<Picture>>, Numbers> free_;
};

// Never destroyed: pictures may come back to it from displays and the registry until the very
// end of the process.
PicturePool& picturePool() {
    static PicturePool* pool = new PicturePool;
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
    std::shared_ptr<tk::Image> picture =
        picturePool().draw(viewImage(view, c), view, c, scope.channel[index], scope.cursors[index]);
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
