#include "link/port_survey.h"

#include "link/decoder.h"
#include "link/frame_log.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <array>
#include <chrono>
#include <memory>

namespace veltrace::link {

namespace {

struct Listener {
    std::size_t index = 0;
    std::shared_ptr<SerialPort> port;
    FrameDecoder decoder;
    state::ChannelData channel;
};

constexpr int ListenStepMs = 10;

} // namespace

std::vector<PortSurvey> surveyPorts(int listenMs) {
    std::vector<PortSurvey> survey;
    for (int n = 1; n <= PortCount; ++n) {
        PortSurvey entry;
        entry.portName = "COM" + std::to_string(n);
        entry.devicePath = comDevicePath(entry.portName);
        entry.presence = portPresence(entry.devicePath);
        survey.push_back(entry);
    }
    // Presence first, for every name, so two names of one device both read as free rather than
    // the second as busy because we hold it.
    std::vector<Listener> listeners;
    for (std::size_t i = 0; i < survey.size(); ++i) {
        if (survey[i].presence != PortPresence::Free) {
            continue;
        }
        PortConfig config;
        config.portName = survey[i].portName;
        Listener listener;
        listener.index = i;
        listener.port = openPort(config);
        if (listener.port) {
            listeners.push_back(std::move(listener));
        }
    }
    std::array<std::uint8_t, 1024> buffer{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(listenMs);
    std::size_t listening = listeners.size();
    while (listening > 0) {
        for (Listener& listener : listeners) {
            if (!listener.port) {
                continue;
            }
            const ReadResult got = listener.port->readAvailable(buffer);
            for (std::size_t b = 0; b < got.count; ++b) {
                if (decodeFrameByte(listener.decoder, buffer[b], listener.channel) == 1 &&
                    frameIsWhole(listener.decoder, listener.channel)) {
                    survey[listener.index].scope = true;
                    break;
                }
            }
            if (survey[listener.index].scope || got.deviceLost) {
                listener.port->close();
                listener.port.reset();
                --listening;
            }
        }
        if (listening == 0 || std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        toolkit::pause(ListenStepMs);
    }
    for (Listener& listener : listeners) {
        if (listener.port) {
            listener.port->close();
        }
    }
    return survey;
}

std::string firstScopePort(const std::vector<PortSurvey>& survey) {
    for (const PortSurvey& entry : survey) {
        if (entry.scope) {
            return entry.portName;
        }
    }
    return "";
}

} // namespace veltrace::link
