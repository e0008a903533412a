// Which port the scope is on: every COM name with its device and presence, and a short listen on
// each free one for a whole frame.
#pragma once

#include "link/serial_port.h"

#include <string>
#include <vector>

namespace veltrace::link {

struct PortSurvey {
    std::string portName;   // "COM1".."COM16"
    std::string devicePath; // what the name maps to
    PortPresence presence = PortPresence::Missing;
    bool scope = false; // a whole frame arrived while we listened
};

// COM1..COM16 in order. Every port that is present and free is opened for our exclusive use at
// 19200 7N1 and listened to, all at once, for up to `listenMs` (less when every one has shown a
// whole frame); those on which one arrived are marked. Ports that are missing, held by another
// program or not accessible are never opened.
std::vector<PortSurvey> surveyPorts(int listenMs = 500);

// The first COM name on which the survey heard the scope, "" when none.
std::string firstScopePort(const std::vector<PortSurvey>& survey);

} // namespace veltrace::link
