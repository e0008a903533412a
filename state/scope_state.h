// The scope state: what the program knows, shared by the main thread and the acquisition thread.
//
// Locking rules (the only ones in the program):
//  - currentChannel, fourChannelView, holdDisplay, singleShotArmed and workerStopRequest are
//    atomic bytes; either thread may read and write them without the lock.
//  - Every other field is guarded by scopeLock(). The acquisition thread holds it for each
//    decoded batch (the redraws after completed frames included); the main thread holds it while
//    it carries out one command or one drag update. Every screen update runs under it, so two
//    never overlap. Nobody holds it across a wait (eventWait, the port dialog, the stop
//    handshake's pauses, a message box).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace veltrace::state {

inline constexpr int ChannelCount = 4;
inline constexpr int SampleSlots = 129; // 128 drawn, slot 128 filled and never drawn
inline constexpr int PortNameSlots = 16;

// Which cursor pairs a channel shows (the buttons "=", "||" and "#").
enum class CursorMode : std::uint8_t { None = 0, Horizontal = 1, Vertical = 2, Both = 3 };

inline constexpr bool showsHorizontal(CursorMode mode) {
    return mode == CursorMode::Horizontal || mode == CursorMode::Both;
}
inline constexpr bool showsVertical(CursorMode mode) {
    return mode == CursorMode::Vertical || mode == CursorMode::Both;
}

// The four cursor lines of a channel: upper and lower horizontal, left and right vertical.
enum class CursorLine : std::uint8_t { None, HLineO, HLineU, VLineL, VLineR };

// What the device sent for one channel: the last frame's samples and its decoded settings.
struct ChannelData {
    std::array<std::uint8_t, SampleSlots> samples{};
    std::string timebaseText;   // e.g. "50\xB5s -> 0.5ms/div"
    std::string triggerText;    // e.g. "+INT RUN +0.1"
    std::string voltsText;      // coupling and range, e.g. "DC 10V -> 1V/div"
    float timePerSample = 0.0f; // microseconds per sample; 0 until the first frame
    float voltsPerStep = 0.0f;  // volts per step of the sample value; 0 until the first frame
};

// A channel's cursor mode and lines, in pixels of the picture the channel is drawn in (rows of
// the 512-row screen or of the 128-row strip; columns are the same in both).
struct ChannelCursors {
    CursorMode cursorMode = CursorMode::None;
    std::int16_t posHLineO = 10;
    std::int16_t posHLineU = 502;
    std::int16_t posVLineL = 10;
    std::int16_t posVLineR = 502;
};

// The readout between a channel's cursor lines, as last computed.
struct ChannelReadout {
    std::string voltsReadout;
    std::string timeReadout;
    std::int16_t cursorDeltaY = 0;
    std::int16_t cursorDeltaX = 0;
};

struct ScopeState {
    // Per channel: the device's data (written by the decoder), the cursors, the readouts.
    std::array<ChannelData, ChannelCount> channel;
    std::array<ChannelCursors, ChannelCount> cursors;
    std::array<ChannelReadout, ChannelCount> readout;

    // View and run state. The atomic ones cross threads.
    std::atomic<std::uint8_t> currentChannel{0};
    std::atomic<std::uint8_t> fourChannelView{0};
    std::atomic<std::uint8_t> holdDisplay{0};
    std::atomic<std::uint8_t> singleShotArmed{0};
    std::uint8_t draggingLine = 0;
    CursorLine draggedLine = CursorLine::None;
    std::uint8_t linkHLines = 0;
    std::uint8_t linkVLines = 0;

    // Device link: the settings file, the configured port, the ports found at start-up, and the
    // stop request to the acquisition thread.
    std::string settingsPath;
    std::string comPortName;
    std::array<std::string, PortNameSlots> comPortNames;
    std::uint8_t comPortCount = 0;
    std::atomic<std::uint8_t> workerStopRequest{0};

    // Event loop.
    std::int32_t lastEvent = 0;
    std::int32_t quitRequested = 0;
};

// The one instance.
extern ScopeState scope;

// The scope lock. Recursive, so a command that holds it may call an update that takes it too.
std::recursive_mutex& scopeLock();

// Clears every field and sets the initial values: cursors at 10/502 and the settings path.
void resetScopeState();

} // namespace veltrace::state
