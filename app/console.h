// What the command-line options need from the platform: a console to print to, and how COM
// names map to devices there.
#pragma once

namespace veltrace::app {

// Makes stdout and stderr reach the console the program was started from. (The Windows program
// is a GUI program and has none of its own; elsewhere this does nothing.)
void useStartingConsole();

// The "Ports:" paragraph of --help.
const char* portHelpText();

// What follows the one line that says no window could be opened: where to run the program.
const char* windowSystemAdvice();

} // namespace veltrace::app
