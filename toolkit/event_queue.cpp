// The program's event queue (see event_queue.h). GUI thread only.
#include "toolkit/event_queue.h"

#include <deque>

namespace veltrace::toolkit {

namespace {

std::deque<detail::QueuedEvent> queue;
detail::QueuedEvent lastEvent;

} // namespace

namespace detail {

void postEvent(const QueuedEvent& event) {
    queue.push_back(event);
}

void dropEventsOfWindow(int window) {
    std::erase_if(queue, [window](const QueuedEvent& event) { return event.window == window; });
}

void clearEvents() {
    queue.clear();
    lastEvent = QueuedEvent{};
}

bool eventsQueued() {
    return !queue.empty();
}

int handOutTermination() {
    lastEvent = QueuedEvent{EventTerminate, 0, 0, 0, -1};
    return EventTerminate;
}

int handOutNothing() {
    lastEvent = QueuedEvent{};
    return EventNone;
}

int handOutNext() {
    if (queue.empty()) {
        return terminationRequested() ? handOutTermination() : handOutNothing();
    }
    lastEvent = queue.front();
    queue.pop_front();
    return lastEvent.code;
}

} // namespace detail

int eventControl() {
    return lastEvent.control;
}
int eventType() {
    return lastEvent.type;
}
int eventMenuItem() {
    return lastEvent.menuItem;
}
int eventWindow() {
    return lastEvent.window;
}

} // namespace veltrace::toolkit
