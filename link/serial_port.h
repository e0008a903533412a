// Serial port access over termios. COMn names map to device paths (VELTRACE_COM<n> first, then
// a fixed table); nothing else can be opened. The descriptor in portConfig.portHandle is owned
// by whoever holds the port lock, which readPort and closePort take.
#pragma once

#include "app/scope_state.h"

#include <mutex>
#include <string>
#include <termios.h>

namespace veltrace::link {

// Device path for "COM1".."COM16", "" for any other name.
std::string comDevicePath(const std::string& portName);

// Fills scope.comPortNames / comPortCount with the ports that exist (free, busy or not
// accessible), in ascending number.
void probePorts();

// Opens and configures portConfig.portName; returns the handle (> 0) or 0 after showing the
// "info" message box.
int openPort(app::PortConfig& portConfig);
// Drains what has arrived (pieces of at most 256 bytes, up to 1024) into rxBuffer; returns and
// stores the count.
int readPort(app::PortConfig& portConfig);
// Closes the port if open; always returns 0.
int closePort(app::PortConfig& portConfig);

// The termios record that the last successful openPort built and applied (a pseudo-terminal
// keeps CS8 whatever it is given, so tests check what we asked for here).
termios lastAppliedTermios();

// The port lock. It guards portHandle, rxBuffer and rxCount of the port record; readPort,
// closePort and openPort take it themselves (it is recursive, so a holder may call them).
std::recursive_mutex& portLock();

// What opening a device path shows about it without keeping it: missing (no such device or it
// does not answer), free, busy (exclusive open or another Veltrace's lock) or present but not
// accessible to this user.
enum class PortPresence { Missing, Free, Busy, NoAccess };
PortPresence portPresence(const std::string& devicePath);

// Clears a line error condition (the equivalent of clearing comm errors); harmless on a closed
// port.
void clearLineErrors(app::PortConfig& portConfig);

} // namespace veltrace::link
