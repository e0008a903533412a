// The acquisition thread: drains the port every cycle, decodes the bytes and redraws the
// current view after each complete frame, on its own thread.
//
// Locks: the port record's descriptor and receive buffer belong to the port lock, everything
// else shared to the scope lock; the thread never holds both at once. The main thread may give
// up waiting and stop the thread by force (threadKill). That only sets the thread's stop token,
// so the thread checks it before every side effect and returns at once: a forced stop can never
// leave a lock held, and a thread that was given up on never touches the port record or the
// stop flag again, which by then may belong to a new thread.
#include "link/acquisition.h"

#include "app/scope_state.h"
#include "app/settings.h"
#include "display/display.h"
#include "link/decoder.h"
#include "link/serial_port.h"
#include "toolkit/toolkit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>

namespace veltrace::link {

namespace {

using ScopeGuard = std::lock_guard<std::recursive_mutex>;

std::atomic<std::uint64_t> cycleCount{0};
std::atomic<std::uint64_t> decodedCount{0};
std::atomic<std::uint64_t> droppedCount{0};
std::atomic<std::uint64_t> drawnCount{0};

std::function<void()> frameDrawnHook; // under the scope lock

bool forcedToStop() {
    return toolkit::threadStopRequested();
}

// Takes what the port holds into batch, under the port lock. Returns the number of bytes to
// decode; 0 when the port is closed, nothing arrived or the display is held (then the bytes
// are dropped). -1 when the thread was stopped by force.
int drainPort(app::PortConfig& portConfig, std::array<std::uint8_t, app::RxBufferSize>& batch) {
    std::lock_guard<std::recursive_mutex> port(portLock());
    if (forcedToStop()) {
        return -1;
    }
    clearLineErrors(portConfig);
    if (portConfig.portHandle == 0) {
        return 0;
    }
    readPort(portConfig);
    const int count = portConfig.rxCount;
    if (count <= 0) {
        return 0;
    }
    if (app::scope.holdDisplay != 0) {
        // Dropped undecoded; the next read overwrites them.
        droppedCount += static_cast<std::uint64_t>(count);
        return 0;
    }
    std::copy(portConfig.rxBuffer.begin(), portConfig.rxBuffer.begin() + count, batch.begin());
    portConfig.rxCount = 0;
    return count;
}

// Every byte in order; a completed frame is drawn before the next byte is decoded, so each
// frame is drawn exactly once and no byte of the following frame shows in it. Returns false
// when the thread was stopped by force.
bool decodeBatch(const std::array<std::uint8_t, app::RxBufferSize>& batch, int count) {
    if (forcedToStop()) {
        return false;
    }
    ScopeGuard scope(app::scopeLock());
    for (int i = 0; i < count; ++i) {
        if (forcedToStop()) {
            return false;
        }
        ++decodedCount;
        if (decodeFrameByte(batch[static_cast<std::size_t>(i)]) == 1) {
            if (forcedToStop()) {
                return false;
            }
            display::redrawCurrentView(0);
            ++drawnCount;
            if (frameDrawnHook) {
                frameDrawnHook();
            }
        }
    }
    return true;
}

} // namespace

void connectDevice() {
    std::string settingsPath;
    {
        ScopeGuard guard(app::scopeLock());
        settingsPath = app::scope.settingsPath;
    }
    const std::string portName = app::readSetting("COM", "COMPort", settingsPath);
    {
        ScopeGuard guard(app::scopeLock());
        app::scope.comPortName = portName;
        app::scope.portConfig.portName = portName;
    }
    if (portName.empty()) {
        return;
    }
    // Without the scope lock: a failed open shows a message box and waits for the user.
    const int result = openPort(app::scope.portConfig);
    {
        ScopeGuard guard(app::scopeLock());
        app::scope.openResult = result;
    }
    if (result > 0) {
        const int thread = toolkit::threadStart(acquisitionThreadMain, &app::scope.portConfig);
        ScopeGuard guard(app::scopeLock());
        app::scope.workerThread = thread;
    }
}

int acquisitionThreadMain(void* argument) {
    auto& portConfig = *static_cast<app::PortConfig*>(argument);
    {
        if (forcedToStop()) {
            return 0;
        }
        ScopeGuard guard(app::scopeLock());
        app::scope.framePosition = 0;
    }
    std::array<std::uint8_t, app::RxBufferSize> batch{};
    for (;;) {
        const int count = drainPort(portConfig, batch);
        if (count < 0) {
            return 0;
        }
        if (count > 0 && !decodeBatch(batch, count)) {
            return 0;
        }
        toolkit::pause(10);
        ++cycleCount;
        if (forcedToStop()) {
            return 0;
        }
        if (app::scope.workerStopRequest == 1) {
            std::lock_guard<std::recursive_mutex> port(portLock());
            // Checked again under the port lock: the main thread opens a new port under the same
            // lock after a forced stop, so from here on the record is certainly still ours.
            if (forcedToStop()) {
                return 0;
            }
            closePort(portConfig);
            app::scope.workerStopRequest = 0;
            return 0;
        }
    }
}

void stopAcquisition() {
    int thread = 0;
    {
        ScopeGuard guard(app::scopeLock());
        thread = app::scope.workerThread;
    }
    app::scope.workerStopRequest = 1;
    int pauses = 0;
    do {
        toolkit::pause(20);
        ++pauses;
        if (pauses == 50) {
            toolkit::threadKill(thread);
            app::scope.workerStopRequest = 0;
        }
    } while (app::scope.workerStopRequest != 0);
}

void stopAcquisitionShort() {
    app::scope.workerStopRequest = 1;
    toolkit::pause(100);
}

AcquisitionStats acquisitionStats() {
    AcquisitionStats stats;
    stats.cycles = cycleCount;
    stats.bytesDecoded = decodedCount;
    stats.bytesDropped = droppedCount;
    stats.framesDrawn = drawnCount;
    return stats;
}

void setFrameDrawnHook(std::function<void()> hook) {
    ScopeGuard guard(app::scopeLock());
    frameDrawnHook = std::move(hook);
}

} // namespace veltrace::link
