// Which controls each view shows, decided in one place.
//
// The one-channel view shows ImageScreen and the block of CH1; the four-channel view the four
// strips, the blocks of all channels and the link buttons GR_V and GR_H. In a shown block the
// option button and the Timebase, Trigger and Switches rows always show; the Volts and Time(Frq)
// rows show only while the channel has cursors. CH1's rows follow its cursor mode alone
// (updateReadoutVisibility) and a view switch leaves them as they are; the blocks of CH2..CH4
// come into the four-channel view with both readout rows whenever they have cursors at all,
// and the per-mode rule takes over at their next mode command.
#include "app/app.h"
#include "app/controls.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <vector>

namespace veltrace::app {

namespace tk = veltrace::toolkit;
using state::scope;

namespace {

struct Visibility {
    int control;
    bool visible;
};

void addRow(std::vector<Visibility>& list, int c, PanelRow row, bool visible) {
    list.push_back({panelLabel(c, row), visible});
    list.push_back({panelText(c, row), visible});
}

// Every control whose visibility depends on the view, and what it is in `view`.
std::vector<Visibility> viewControls(display::View view) {
    const bool strips = view == display::View::Strips;
    std::vector<Visibility> list;
    list.push_back({ImageScreen, !strips});
    for (int c = 0; c < state::ChannelCount; ++c) {
        list.push_back({ImageChannel1 + c, strips});
    }
    for (int c = 1; c < state::ChannelCount; ++c) {
        const bool cursors =
            scope.cursors[static_cast<std::size_t>(c)].cursorMode != state::CursorMode::None;
        addRow(list, c, PanelRow::Volts, strips && cursors);
        addRow(list, c, PanelRow::Time, strips && cursors);
        addRow(list, c, PanelRow::Timebase, strips);
        addRow(list, c, PanelRow::Trigger, strips);
        addRow(list, c, PanelRow::Switches, strips);
        list.push_back({optionChannel(c), strips});
    }
    list.push_back({ButtonGrV, strips});
    list.push_back({ButtonGrH, strips});
    return list;
}

} // namespace

display::View currentView() {
    return scope.fourChannelView.load() != 0 ? display::View::Strips : display::View::Screen;
}

void showViewControls(display::View view, int innerHeight) {
    const std::vector<Visibility> list = viewControls(view);
    for (const Visibility& v : list) {
        if (!v.visible) {
            tk::controlHide(v.control, 1);
        }
    }
    if (innerHeight > 0) {
        tk::windowResize(MainWindow, tk::KeepCoordinate, tk::KeepCoordinate, MainWindowWidth,
                         innerHeight);
    }
    for (const Visibility& v : list) {
        if (v.visible) {
            tk::controlHide(v.control, 0);
        }
    }
}

void syncCursorModeButtons() {
    const state::CursorMode mode =
        scope.cursors[static_cast<std::size_t>(scope.currentChannel.load() & 3)].cursorMode;
    for (const state::CursorMode m : CursorModes) {
        tk::controlStateSet(cursorModeButton(m), mode == m ? 1 : 0);
    }
}

void updateReadoutVisibility() {
    const int c = scope.currentChannel.load() & 3;
    const state::CursorMode mode = scope.cursors[static_cast<std::size_t>(c)].cursorMode;
    const int hideVolts = state::showsHorizontal(mode) ? 0 : 1;
    const int hideTime = state::showsVertical(mode) ? 0 : 1;
    tk::controlHide(panelLabel(c, PanelRow::Volts), hideVolts);
    tk::controlHide(panelText(c, PanelRow::Volts), hideVolts);
    tk::controlHide(panelLabel(c, PanelRow::Time), hideTime);
    tk::controlHide(panelText(c, PanelRow::Time), hideTime);
}

} // namespace veltrace::app
