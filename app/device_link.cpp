// The device link's life as the application sees it: which ports exist, connecting to the one
// the settings file names (and telling the user when it cannot be opened), and ending the
// acquisition thread. Only the main thread comes here.
#include "app/app.h"
#include "app/controls.h"
#include "app/statistics.h"
#include "link/acquisition.h"
#include "link/serial_port.h"
#include "state/scope_state.h"
#include "state/settings.h"
#include "toolkit/toolkit.h"

#include <memory>
#include <mutex>

namespace veltrace::app {

namespace {

using state::scope;
using Guard = std::lock_guard<std::recursive_mutex>;

// The port of the last connect and the thread reading it. The thread holds the port too, so a
// thread that had to be given up on never reads a closed or reused descriptor.
struct DeviceLink {
    link::PortConfig portConfig;
    std::shared_ptr<link::SerialPort> port;
    int workerThread = 0;
};

DeviceLink device;

// A name edited into the settings file by hand can be up to 254 characters long; the box shows
// its start and end, so it keeps a sensible width and still says which setting is meant.
constexpr std::size_t LongestShownName = 40;

} // namespace

std::string shownPortName(const std::string& portName) {
    if (portName.size() <= LongestShownName) {
        return portName;
    }
    const std::size_t head = LongestShownName - 13;
    return portName.substr(0, head) + "..." + portName.substr(portName.size() - 10);
}

namespace {

void reportUnusablePort(const std::string& portName) {
    toolkit::messageBox("info",
                        "Com Port " + shownPortName(portName) +
                            " not available or busy. Use 'File'/'COM Port' on the menu to setup "
                            "your ports.",
                        toolkit::MessageBoxOkExclamation);
}

} // namespace

void probePorts() {
    const std::vector<std::string> found = link::probePorts();
    Guard guard(state::scopeLock());
    scope.comPortNames.fill(std::string());
    std::size_t count = 0;
    for (const std::string& name : found) {
        if (count < scope.comPortNames.size()) {
            scope.comPortNames[count++] = name;
        }
    }
    scope.comPortCount = static_cast<std::uint8_t>(count);
}

void connectDevice() {
    std::string settingsPath;
    {
        Guard guard(state::scopeLock());
        settingsPath = scope.settingsPath;
    }
    const std::string portName = state::readSetting("COM", "COMPort", settingsPath);
    {
        Guard guard(state::scopeLock());
        scope.comPortName = portName;
    }
    device.portConfig.portName = portName;
    device.port.reset();
    if (portName.empty()) {
        return;
    }
    device.port = link::openPort(device.portConfig);
    if (!device.port) {
        // Without the scope lock: the box waits for the user.
        reportUnusablePort(portName);
        return;
    }
    device.workerThread = link::startAcquisition(link::AcquisitionJob{
        device.port, [] {
            redrawCurrentView();
            const int c = scope.currentChannel.load() & 3;
            latencyFrameShown(toolkit::imageHandle(viewImage(currentView(), c)),
                              link::frameReadTime());
        }});
}

void closePort() {
    if (device.port) {
        device.port->close();
    }
}

void stopAcquisition() {
    link::stopAcquisition(device.workerThread);
}

void stopAcquisitionShort() {
    link::stopAcquisitionShort();
}

DeviceStatus deviceStatus() {
    DeviceStatus status;
    status.portName = device.portConfig.portName;
    status.open = device.port && device.port->isOpen();
    status.workerThread = device.workerThread;
    return status;
}

} // namespace veltrace::app
