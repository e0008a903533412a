// Numbered top-level windows: a QWidget whose client area has the requested inner size, with
// the menu bar as a child at the top and the controls in a content widget below it.
//
// Positions: the entry keeps the last known outer top-left. A request sets it at once (Qt only
// reports a new position of a visible window once the platform has moved it), and every move the
// platform reports later (the window manager's placement, the user dragging the window) updates
// it. So windowLeft/windowTop are right straight after windowOpen/windowResize and follow the
// window when the user moves it.
#include "toolkit/core_internal.h"
#include "toolkit/qt_access.h"
#include "toolkit/qt_internal.h"
#include "toolkit/toolkit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMenuBar>
#include <QMoveEvent>
#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <array>
#include <memory>

namespace veltrace::toolkit {

namespace {

using detail::WindowCount;

// Refuses the platform's close (the program decides) and reports it as a close event.
class TopWindow : public QWidget {
  public:
    explicit TopWindow(int number) : number_(number) {}

    qt::WindowEntry* entry = nullptr;

  protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        qt::postEvent(qt::QueuedEvent{EventClose, 0, 0, 0, number_});
    }

    void moveEvent(QMoveEvent* event) override {
        QWidget::moveEvent(event);
        if (entry != nullptr && event->spontaneous()) {
            entry->left = frameGeometry().x();
            entry->top = frameGeometry().y();
        }
    }

  private:
    int number_;
};

std::array<std::unique_ptr<qt::WindowEntry>, WindowCount> windows;
int lastOpened = -1;

bool validWindow(int number) {
    return number >= 0 && number < WindowCount;
}

// Frame sizes (outer minus inner) as the platform reports them for an open window.
int frameExtraWidth(const qt::WindowEntry& entry) {
    return std::max(0, entry.frame->frameGeometry().width() - entry.frame->width());
}

int frameExtraHeight(const qt::WindowEntry& entry) {
    return std::max(0, entry.frame->frameGeometry().height() - entry.frame->height());
}

Qt::WindowFlags flagsFor(int flags) {
    if ((flags & WindowFixedCaption) != 0) {
        return Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
               Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    return Qt::Window;
}

bool platformCanRaise() {
    // The offscreen platform has no stacking order and warns on every raise.
    return QGuiApplication::platformName() != QLatin1String("offscreen");
}

void applySize(qt::WindowEntry& entry) {
    if (entry.fixedSize) {
        entry.frame->setFixedSize(entry.innerWidth, entry.innerHeight);
    } else {
        entry.frame->resize(entry.innerWidth, entry.innerHeight);
    }
    qt::layoutWindow(entry);
}

} // namespace

namespace qt {

WindowEntry* windowEntry(int number) {
    return validWindow(number) ? windows[static_cast<std::size_t>(number)].get() : nullptr;
}

int buildWindow() {
    return windowEntry(lastOpened) != nullptr ? lastOpened : -1;
}

void layoutWindow(WindowEntry& entry) {
    int menuHeight = 0;
    if (entry.menuBar != nullptr) {
        menuHeight = entry.menuBar->heightForWidth(entry.innerWidth);
        if (menuHeight <= 0) {
            menuHeight = entry.menuBar->sizeHint().height();
        }
        menuHeight = std::min(menuHeight, entry.innerHeight);
        entry.menuBar->setGeometry(0, 0, entry.innerWidth, menuHeight);
    }
    entry.content->setGeometry(0, menuHeight, entry.innerWidth,
                               std::max(0, entry.innerHeight - menuHeight));
}

void closeAllWindows() {
    for (int number = 0; number < WindowCount; ++number) {
        windowClose(number);
    }
    lastOpened = -1;
}

} // namespace qt

int windowOpen(int number, int x, int y, int innerWidth, int innerHeight, const std::string& title,
               int flags) {
    if (!qt::ready() || !validWindow(number) || innerWidth < 0 || innerHeight < 0) {
        return 0;
    }
    // The window to centre on is the active one before an old window of this number goes; if
    // that was the active one, the program's other window takes its place, as the platform
    // would activate it.
    int active = -1;
    if ((flags & WindowCentred) != 0) {
        active = foregroundWindowNumber();
        if (active == number) {
            const int other = number == 0 ? 1 : 0;
            active = windowExists(other) != 0 ? other : -1;
        }
    }
    windowClose(number);

    auto entry = std::make_unique<qt::WindowEntry>();
    auto* frame = new TopWindow(number);
    frame->setAttribute(Qt::WA_QuitOnClose, false);
    frame->setWindowFlags(flagsFor(flags));
    frame->setWindowTitle(QString::fromLatin1(title.data(), static_cast<qsizetype>(title.size())));
    entry->frame = frame;
    entry->content = new QWidget(frame);
    entry->innerWidth = innerWidth;
    entry->innerHeight = innerHeight;
    entry->fixedSize = (flags & WindowFixedCaption) != 0;
    applySize(*entry);

    int left = x;
    int top = y;
    if ((flags & WindowCentred) != 0) {
        const qt::WindowEntry* over = qt::windowEntry(active);
        if (over != nullptr) {
            // The new frame is not on screen yet; it gets the same frame as the window it is
            // centred on (both are the program's captioned windows).
            const int outerWidth = innerWidth + frameExtraWidth(*over);
            const int outerHeight = innerHeight + frameExtraHeight(*over);
            left = std::max(0, over->left + (windowOuterWidth(active) - outerWidth) / 2);
            top = std::max(0, over->top + (windowOuterHeight(active) - outerHeight) / 2);
        } else {
            left = 100;
            top = 150;
        }
    }
    entry->left = left;
    entry->top = top;
    frame->move(left, top);
    frame->entry = entry.get();

    windows[static_cast<std::size_t>(number)] = std::move(entry);
    lastOpened = number;
    frame->show();
    return 1;
}

void windowClose(int number) {
    qt::WindowEntry* entry = qt::windowEntry(number);
    if (entry == nullptr) {
        return;
    }
    qt::forgetControlsOfWindow(number);
    qt::forgetMenusOfWindow(number);
    qt::dropEventsOfWindow(number);
    static_cast<TopWindow*>(entry->frame)->entry = nullptr;
    // Deleted directly: deleteLater would wait for an event loop that eventWait never runs.
    delete entry->frame;
    windows[static_cast<std::size_t>(number)].reset();
}

int windowLeft(int number) {
    const qt::WindowEntry* entry = qt::windowEntry(number);
    return entry != nullptr ? entry->left : 0;
}

int windowTop(int number) {
    const qt::WindowEntry* entry = qt::windowEntry(number);
    return entry != nullptr ? entry->top : 0;
}

int windowOuterWidth(int number) {
    const qt::WindowEntry* entry = qt::windowEntry(number);
    return entry != nullptr ? entry->innerWidth + frameExtraWidth(*entry) : 0;
}

int windowOuterHeight(int number) {
    const qt::WindowEntry* entry = qt::windowEntry(number);
    return entry != nullptr ? entry->innerHeight + frameExtraHeight(*entry) : 0;
}

int windowInnerWidth(int number) {
    const qt::WindowEntry* entry = qt::windowEntry(number);
    return entry != nullptr ? entry->innerWidth : 0;
}

int windowInnerHeight(int number) {
    const qt::WindowEntry* entry = qt::windowEntry(number);
    return entry != nullptr ? entry->innerHeight : 0;
}

int windowExists(int number) {
    return qt::windowEntry(number) != nullptr ? 1 : 0;
}

int windowResize(int number, int x, int y, int innerWidth, int innerHeight) {
    qt::WindowEntry* entry = qt::windowEntry(number);
    if (entry == nullptr || innerWidth < 0 || innerHeight < 0) {
        return 0;
    }
    // Neither move nor resize activates or raises a window in Qt.
    entry->innerWidth = innerWidth;
    entry->innerHeight = innerHeight;
    applySize(*entry);
    if (x != KeepCoordinate) {
        entry->left = x;
    }
    if (y != KeepCoordinate) {
        entry->top = y;
    }
    if (entry->frame->frameGeometry().topLeft() != QPoint(entry->left, entry->top)) {
        entry->frame->move(entry->left, entry->top);
    }
    return 1;
}

Handle windowHandle(int number) {
    const qt::WindowEntry* entry = qt::windowEntry(number);
    return entry != nullptr ? reinterpret_cast<Handle>(entry->frame) : 0;
}

int foregroundWindowNumber() {
    if (!qt::ready()) {
        return -1;
    }
    const QWidget* active = QApplication::activeWindow();
    if (active == nullptr) {
        return -1;
    }
    for (int number = 0; number < WindowCount; ++number) {
        const qt::WindowEntry* entry = qt::windowEntry(number);
        if (entry != nullptr && entry->frame == active) {
            return number;
        }
    }
    return -1;
}

void windowSetTopmost(int number, int topmost) {
    qt::WindowEntry* entry = qt::windowEntry(number);
    if (entry == nullptr) {
        return;
    }
    const bool wanted = topmost != 0;
    if (entry->frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == wanted) {
        return;
    }
    // Changing the flags of a visible window hides it; show it again where it was.
    entry->frame->setWindowFlag(Qt::WindowStaysOnTopHint, wanted);
    entry->frame->move(entry->left, entry->top);
    entry->frame->show();
}

int windowTopmost(int number) {
    const qt::WindowEntry* entry = qt::windowEntry(number);
    return entry != nullptr && entry->frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint) ? 1
                                                                                              : 0;
}

void windowRaise(int number) {
    qt::WindowEntry* entry = qt::windowEntry(number);
    if (entry == nullptr) {
        return;
    }
    if (platformCanRaise()) {
        entry->frame->raise();
    }
    entry->frame->activateWindow();
}

void windowEnable(int number, int enabled) {
    qt::WindowEntry* entry = qt::windowEntry(number);
    if (entry != nullptr) {
        entry->frame->setEnabled(enabled != 0);
    }
}

int windowEnabled(int number) {
    const qt::WindowEntry* entry = qt::windowEntry(number);
    return entry != nullptr && entry->frame->isEnabled() ? 1 : 0;
}

void windowIconSet(int number, Handle image) {
    qt::WindowEntry* entry = qt::windowEntry(number);
    const std::shared_ptr<const Image> picture = imageByHandle(image);
    if (entry == nullptr || !picture || picture->width <= 0 || picture->height <= 0) {
        return;
    }
    const QImage view(picture->rgb.data(), picture->width, picture->height, 3 * picture->width,
                      QImage::Format_RGB888);
    const QIcon icon(QPixmap::fromImage(view));
    entry->frame->setWindowIcon(icon);
    // The program has one icon: windows opened later (the About window, the port dialog) get it
    // too, as windows of one class do.
    QApplication::setWindowIcon(icon);
}

namespace access {

QWidget* windowWidget(int number) {
    const qt::WindowEntry* entry = qt::windowEntry(number);
    return entry != nullptr ? entry->frame : nullptr;
}

QWidget* windowContent(int number) {
    const qt::WindowEntry* entry = qt::windowEntry(number);
    return entry != nullptr ? entry->content : nullptr;
}

QMenuBar* windowMenuBar(int number) {
    const qt::WindowEntry* entry = qt::windowEntry(number);
    return entry != nullptr ? entry->menuBar : nullptr;
}

} // namespace access

} // namespace veltrace::toolkit
