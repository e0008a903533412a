// Windows ports read with time-outs that return at once and are not waited on (an overlapped
// WaitCommEvent would be the way), so the reader keeps its plain cycle and there is nothing to
// wake.
#include "link/idle_wait.h"

namespace veltrace::link {

void wakeIdleWaits() {}

} // namespace veltrace::link
