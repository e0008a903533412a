// eventWait and the pointer position on Qt.
//
// Widget signals append to the program's event queue (event_queue.h) on the GUI thread; eventWait
// hands the events out oldest first. While the queue is empty it lets Qt wait for platform events
// (sleeping, not spinning) until one of them produces a program event, the time-out timer fires,
// or a worker thread wakes the dispatcher after changing the control record.
#include "toolkit/qt_internal.h"
#include "toolkit/termination.h"
#include "toolkit/toolkit.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QEventLoop>
#include <QMouseEvent>
#include <QObject>
#include <QPoint>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace veltrace::toolkit {

namespace {

// Where the pointer is. The platform's cursor position is the truth where the platform knows
// it; a platform without a real pointer (offscreen, as in the tests) only knows positions set
// through QCursor::setPos, while mouse events can be delivered to widgets directly. So we also
// remember the global position of the last mouse event any of our widgets saw, together with
// the platform's cursor position at that moment: when the platform's position has moved since,
// it is the newer information; otherwise the event's position is.
class PointerTracker : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            if (watched->isWidgetType()) {
                seen = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
                platformAtSeen = QCursor::pos();
                haveSeen = true;
            }
            break;
        default:
            break;
        }
        return false;
    }

    QPoint position() const {
        const QPoint platform = QCursor::pos();
        if (!haveSeen || platform != platformAtSeen) {
            return platform;
        }
        return seen;
    }

  private:
    QPoint seen;
    QPoint platformAtSeen;
    bool haveSeen = false;
};

std::unique_ptr<PointerTracker> tracker;

// Watches the descriptor a request to end makes readable: the wait wakes, a message box that is
// open closes, and eventWait reports the request.
std::unique_ptr<QSocketNotifier> terminationWatch;

// -1 (both readings) whenever the pointer is outside the area: left of or above it, or on or
// beyond its last column or row (the last column and row count as its edge, as on the platform
// the program was first written for). One rule for the position, so a pointer beside the window
// does not pass its height off as a row of the picture.
int pointerCoordinate(int window, bool horizontal) {
    if (!qt::ready()) {
        return 0;
    }
    qt::WindowEntry* entry = qt::windowEntry(window);
    if (entry == nullptr) {
        return 0;
    }
    const QPoint global = tracker ? tracker->position() : QCursor::pos();
    const QPoint local = entry->content->mapFromGlobal(global);
    const bool inside = local.x() >= 0 && local.y() >= 0 &&
                        local.x() < entry->content->width() - 1 &&
                        local.y() < entry->content->height() - 1;
    if (!inside) {
        return -1;
    }
    return horizontal ? local.x() : local.y();
}

} // namespace

namespace qt {

void pointerTrackingStart() {
    if (!tracker) {
        tracker = std::make_unique<PointerTracker>();
        QCoreApplication::instance()->installEventFilter(tracker.get());
    }
}

void terminationWatchStart() {
    const int descriptor = detail::terminationWakeDescriptor();
    if (terminationWatch || descriptor < 0) {
        return;
    }
    terminationWatch = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    QObject::connect(terminationWatch.get(), &QSocketNotifier::activated, [] {
        detail::terminationWakeDrain();
        closeOpenMessageBox();
    });
}

void terminationWatchEnd() {
    terminationWatch.reset();
}

void pointerTrackingEnd() {
    if (tracker) {
        if (QCoreApplication::instance() != nullptr) {
            QCoreApplication::instance()->removeEventFilter(tracker.get());
        }
        tracker.reset();
    }
}

} // namespace qt

int eventWait(int timeoutMs) {
    if (terminationRequested()) {
        return detail::handOutTermination();
    }
    if (!qt::ready()) {
        return detail::handOutNothing();
    }
    qt::applyDirtyRecords();
    if (!detail::eventsQueued()) {
        if (timeoutMs == 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            qt::applyDirtyRecords();
        } else {
            // processEvents with a time argument never sleeps; WaitForMoreEvents does, and the
            // single-shot timer (or a worker's wake-up) ends each sleep.
            bool expired = false;
            QTimer timer;
            if (timeoutMs > 0) {
                timer.setSingleShot(true);
                timer.setTimerType(Qt::PreciseTimer);
                QObject::connect(&timer, &QTimer::timeout, [&expired] { expired = true; });
                timer.start(timeoutMs);
            }
            while (!detail::eventsQueued() && !expired && qt::ready() && !terminationRequested()) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                qt::applyDirtyRecords();
            }
        }
    }
    return detail::handOutNext();
}

int pointerX(int window) {
    return pointerCoordinate(window, true);
}
int pointerY(int window) {
    return pointerCoordinate(window, false);
}

} // namespace veltrace::toolkit
