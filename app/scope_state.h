// The scope state: everything the program knows, shared by the main thread and the
// acquisition thread.
//
// Locking rules (the only ones in the program):
//  - currentChannel, fourChannelView, holdDisplay, singleShotArmed and workerStopRequest are
//    atomic bytes; they may be read and written from either thread without the lock.
//  - Every other field is guarded by scopeLock(). The acquisition thread holds it for each
//    decoded batch (its redraws included); the main thread holds it while it carries out one
//    command or one drag update. Every render runs under it. Nobody holds it across a wait
//    (eventWait, the port dialog, stopAcquisition's pauses, a message box).
//  - portConfig.portHandle and portConfig.rxBuffer/rxCount belong to the serial layer's own
//    port lock, not to the scope lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace veltrace::app {

inline constexpr int ChannelCount = 4;
inline constexpr int SampleSlots = 129; // 128 drawn, slot 128 filled and never drawn
inline constexpr int PortNameSlots = 16;
inline constexpr int RxBufferSize = 1024;

// Serial time-outs in the device's own terms; with these values a read returns at once with
// whatever has arrived (the Linux layer reads non-blocking, which is the same contract).
struct CommTimeouts {
    std::uint32_t readInterval = 0xFFFFFFFFu;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 1;
    std::uint32_t writeTotalConstant = 10;
};

// Line settings applied when the port is opened: 19200 baud, 7N1, no flow control, DTR and RTS
// held off, no parity checking.
struct LineSettings {
    std::uint32_t baudRate = 19200;
    std::uint8_t byteSize = 7;
    std::uint8_t parity = 0;   // none
    std::uint8_t stopBits = 1; // one stop bit
    bool parityCheck = false;
    bool hardwareFlowControl = false;
    bool softwareFlowControl = false;
    bool dtrOn = false;
    bool rtsOn = false;
};

struct PortConfig {
    std::string portName; // short form, e.g. "COM3"
    std::uint32_t inQueueSize = 256;
    std::uint32_t outQueueSize = 256;
    int portHandle = 0; // file descriptor of the open port, 0 while closed
    CommTimeouts timeouts;
    LineSettings lineSettings;
    std::array<std::uint8_t, RxBufferSize> rxBuffer{};
    std::int32_t rxCount = 0;
};

using ChannelTexts = std::array<std::string, ChannelCount>;
using ChannelFloats = std::array<float, ChannelCount>;
using ChannelRows = std::array<std::int16_t, ChannelCount>;

struct ScopeState {
    // Sample store: samples[sample][channel].
    std::uint8_t samples[SampleSlots][ChannelCount] = {};

    // Per-channel device texts, scale factors and readouts.
    ChannelTexts timebaseText;
    ChannelTexts triggerText;
    ChannelTexts voltsText;
    ChannelFloats timePerSample{};
    ChannelFloats voltsPerStep{};
    ChannelTexts voltsReadout;
    ChannelTexts timeReadout;

    // Per-channel cursors.
    std::array<std::uint8_t, ChannelCount> cursorMode{};
    ChannelRows posHLineO{};
    ChannelRows posHLineU{};
    ChannelRows posVLineL{};
    ChannelRows posVLineR{};
    ChannelRows cursorDeltaY{};
    ChannelRows cursorDeltaX{};

    std::array<std::string, 3> timeUnits;
    std::array<std::string, 3> freqUnits;

    // View and run state. The atomic ones cross threads.
    std::atomic<std::uint8_t> currentChannel{0};
    std::atomic<std::uint8_t> fourChannelView{0};
    std::atomic<std::uint8_t> holdDisplay{0};
    std::atomic<std::uint8_t> singleShotArmed{0};
    std::uint8_t draggingLine = 0;
    std::string draggedLine;
    std::uint8_t linkHLines = 0;
    std::uint8_t linkVLines = 0;

    // Device link state.
    std::string settingsPath;
    std::string comPortName;
    std::array<std::string, PortNameSlots> comPortNames;
    std::uint8_t comPortCount = 0;
    std::uint8_t portSelectionChanged = 0;
    PortConfig portConfig;
    std::int32_t openResult = 0;
    std::int32_t workerThread = 0;
    std::atomic<std::uint8_t> workerStopRequest{0};

    // Event loop state.
    std::int32_t lastEvent = 0;
    std::int32_t quitRequested = 0;

    // The frame decoder's position within the current device frame.
    std::uint8_t framePosition = 0;
};

// The one instance, used by name everywhere.
extern ScopeState scope;

// The scope lock. Recursive, so a command that holds it may call a renderer that takes it too.
std::recursive_mutex& scopeLock();

// Clears every field and sets the initial values: cursors at 10/502, the unit tables, the
// settings path and the port record.
void resetScopeState();

} // namespace veltrace::app
