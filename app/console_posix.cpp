// Command-line output on POSIX: the standard streams are the terminal's already.
#include "app/console.h"

namespace veltrace::app {

void useStartingConsole() {}

const char* portHelpText() {
    return "Ports: COM1-COM4 are /dev/ttyS0-3, COM5-COM12 /dev/ttyUSB0-7, COM13-COM16 "
           "/dev/ttyACM0-3.\n"
           "An environment variable VELTRACE_COM<n> (n = 1..16) names another device for "
           "COM<n>, for\n"
           "example VELTRACE_COM3=/dev/serial/by-id/usb-... or the path veltrace-sim prints.\n"
           "Opening a serial device needs membership of its group (usually dialout).\n";
}

const char* windowSystemAdvice() {
    return "; run it on a desktop, or under a virtual display (for example: xvfb-run veltrace)";
}

} // namespace veltrace::app
