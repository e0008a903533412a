// Start and end of the toolkit on Qt: the application object and the order in which the layer
// lets go of its objects.
#include "toolkit/core_internal.h"
#include "toolkit/qt_access.h"
#include "toolkit/qt_internal.h"
#include "toolkit/toolkit.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFont>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace veltrace::toolkit {

namespace {

// QApplication keeps references to argc and argv for its whole life.
int appArgc = 1;
char appName[] = "veltrace";
char* appArgv[] = {appName, nullptr};

std::unique_ptr<QApplication> ownedApplication;
bool started = false;

bool environmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

StartFailureHandler startFailureHandler;

// While the application object is being made, Qt's messages are held back: when the platform
// starts they are passed on as usual; when it cannot, Qt ends with a fatal message (and would
// abort), and the program reports that in one line of its own instead.
QtMessageHandler previousHandler = nullptr;
std::vector<std::string> heldMessages;

// What the start tried, for the one line: the platform asked for and the displays named.
std::string whatWasTried() {
    std::string tried;
    const auto add = [&tried](const std::string& part) {
        tried += (tried.empty() ? "" : ", ") + part;
    };
    if (environmentSet("QT_QPA_PLATFORM")) {
        add(std::string("the Qt platform \"") + std::getenv("QT_QPA_PLATFORM") + "\"");
    }
    if (environmentSet("DISPLAY")) {
        add(std::string("the X11 display \"") + std::getenv("DISPLAY") + "\"");
    }
    if (environmentSet("WAYLAND_DISPLAY")) {
        add(std::string("the Wayland display \"") + std::getenv("WAYLAND_DISPLAY") + "\"");
    }
    return tried.empty() ? "the default window system" : tried;
}

void startMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        heldMessages.push_back(text.toLocal8Bit().toStdString());
        (void)context;
        return;
    }
    // The first message names the reason best ("could not connect to display :239").
    std::string description = "no window could be opened on " + whatWasTried();
    const std::string reason =
        heldMessages.empty() ? text.toLocal8Bit().toStdString() : heldMessages.front();
    if (!reason.empty()) {
        description += " (" + reason + ")";
    }
    if (startFailureHandler) {
        startFailureHandler(description);
    }
    // Qt cannot go on from here; end without its abort.
    std::fprintf(stderr, "%s\n", description.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

void setStartFailureHandler(StartFailureHandler handler) {
    startFailureHandler = std::move(handler);
}

namespace qt {

bool ready() {
    return started && QCoreApplication::instance() != nullptr;
}

} // namespace qt

int toolkitInit() {
    if (qt::ready()) {
        return 1;
    }
    if (QCoreApplication::instance() == nullptr) {
        // Without any way to reach a window system Qt would abort inside its constructor; the
        // program wants to say so itself.
        if (!environmentSet("QT_QPA_PLATFORM") && !environmentSet("DISPLAY") &&
            !environmentSet("WAYLAND_DISPLAY")) {
            return 0;
        }
        heldMessages.clear();
        previousHandler = qInstallMessageHandler(startMessageHandler);
        ownedApplication = std::make_unique<QApplication>(appArgc, appArgv);
        qInstallMessageHandler(previousHandler);
        for (const std::string& message : heldMessages) {
            qWarning("%s", message.c_str());
        }
        heldMessages.clear();
        QCoreApplication::setApplicationName(QStringLiteral("Veltrace"));
        // The installed menu entry's name (packaging/org.veltrace.veltrace.desktop): Wayland
        // desktops match a window to its entry, and so to its icon, by this name alone.
        QGuiApplication::setDesktopFileName(QStringLiteral("org.veltrace.veltrace"));
        // The fixed control geometry (a 50-pixel "Timebase:" label, 100-pixel value fields) was
        // laid out for an 8-point dialog font; a desktop's usual 10-point font clips the captions
        // and readouts. 8 points at 96 dpi is 11 pixels: given in pixels so it does not depend
        // on the screen.
        QFont controlFont(QStringLiteral("Arial"));
        controlFont.setPixelSize(11);
        QApplication::setFont(controlFont);
    } else if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return 0; // a console application object cannot host widgets
    }
    qt::controlsBegin();
    qt::pointerTrackingStart();
    qt::terminationWatchStart();
    started = true;
    return 1;
}

int toolkitInitHeadless() {
    if (QCoreApplication::instance() == nullptr) {
        // Qt's own platform without a screen; it still finds fonts through fontconfig, so text
        // comes out as it does in a window at 96 dots per inch.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (!environmentSet("XDG_RUNTIME_DIR")) {
            // Qt asks for it and complains on standard error when it is missing.
            const std::string directory = "/tmp/veltrace-runtime-" + std::to_string(getuid());
            if (mkdir(directory.c_str(), 0700) == 0 || errno == EEXIST) {
                setenv("XDG_RUNTIME_DIR", directory.c_str(), 1);
            }
        }
    }
    return toolkitInit();
}

void toolkitEnd() {
    detail::threadsForgetAll();
    if (started) {
        qt::closeAllWindows();
        qt::controlsEnd();
        qt::fontsFreeAll();
        qt::clearEvents();
        qt::pointerTrackingEnd();
        qt::terminationWatchEnd();
        started = false;
    }
    detail::imagesFreeAll();
    if (ownedApplication) {
        // Reports the platform still holds (a pointer move, a deferred delete) are handled now,
        // while the objects they name still exist; left queued they would be delivered by the
        // next application object with devices and windows that are gone.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // The application object goes too, so the process ends as cleanly as it began and the
    // next toolkitInit (tests run many in one process) starts from a fresh one. Widgets were
    // deleted directly above; nothing waits in a deferred delete.
    ownedApplication.reset();
}

namespace access {

void flushPendingUpdates() {
    if (!qt::ready()) {
        return;
    }
    qt::applyDirtyRecords();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    qt::applyDirtyRecords();
}

void setRecordsAppliedHook(std::function<void()> hook) {
    qt::setRecordsAppliedHook(std::move(hook));
}

} // namespace access

} // namespace veltrace::toolkit
