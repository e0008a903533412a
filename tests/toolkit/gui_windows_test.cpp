// Windows, menus, close requests and the pointer under the offscreen platform.
#include "toolkit/qt_access.h"
#include "toolkit/toolkit.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTest>
#include <QWidget>

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace veltrace::toolkit {
namespace {

class WindowTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(toolkitInit(), 1); }
    void TearDown() override { toolkitEnd(); }

    static void openMain(int height = 560) {
        ASSERT_EQ(windowOpen(0, 100, 150, 800, height, "Veltrace V1.11", WindowFixedCaption), 1);
    }
    static void buildMenu() {
        ASSERT_EQ(menuBarCreate(0), 1);
        menuTitleAdd("File");
        menuItemAdd(1, "COM-Port...");
        menuSeparatorAdd();
        menuItemAdd(7, "&Quit");
        menuTitleAdd("?");
        menuItemAdd(11, "About");
    }
};

using WindowRegistry = WindowTest;

TEST_F(WindowRegistry, OpeningAnOpenNumberClosesTheOldWindowWithItsControls) {
    ASSERT_EQ(windowOpen(1, 0, 0, 300, 300, "About Veltrace V1.11", WindowFixedCaption), 1);
    labelCreate(63, 10, 20, 280, 220, "about", 1);
    const QPointer<QWidget> old = access::windowWidget(1);

    ASSERT_EQ(windowOpen(1, 0, 0, 200, 70, "Select COM-Port", WindowFixedCaption), 1);
    EXPECT_TRUE(old.isNull());
    EXPECT_EQ(controlInfo(63).kind, ControlKind::None);
    EXPECT_EQ(access::controlWidget(63), nullptr);
    EXPECT_EQ(windowInnerWidth(1), 200);
    EXPECT_EQ(QApplication::topLevelWidgets().size(), 1);
}

TEST_F(WindowRegistry, CloseRemovesWindowControlsAndTheirPendingEvents) {
    openMain();
    pushButtonCreate(1, 10, 10, 85, 25, "CAPTURE");
    QTest::mouseClick(access::controlWidget(1), Qt::LeftButton);
    windowClose(0);
    EXPECT_EQ(windowExists(0), 0);
    EXPECT_EQ(controlInfo(1).kind, ControlKind::None);
    EXPECT_EQ(eventWait(0), EventNone);
    // Controls created after their window has gone go nowhere.
    pushButtonCreate(2, 10, 10, 85, 25, "late");
    EXPECT_EQ(controlInfo(2).kind, ControlKind::None);
}

using WindowGeometry = WindowTest;

TEST_F(WindowGeometry, MenuBarTakesItsHeightOutOfTheInnerHeight) {
    openMain();
    buildMenu();
    imageDisplayCreate(10, 10, 10, 508, 512, 1);
    access::flushPendingUpdates();

    QWidget* frame = access::windowWidget(0);
    QWidget* content = access::windowContent(0);
    const int menuHeight = access::windowMenuBar(0)->height();
    ASSERT_GT(menuHeight, 0);
    EXPECT_EQ(frame->size(), QSize(800, 560));
    EXPECT_EQ(windowInnerWidth(0), 800);
    EXPECT_EQ(windowInnerHeight(0), 560);
    EXPECT_EQ(content->geometry(), QRect(0, menuHeight, 800, 560 - menuHeight));
    // Control positions count from the top-left of the area below the menu bar.
    const QPoint corner = access::controlWidget(10)->mapTo(frame, QPoint(0, 0));
    EXPECT_EQ(corner, QPoint(10, 10 + menuHeight));
}

TEST_F(WindowGeometry, OpensAtTheRequestedOuterPositionWithAFixedSize) {
    openMain();
    access::flushPendingUpdates();
    EXPECT_EQ(windowLeft(0), 100);
    EXPECT_EQ(windowTop(0), 150);
    QWidget* frame = access::windowWidget(0);
    EXPECT_EQ(windowOuterWidth(0), frame->frameGeometry().width());
    EXPECT_EQ(windowOuterHeight(0), frame->frameGeometry().height());
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize());
}

TEST_F(WindowGeometry, ResizeKeepsCoordinatesAndCountsTheMenuBarInside) {
    openMain();
    buildMenu();
    const int menuHeight = access::windowMenuBar(0)->height();
    ASSERT_EQ(windowResize(0, KeepCoordinate, KeepCoordinate, 800, 575), 1);
    access::flushPendingUpdates();
    EXPECT_EQ(windowLeft(0), 100);
    EXPECT_EQ(windowTop(0), 150);
    EXPECT_EQ(access::windowWidget(0)->size(), QSize(800, 575));
    EXPECT_EQ(access::windowContent(0)->height(), 575 - menuHeight);
    EXPECT_EQ(windowInnerHeight(0), 575);

    ASSERT_EQ(windowResize(0, 40, KeepCoordinate, 800, 560), 1);
    access::flushPendingUpdates();
    EXPECT_EQ(windowLeft(0), 40);
    EXPECT_EQ(windowTop(0), 150);
    EXPECT_EQ(access::windowWidget(0)->frameGeometry().topLeft(), QPoint(40, 150));
}

TEST_F(WindowGeometry, CentredWindowSitsInTheMiddleOfTheActiveOne) {
    openMain();
    windowRaise(0);
    access::flushPendingUpdates();
    ASSERT_EQ(foregroundWindowNumber(), 0);
    ASSERT_EQ(windowOpen(1, 0, 0, 300, 300, "About", WindowFixedCaption | WindowCentred), 1);
    const int expectedLeft = 100 + (windowOuterWidth(0) - windowOuterWidth(1)) / 2;
    const int expectedTop = 150 + (windowOuterHeight(0) - windowOuterHeight(1)) / 2;
    EXPECT_EQ(windowLeft(1), expectedLeft);
    EXPECT_EQ(windowTop(1), expectedTop);
    access::flushPendingUpdates();
    EXPECT_EQ(access::windowWidget(1)->frameGeometry().topLeft(),
              QPoint(expectedLeft, expectedTop));
}

TEST_F(WindowGeometry, CentringIsClampedAtTheScreenOrigin) {
    ASSERT_EQ(windowOpen(0, 0, 0, 100, 100, "small", WindowFixedCaption), 1);
    windowRaise(0);
    access::flushPendingUpdates();
    ASSERT_EQ(foregroundWindowNumber(), 0);
    ASSERT_EQ(windowOpen(1, 0, 0, 300, 300, "About", WindowFixedCaption | WindowCentred), 1);
    EXPECT_EQ(windowLeft(1), 0);
    EXPECT_EQ(windowTop(1), 0);
}

TEST_F(WindowGeometry, CentredWithoutAnActiveWindowOpensAtTheDefaultPlace) {
    ASSERT_EQ(foregroundWindowNumber(), -1);
    ASSERT_EQ(windowOpen(1, 5, 5, 300, 300, "About", WindowFixedCaption | WindowCentred), 1);
    EXPECT_EQ(windowLeft(1), 100);
    EXPECT_EQ(windowTop(1), 150);
}

using WindowOrder = WindowTest;

TEST_F(WindowOrder, ResizeDoesNotActivate) {
    openMain();
    ASSERT_EQ(windowOpen(1, 400, 350, 200, 70, "Select COM-Port", WindowFixedCaption), 1);
    windowRaise(1);
    access::flushPendingUpdates();
    ASSERT_EQ(foregroundWindowNumber(), 1);

    windowResize(0, KeepCoordinate, KeepCoordinate, 800, 575);
    access::flushPendingUpdates();
    EXPECT_EQ(foregroundWindowNumber(), 1);
}

TEST_F(WindowOrder, TopmostAndEnabledStates) {
    openMain();
    ASSERT_EQ(windowOpen(1, 400, 350, 200, 70, "Select COM-Port", WindowFixedCaption), 1);
    windowSetTopmost(1, 1);
    windowEnable(0, 0);
    access::flushPendingUpdates();
    EXPECT_EQ(windowTopmost(1), 1);
    EXPECT_TRUE(access::windowWidget(1)->isVisible());
    EXPECT_EQ(windowLeft(1), 400);
    EXPECT_EQ(windowEnabled(0), 0);
    EXPECT_FALSE(access::windowWidget(0)->isEnabled());

    windowSetTopmost(1, 0);
    windowEnable(0, 1);
    EXPECT_EQ(windowTopmost(1), 0);
    EXPECT_EQ(windowEnabled(0), 1);
}

TEST_F(WindowOrder, ProgramIconGoesToTheWindowAndToWindowsOpenedLater) {
    openMain();
    ASSERT_EQ(imageCreate(4, 16, 16), 1);
    ASSERT_EQ(drawingBegin(4), 1);
    for (int y = 0; y < 16; ++y) {
        drawLine(0, y, 15, y, rgbColour(200, 40, 0));
    }
    drawingEnd();
    windowIconSet(0, imageHandle(4));
    ASSERT_EQ(windowOpen(1, 400, 350, 300, 300, "About", WindowFixedCaption), 1);

    for (int number : {0, 1}) {
        const QImage icon = access::windowWidget(number)->windowIcon().pixmap(16, 16).toImage();
        ASSERT_FALSE(icon.isNull()) << "window " << number;
        EXPECT_EQ(icon.pixelColor(8, 8), QColor(200, 40, 0)) << "window " << number;
    }
}

// Wayland desktops match a running program to its menu entry, and so to its icon, by the desktop
// file name alone: it must be the entry the package installs.
using MenuEntry = WindowTest;

TEST_F(MenuEntry, DesktopFileNameIsTheInstalledOne) {
    const std::string name = QGuiApplication::desktopFileName().toStdString();
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(std::filesystem::is_regular_file(std::string(VELTRACE_PACKAGING_DIR) + "/" + name +
                                                 ".desktop"))
        << "no packaging/" << name << ".desktop";
}

using CloseRequest = WindowTest;

TEST_F(CloseRequest, CloseBoxReportsTheWindowAndLeavesItOpen) {
    openMain();
    ASSERT_EQ(windowOpen(1, 400, 350, 300, 300, "About", WindowFixedCaption), 1);
    EXPECT_FALSE(access::windowWidget(1)->close()); // what the platform's close box does

    ASSERT_EQ(eventWait(1000), EventClose);
    EXPECT_EQ(eventWindow(), 1);
    EXPECT_EQ(windowExists(1), 1);
    EXPECT_TRUE(access::windowWidget(1)->isVisible());
}

using MenuBar = WindowTest;

TEST_F(MenuBar, TriggeredItemIsAMenuEventWithItsNumber) {
    openMain();
    buildMenu();
    QAction* quit = access::menuItemAction(7);
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(quit->text(), QString("&Quit"));
    quit->trigger();
    access::menuItemAction(11)->trigger();

    ASSERT_EQ(eventWait(1000), EventMenu);
    EXPECT_EQ(eventMenuItem(), 7);
    ASSERT_EQ(eventWait(1000), EventMenu);
    EXPECT_EQ(eventMenuItem(), 11);
}

using Pointer = WindowTest;

TEST_F(Pointer, CoordinatesAreRelativeToTheAreaBelowTheMenuBar) {
    openMain();
    buildMenu();
    QWidget* content = access::windowContent(0);
    access::flushPendingUpdates();

    // (Qt Test reads a null point as the widget's centre, so the origin is addressed through
    // the window.)
    QTest::mouseMove(access::windowWidget(0),
                     content->mapTo(access::windowWidget(0), QPoint(0, 0)));
    EXPECT_EQ(pointerX(0), 0);
    EXPECT_EQ(pointerY(0), 0);

    QTest::mouseMove(content, QPoint(37, 45));
    EXPECT_EQ(pointerX(0), 37);
    EXPECT_EQ(pointerY(0), 45);

    const int lastColumn = content->width() - 1;
    const int lastRow = content->height() - 1;
    QTest::mouseMove(content, QPoint(lastColumn - 1, lastRow - 1));
    EXPECT_EQ(pointerX(0), lastColumn - 1);
    EXPECT_EQ(pointerY(0), lastRow - 1);
}

TEST_F(Pointer, LeftOfTheAreaIsMinusOne) {
    ASSERT_EQ(windowOpen(0, 300, 150, 200, 100, "Veltrace", WindowFixedCaption), 1);
    access::flushPendingUpdates();
    // Left of the area but level with one of its rows: the position is outside, so both
    // readings are -1, not only the one of the axis it left on.
    QCursor::setPos(QPoint(250, 200));
    EXPECT_EQ(pointerX(0), -1);
    EXPECT_EQ(pointerY(0), -1);
}

TEST_F(Pointer, MinusOneOnTheLastColumnAndRowAndBeyond) {
    openMain();
    buildMenu();
    QWidget* content = access::windowContent(0);
    access::flushPendingUpdates();

    QTest::mouseMove(content, QPoint(content->width() - 1, content->height() - 1));
    EXPECT_EQ(pointerX(0), -1);
    EXPECT_EQ(pointerY(0), -1);
    // Below the area within its columns, and over the menu bar (above the area): outside,
    // so the column reads -1 as well.
    QTest::mouseMove(content, QPoint(content->width() - 2, content->height() + 3));
    EXPECT_EQ(pointerX(0), -1);
    EXPECT_EQ(pointerY(0), -1);
    QTest::mouseMove(access::windowMenuBar(0), QPoint(5, 2));
    EXPECT_EQ(pointerX(0), -1);
    EXPECT_EQ(pointerY(0), -1);
    // Back inside, the last column but one and the last row but one are ordinary positions.
    QTest::mouseMove(content, QPoint(content->width() - 2, content->height() - 2));
    EXPECT_EQ(pointerX(0), content->width() - 2);
    EXPECT_EQ(pointerY(0), content->height() - 2);
}

TEST_F(Pointer, FollowsMouseEventsDeliveredToWidgets) {
    openMain();
    imageDisplayCreate(10, 10, 10, 508, 512, 1);
    QWidget* display = access::controlWidget(10);
    // A press and a move with the button held go to the widget as events, not through the
    // platform's cursor.
    QTest::mousePress(display, Qt::LeftButton, {}, QPoint(100, 40));
    EXPECT_EQ(pointerX(0), 110);
    EXPECT_EQ(pointerY(0), 50);
    QTest::mouseMove(display, QPoint(120, 60));
    QTest::mouseRelease(display, Qt::LeftButton, {}, QPoint(120, 60));
    EXPECT_EQ(pointerX(0), 130);
    EXPECT_EQ(pointerY(0), 70);
}

} // namespace
} // namespace veltrace::toolkit
