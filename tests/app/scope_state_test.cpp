// resetScopeState must bring every field back to its start-up value, whatever ran before it
// (tests reuse the one process-wide state, and start-up relies on a clean state).
#include "app/scope_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using veltrace::app::ChannelCount;
using veltrace::app::resetScopeState;
using veltrace::app::scope;

// Puts a non-initial value into every field.
void dirtyEverything() {
    for (auto& row : scope.samples) {
        for (auto& value : row) {
            value = 77;
        }
    }
    for (int c = 0; c < ChannelCount; ++c) {
        scope.timebaseText[c] = "t";
        scope.triggerText[c] = "g";
        scope.voltsText[c] = "v";
        scope.voltsReadout[c] = "r";
        scope.timeReadout[c] = "r";
        scope.timePerSample[c] = 5.0f;
        scope.voltsPerStep[c] = 5.0f;
        scope.cursorMode[c] = 3;
        scope.posHLineO[c] = 1;
        scope.posHLineU[c] = 2;
        scope.posVLineL[c] = 3;
        scope.posVLineR[c] = 4;
        scope.cursorDeltaX[c] = 9;
        scope.cursorDeltaY[c] = 9;
    }
    scope.timeUnits = {"x", "x", "x"};
    scope.freqUnits = {"x", "x", "x"};
    scope.currentChannel = 2;
    scope.fourChannelView = 1;
    scope.holdDisplay = 1;
    scope.singleShotArmed = 1;
    scope.draggingLine = 1;
    scope.draggedLine = "HLineO";
    scope.linkHLines = 1;
    scope.linkVLines = 1;
    scope.settingsPath = "elsewhere.ini";
    scope.comPortName = "COM9";
    scope.comPortNames[15] = "COM16";
    scope.comPortCount = 16;
    scope.portSelectionChanged = 1;
    scope.portConfig.portName = "COM9";
    scope.portConfig.portHandle = 5;
    scope.portConfig.inQueueSize = 1;
    scope.portConfig.timeouts.readInterval = 0;
    scope.portConfig.lineSettings.byteSize = 8;
    scope.portConfig.rxBuffer[1023] = 1;
    scope.portConfig.rxCount = 12;
    scope.openResult = 5;
    scope.workerThread = 3;
    scope.workerStopRequest = 1;
    scope.lastEvent = 4;
    scope.quitRequested = 1;
    scope.framePosition = 99;
}

class ScopeStateReset : public ::testing::Test {
  protected:
    void SetUp() override {
        dirtyEverything();
        resetScopeState();
    }
};

TEST_F(ScopeStateReset, ChannelTablesStartEmptyWithCursorsAtTheEdges) {
    for (int c = 0; c < ChannelCount; ++c) {
        EXPECT_TRUE(scope.timebaseText[c].empty());
        EXPECT_TRUE(scope.triggerText[c].empty());
        EXPECT_TRUE(scope.voltsText[c].empty());
        EXPECT_TRUE(scope.voltsReadout[c].empty());
        EXPECT_TRUE(scope.timeReadout[c].empty());
        EXPECT_EQ(scope.timePerSample[c], 0.0f);
        EXPECT_EQ(scope.voltsPerStep[c], 0.0f);
        EXPECT_EQ(scope.cursorMode[c], 0);
        EXPECT_EQ(scope.posHLineO[c], 10);
        EXPECT_EQ(scope.posHLineU[c], 502);
        EXPECT_EQ(scope.posVLineL[c], 10);
        EXPECT_EQ(scope.posVLineR[c], 502);
        EXPECT_EQ(scope.cursorDeltaX[c], 0);
        EXPECT_EQ(scope.cursorDeltaY[c], 0);
    }
}

TEST_F(ScopeStateReset, SampleStoreHas129ClearedSlotsPerChannel) {
    EXPECT_EQ(sizeof(scope.samples) / sizeof(scope.samples[0]), 129u);
    for (const auto& row : scope.samples) {
        for (auto value : row) {
            EXPECT_EQ(value, 0);
        }
    }
}

TEST_F(ScopeStateReset, UnitTablesAndSettingsPath) {
    EXPECT_EQ(scope.timeUnits[0], "\xB5s");
    EXPECT_EQ(scope.timeUnits[1], "ms");
    EXPECT_EQ(scope.timeUnits[2], "s");
    EXPECT_EQ(scope.freqUnits[0], "Hz");
    EXPECT_EQ(scope.freqUnits[1], "KHz");
    EXPECT_EQ(scope.freqUnits[2], "MHz");
    EXPECT_EQ(scope.settingsPath, "./Veltrace.ini");
}

TEST_F(ScopeStateReset, FlagsAndLinkStateAreCleared) {
    EXPECT_EQ(scope.currentChannel, 0);
    EXPECT_EQ(scope.fourChannelView, 0);
    EXPECT_EQ(scope.holdDisplay, 0);
    EXPECT_EQ(scope.singleShotArmed, 0);
    EXPECT_EQ(scope.draggingLine, 0);
    EXPECT_TRUE(scope.draggedLine.empty());
    EXPECT_EQ(scope.linkHLines, 0);
    EXPECT_EQ(scope.linkVLines, 0);
    EXPECT_TRUE(scope.comPortName.empty());
    EXPECT_EQ(scope.comPortNames.size(), 16u);
    for (const auto& name : scope.comPortNames) {
        EXPECT_TRUE(name.empty());
    }
    EXPECT_EQ(scope.comPortCount, 0);
    EXPECT_EQ(scope.portSelectionChanged, 0);
    EXPECT_EQ(scope.openResult, 0);
    EXPECT_EQ(scope.workerThread, 0);
    EXPECT_EQ(scope.workerStopRequest, 0);
    EXPECT_EQ(scope.lastEvent, 0);
    EXPECT_EQ(scope.quitRequested, 0);
    EXPECT_EQ(scope.framePosition, 0);
}

TEST_F(ScopeStateReset, PortRecordGetsItsLineSettingsBack) {
    const auto& port = scope.portConfig;
    EXPECT_TRUE(port.portName.empty());
    EXPECT_EQ(port.portHandle, 0);
    EXPECT_EQ(port.inQueueSize, 256u);
    EXPECT_EQ(port.timeouts.readInterval, 0xFFFFFFFFu);
    EXPECT_EQ(port.lineSettings.baudRate, 19200u);
    EXPECT_EQ(port.lineSettings.byteSize, 7);
    EXPECT_EQ(port.rxCount, 0);
    for (auto byte : port.rxBuffer) {
        EXPECT_EQ(byte, 0);
    }
}

} // namespace
