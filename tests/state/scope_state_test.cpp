// resetScopeState must bring every field back to its start-up value, whatever ran before it
// (tests reuse the one process-wide state, and start-up relies on a clean state).
#include "state/scope_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using veltrace::state::ChannelCount;
using veltrace::state::CursorLine;
using veltrace::state::CursorMode;
using veltrace::state::resetScopeState;
using veltrace::state::scope;

// Puts a non-initial value into every field.
void dirtyEverything() {
    for (int c = 0; c < ChannelCount; ++c) {
        scope.channel[c].samples.fill(77);
        scope.channel[c].timebaseText = "t";
        scope.channel[c].triggerText = "g";
        scope.channel[c].voltsText = "v";
        scope.readout[c].voltsReadout = "r";
        scope.readout[c].timeReadout = "r";
        scope.channel[c].timePerSample = 5.0f;
        scope.channel[c].voltsPerStep = 5.0f;
        scope.cursors[c].cursorMode = CursorMode::Both;
        scope.cursors[c].posHLineO = 1;
        scope.cursors[c].posHLineU = 2;
        scope.cursors[c].posVLineL = 3;
        scope.cursors[c].posVLineR = 4;
        scope.readout[c].cursorDeltaX = 9;
        scope.readout[c].cursorDeltaY = 9;
    }
    scope.currentChannel = 2;
    scope.fourChannelView = 1;
    scope.holdDisplay = 1;
    scope.singleShotArmed = 1;
    scope.draggingLine = 1;
    scope.draggedLine = CursorLine::HLineO;
    scope.linkHLines = 1;
    scope.linkVLines = 1;
    scope.settingsPath = "elsewhere.ini";
    scope.comPortName = "COM9";
    scope.comPortNames[15] = "COM16";
    scope.comPortCount = 16;
    scope.workerStopRequest = 1;
    scope.lastEvent = 4;
    scope.quitRequested = 1;
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
        EXPECT_TRUE(scope.channel[c].timebaseText.empty());
        EXPECT_TRUE(scope.channel[c].triggerText.empty());
        EXPECT_TRUE(scope.channel[c].voltsText.empty());
        EXPECT_TRUE(scope.readout[c].voltsReadout.empty());
        EXPECT_TRUE(scope.readout[c].timeReadout.empty());
        EXPECT_EQ(scope.channel[c].timePerSample, 0.0f);
        EXPECT_EQ(scope.channel[c].voltsPerStep, 0.0f);
        EXPECT_EQ(scope.cursors[c].cursorMode, CursorMode::None);
        EXPECT_EQ(scope.cursors[c].posHLineO, 10);
        EXPECT_EQ(scope.cursors[c].posHLineU, 502);
        EXPECT_EQ(scope.cursors[c].posVLineL, 10);
        EXPECT_EQ(scope.cursors[c].posVLineR, 502);
        EXPECT_EQ(scope.readout[c].cursorDeltaX, 0);
        EXPECT_EQ(scope.readout[c].cursorDeltaY, 0);
    }
}

TEST_F(ScopeStateReset, SampleStoreHas129ClearedSlotsPerChannel) {
    for (int c = 0; c < ChannelCount; ++c) {
        EXPECT_EQ(scope.channel[c].samples.size(), 129u);
        for (auto value : scope.channel[c].samples) {
            EXPECT_EQ(value, 0);
        }
    }
}

TEST_F(ScopeStateReset, FlagsAndLinkStateAreCleared) {
    EXPECT_EQ(scope.currentChannel, 0);
    EXPECT_EQ(scope.fourChannelView, 0);
    EXPECT_EQ(scope.holdDisplay, 0);
    EXPECT_EQ(scope.singleShotArmed, 0);
    EXPECT_EQ(scope.draggingLine, 0);
    EXPECT_EQ(scope.draggedLine, CursorLine::None);
    EXPECT_EQ(scope.linkHLines, 0);
    EXPECT_EQ(scope.linkVLines, 0);
    EXPECT_EQ(scope.settingsPath, "./Veltrace.ini");
    EXPECT_TRUE(scope.comPortName.empty());
    EXPECT_EQ(scope.comPortNames.size(), 16u);
    for (const auto& name : scope.comPortNames) {
        EXPECT_TRUE(name.empty());
    }
    EXPECT_EQ(scope.comPortCount, 0);
    EXPECT_EQ(scope.workerStopRequest, 0);
    EXPECT_EQ(scope.lastEvent, 0);
    EXPECT_EQ(scope.quitRequested, 0);
}

} // namespace
