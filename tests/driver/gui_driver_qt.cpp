// The GUI test driver on Qt: real mouse events through QTest, pixels through QWidget::grab.
#include "driver/gui_driver.h"
#include "toolkit/qt_access.h"

#include <QAbstractButton>
#include <QAction>
#include <QCursor>
#include <QFrame>
#include <QImage>
#include <QPixmap>
#include <QTest>
#include <QWidget>

namespace veltrace::testing_support::driver {

void settle() {
    toolkit::access::flushPendingUpdates();
}

void click(int control) {
    if (QWidget* widget = toolkit::access::controlWidget(control)) {
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
    }
    settle();
}

void clickAt(int control, int x, int y) {
    if (QWidget* widget = toolkit::access::controlWidget(control)) {
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    }
    settle();
}

void doubleClickAt(int control, int x, int y) {
    if (QWidget* widget = toolkit::access::controlWidget(control)) {
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
        QTest::mouseDClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    }
    settle();
}

void movePointer(int window, int x, int y) {
    if (QWidget* content = toolkit::access::windowContent(window)) {
        QCursor::setPos(content->mapToGlobal(QPoint(x, y)));
        // Qt Test reads a null point as the widget's centre: the area's origin is addressed
        // through the window, where it lies below the menu bar.
        QWidget* frame = toolkit::access::windowWidget(window);
        const QPoint inFrame = frame != nullptr ? content->mapTo(frame, QPoint(x, y)) : QPoint();
        if (QPoint(x, y).isNull() && !inFrame.isNull()) {
            QTest::mouseMove(frame, inFrame);
        } else {
            QTest::mouseMove(content, QPoint(x, y));
        }
    }
    settle();
}

void chooseMenuItem(int item) {
    if (QAction* action = toolkit::access::menuItemAction(item)) {
        action->trigger();
    }
    settle();
}

void closeWindow(int window) {
    if (QWidget* frame = toolkit::access::windowWidget(window)) {
        frame->close();
    }
    settle();
}

int areaHeight(int window) {
    const QWidget* content = toolkit::access::windowContent(window);
    return content != nullptr ? content->height() : 0;
}

bool shown(int control) {
    const QWidget* widget = toolkit::access::controlWidget(control);
    return widget != nullptr && widget->isVisible();
}

int checked(int control) {
    const auto* button =
        qobject_cast<const QAbstractButton*>(toolkit::access::controlWidget(control));
    if (button == nullptr || !button->isCheckable()) {
        return -1;
    }
    return button->isChecked() ? 1 : 0;
}

toolkit::Image pixels(int control) {
    QWidget* widget = toolkit::access::controlWidget(control);
    if (widget == nullptr) {
        return {};
    }
    settle();
    QRect inside = widget->rect();
    if (const auto* frame = qobject_cast<QFrame*>(widget)) {
        inside = frame->contentsRect();
    }
    // Pixel by pixel rather than through convertToFormat: Qt converts large pictures on its
    // thread pool, which ThreadSanitizer (Qt is not built for it) reports as a race.
    const QImage grabbed = widget->grab(inside).toImage();
    toolkit::Image image;
    image.width = grabbed.width();
    image.height = grabbed.height();
    image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
    std::size_t at = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const QRgb pixel = grabbed.pixel(x, y);
            image.rgb[at++] = static_cast<std::uint8_t>(qRed(pixel));
            image.rgb[at++] = static_cast<std::uint8_t>(qGreen(pixel));
            image.rgb[at++] = static_cast<std::uint8_t>(qBlue(pixel));
        }
    }
    return image;
}

} // namespace veltrace::testing_support::driver
