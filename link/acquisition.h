// The acquisition thread and the two operations that connect and disconnect the device link.
#pragma once

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

} // namespace veltrace::link
