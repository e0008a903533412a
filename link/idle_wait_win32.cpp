// The wake of a wait on a Windows port: one auto-reset event that every wait includes. A wake
// leaves it set until a wait takes it, so a wake is never lost between a reader's last look at
// its stop flag and the start of its wait; at worst a stale one ends one later wait early.
#include "link/idle_wait.h"

#include <windows.h>

namespace veltrace::link {

void* idleWakeEvent() {
    static const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event;
}

void wakeIdleWaits() {
    const HANDLE event = idleWakeEvent();
    if (event != nullptr) {
        SetEvent(event);
    }
}

} // namespace veltrace::link
