// The device link's life as the application sees it: which ports exist, connecting to the one
// the settings file names (and telling the user when it cannot be opened), or to a replay, with
// the port's bytes recorded when asked, and ending the acquisition thread. Only the main thread
// comes here.
#include "app/app.h"
#include "app/controls.h"
#include "app/statistics.h"
#include "link/acquisition.h"
#include "link/idle_wait.h"
#include "link/reconnecting_port.h"
#include "link/recording_sources.h"
#include "link/serial_port.h"
#include "record/recording.h"
#include "state/scope_state.h"
#include "state/settings.h"
#include "toolkit/toolkit.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

namespace veltrace::app {

namespace {

using state::scope;
using Guard = std::lock_guard<std::recursive_mutex>;

// The port of the last connect and the thread reading it. The thread holds its source too, so a
// thread that had to be given up on never reads a closed or reused descriptor.
struct DeviceLink {
    link::PortConfig portConfig;
    std::shared_ptr<link::ReconnectingPort> port; // the live port, opened again when it comes back
    std::shared_ptr<link::ByteSource> source;     // what the thread reads: the port or a replay
    int workerThread = 0;
    std::shared_ptr<record::RecordingWriter> recording; // every byte read from a port goes here
    std::shared_ptr<link::ByteSource> replay;           // taken by the next connect instead
    std::shared_ptr<link::ReplaySource> replaySource;   // the replay, to tell how it ended
    StreamOptions options;
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

void startReading(std::shared_ptr<link::ByteSource> source) {
    device.source = std::move(source);
    device.workerThread = link::startAcquisition(link::AcquisitionJob{
        device.source, [] {
            frameCompleted();
            const int c = scope.currentChannel.load() & 3;
            latencyFrameShown(toolkit::imageHandle(viewImage(currentView(), c)),
                              link::frameReadTime());
        }});
}

} // namespace

void setStreamOptions(StreamOptions options) {
    device.options = std::move(options);
}

bool prepareStream() {
    const StreamOptions& options = device.options;
    std::string error;
    if (!options.recordPath.empty()) {
        std::shared_ptr<record::RecordingWriter> recording = record::RecordingWriter::create(
            options.recordPath,
            options.replaceRecording ? record::RecordingWriter::Existing::Replace
                                     : record::RecordingWriter::Existing::Refuse,
            error);
        if (!recording) {
            std::fprintf(stderr, "veltrace: cannot record: %s%s\n", error.c_str(),
                         options.replaceRecording ? "" : " (--force replaces an existing file)");
            return false;
        }
        const std::string path = options.recordPath;
        recording->setErrorHandler([path](const std::string& why) {
            std::fprintf(stderr,
                         "veltrace: recording to %s stopped: %s; what it holds stays, the window "
                         "goes on\n",
                         path.c_str(), why.c_str());
        });
        device.recording = std::move(recording);
    }
    if (!options.replayPath.empty()) {
        std::unique_ptr<record::RecordingReader> reader =
            record::RecordingReader::open(options.replayPath, error);
        if (!reader) {
            std::fprintf(stderr, "veltrace: cannot replay: %s\n", error.c_str());
            return false;
        }
        device.replaySource =
            std::make_shared<link::ReplaySource>(std::move(reader), options.replaySpeed);
        device.replay = device.replaySource;
    }
    return true;
}

void finishStream() {
    if (device.recording) {
        device.recording->close();
        const record::WriterStatus status = device.recording->status();
        if (status.bytesDropped > 0 && !status.failed) {
            std::fprintf(stderr, "veltrace: %llu bytes did not reach the recording %s in time\n",
                         static_cast<unsigned long long>(status.bytesDropped),
                         device.recording->path().c_str());
        }
        device.recording.reset();
    }
    if (device.replaySource) {
        const std::string ending = device.replaySource->endingText();
        if (!ending.empty()) {
            std::fprintf(stderr, "veltrace: %s: %s\n", device.options.replayPath.c_str(),
                         ending.c_str());
        }
    }
    device.replay.reset();
    device.replaySource.reset();
}

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
    device.source.reset();
    if (device.replay) {
        // The replay stands in for the port until the user chooses one in the port dialog.
        startReading(std::exchange(device.replay, nullptr));
        return;
    }
    if (portName.empty()) {
        return;
    }
    std::shared_ptr<link::SerialPort> opened = link::openPort(device.portConfig);
    if (!opened) {
        // Without the scope lock: the box waits for the user.
        reportUnusablePort(portName);
        return;
    }
    const link::PortConfig config = device.portConfig;
    device.port = std::make_shared<link::ReconnectingPort>(
        std::move(opened),
        [config]() -> std::shared_ptr<link::ByteSource> { return link::openPort(config); });
    if (device.recording) {
        startReading(std::make_shared<link::RecordingTap>(device.port, device.recording));
    } else {
        startReading(device.port);
    }
}

void closePort() {
    if (device.source) {
        device.source->close();
    }
}

void stopAcquisition() {
    link::stopAcquisition(device.workerThread);
}

void stopAcquisitionShort() {
    link::stopAcquisitionShort(device.workerThread);
    device.workerThread = 0;
}

DeviceStatus deviceStatus() {
    DeviceStatus status;
    status.portName = device.portConfig.portName;
    status.open = device.port ? device.port->connected() : device.source != nullptr;
    status.workerThread = device.workerThread;
    return status;
}

void setHoldDisplay(bool held) {
    const std::uint8_t value = held ? 1 : 0;
    if (scope.holdDisplay.exchange(value) != value) {
        link::wakeIdleWaits();
    }
}

} // namespace veltrace::app
