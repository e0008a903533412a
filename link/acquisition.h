// The acquisition thread and the two operations that connect and disconnect the device link.
#pragma once

#include <cstdint>
#include <functional>

namespace veltrace::link {

// Reads COMPort from the settings file, opens the port and starts the acquisition thread.
// Main thread; must not be called with the scope lock held (it may show a message box).
void connectDevice();

// Thread procedure; argument: &scope.portConfig. Returns 0 when it ends by request.
int acquisitionThreadMain(void* portConfig);

// Waiting form: request the stop, wait up to 50 x 20 ms, then stop the thread by force.
void stopAcquisition();
// Short form (end of program): request the stop and pause 100 ms.
void stopAcquisitionShort();

// Running totals of this process's acquisition threads, for the VELTRACE_STATS report and for
// tests that must wait for a cycle boundary: cycles completed, bytes passed to the decoder,
// bytes dropped while the display was held, and frames drawn.
struct AcquisitionStats {
    std::uint64_t cycles = 0;
    std::uint64_t bytesDecoded = 0;
    std::uint64_t bytesDropped = 0;
    std::uint64_t framesDrawn = 0;
};
AcquisitionStats acquisitionStats();

// Called on the acquisition thread right after each redraw, with the scope lock held, so tests
// can see what each redraw saw. Set and cleared under the scope lock; empty by default.
void setFrameDrawnHook(std::function<void()> hook);

} // namespace veltrace::link
