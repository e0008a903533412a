#include "state/scope_state.h"

namespace veltrace::state {

ScopeState scope;

std::recursive_mutex& scopeLock() {
    static std::recursive_mutex lock;
    return lock;
}

void resetScopeState() {
    std::lock_guard<std::recursive_mutex> guard(scopeLock());
    ScopeState& s = scope;
    s.channel.fill(ChannelData{});
    s.cursors.fill(ChannelCursors{});
    s.readout.fill(ChannelReadout{});

    s.currentChannel = 0;
    s.fourChannelView = 0;
    s.holdDisplay = 0;
    s.singleShotArmed = 0;
    s.draggingLine = 0;
    s.draggedLine = CursorLine::None;
    s.linkHLines = 0;
    s.linkVLines = 0;

    s.settingsPath = "./Veltrace.ini";
    s.comPortName.clear();
    s.comPortNames.fill(std::string());
    s.comPortCount = 0;
    s.workerStopRequest = 0;

    s.lastEvent = 0;
    s.quitRequested = 0;
}

} // namespace veltrace::state
