#include "app/scope_state.h"

namespace veltrace::app {

ScopeState scope;

std::recursive_mutex& scopeLock() {
    static std::recursive_mutex lock;
    return lock;
}

void resetScopeState() {
    std::lock_guard<std::recursive_mutex> guard(scopeLock());
    ScopeState& s = scope;
    for (auto& row : s.samples) {
        for (auto& value : row) {
            value = 0;
        }
    }
    for (int c = 0; c < ChannelCount; ++c) {
        s.timebaseText[c].clear();
        s.triggerText[c].clear();
        s.voltsText[c].clear();
        s.voltsReadout[c].clear();
        s.timeReadout[c].clear();
        s.timePerSample[c] = 0.0f;
        s.voltsPerStep[c] = 0.0f;
        s.cursorMode[c] = 0;
        s.posHLineO[c] = 10;
        s.posHLineU[c] = 502;
        s.posVLineL[c] = 10;
        s.posVLineR[c] = 502;
        s.cursorDeltaY[c] = 0;
        s.cursorDeltaX[c] = 0;
    }
    s.timeUnits = {"\xB5s", "ms", "s"};
    s.freqUnits = {"Hz", "KHz", "MHz"};

    s.currentChannel = 0;
    s.fourChannelView = 0;
    s.holdDisplay = 0;
    s.singleShotArmed = 0;
    s.draggingLine = 0;
    s.draggedLine.clear();
    s.linkHLines = 0;
    s.linkVLines = 0;

    s.settingsPath = "./Veltrace.ini";
    s.comPortName.clear();
    for (auto& name : s.comPortNames) {
        name.clear();
    }
    s.comPortCount = 0;
    s.portSelectionChanged = 0;
    s.portConfig = PortConfig{};
    s.openResult = 0;
    s.workerThread = 0;
    s.workerStopRequest = 0;

    s.lastEvent = 0;
    s.quitRequested = 0;
    s.framePosition = 0;
}

} // namespace veltrace::app
