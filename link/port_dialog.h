// The modal port selection dialog (window 1).
#pragma once

namespace veltrace::link {

// Shows the dialog until Ok or its close box. A newly chosen port is written to the settings
// file at once and reported through scope.portSelectionChanged. Returns 0.
int runPortDialog();

} // namespace veltrace::link
