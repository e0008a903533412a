// What the port names mean on every system: the names, and the probe over them.
#include "link/serial_port.h"

#include <string>
#include <vector>

namespace veltrace::link {

int comPortNumber(const std::string& portName) {
    if (portName.size() < 4 || portName.size() > 5 || portName.compare(0, 3, "COM") != 0) {
        return 0;
    }
    if (portName[3] == '0') { // written without leading zeros
        return 0;
    }
    int number = 0;
    for (std::size_t i = 3; i < portName.size(); ++i) {
        const char c = portName[i];
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number >= 1 && number <= PortCount ? number : 0;
}

std::vector<std::string> probePorts() {
    std::vector<std::string> names;
    for (int n = 1; n <= PortCount; ++n) {
        const std::string name = "COM" + std::to_string(n);
        if (portPresence(comDevicePath(name)) != PortPresence::Missing) {
            names.push_back(name);
        }
    }
    return names;
}

} // namespace veltrace::link
