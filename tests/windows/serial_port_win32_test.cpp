// The Windows serial port's names and outcomes that need no device: only COM1..COM16 map to a
// device name, in the "\\.\COMn" form that also reaches COM10 and above; a port that is not
// there is neither listed nor opened.
#include "link/serial_port.h"

#include <gtest/gtest.h>

namespace {

using namespace veltrace::link;

PortConfig configFor(const std::string& name) {
    PortConfig config;
    config.portName = name;
    return config;
}

TEST(SerialPortWin32, MapsOnlyComOneToSixteenToDeviceNames) {
    EXPECT_EQ(comDevicePath("COM1"), "\\\\.\\COM1");
    EXPECT_EQ(comDevicePath("COM16"), "\\\\.\\COM16");
    for (const char* name : {"COM0", "COM17", "COM01", "com3", "COM3:", "LPT1", "", "C:\\x"}) {
        EXPECT_EQ(comDevicePath(name), "") << name;
        EXPECT_EQ(openPort(configFor(name)), nullptr) << name;
    }
}

TEST(SerialPortWin32, AMissingPortIsNotListedAndDoesNotOpen) {
    // COM16 is mapped to nothing in the test prefix.
    EXPECT_EQ(portPresence(comDevicePath("COM16")), PortPresence::Missing);
    EXPECT_EQ(openPort(configFor("COM16")), nullptr);
    for (const std::string& name : probePorts()) {
        EXPECT_NE(name, "COM16");
    }
}

} // namespace
