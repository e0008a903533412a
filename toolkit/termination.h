// Internal to the toolkit: how a window backend learns of a request to end the program.
#pragma once

namespace veltrace::toolkit::detail {

// A descriptor that becomes readable when a request to end arrives (-1 where there is none).
int terminationWakeDescriptor();
// Empties it again.
void terminationWakeDrain();

} // namespace veltrace::toolkit::detail
