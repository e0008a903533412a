// The program's event queue, shared by both window-system backends: their widget signals or
// window procedures append to it on the GUI thread, and their eventWait hands its events out
// oldest first. The event handed out last is what eventControl, eventType, eventMenuItem and
// eventWindow report.
#pragma once

#include "toolkit/toolkit.h"

namespace veltrace::toolkit::detail {

struct QueuedEvent {
    int code = EventNone;
    int control = 0;
    int type = 0;
    int menuItem = 0;
    int window = -1;
};

// Appends an event to the queue.
void postEvent(const QueuedEvent& event);
// A closed window's pending events go with it.
void dropEventsOfWindow(int window);
// Empties the queue and forgets the event handed out last.
void clearEvents();
bool eventsQueued();

// The ends of eventWait. A request to end, as the event handed out; no event; and the oldest
// queued event, or a request to end once the queue is empty and one is pending.
int handOutTermination();
int handOutNothing();
int handOutNext();

} // namespace veltrace::toolkit::detail
