// The event queue and eventWait, on Qt's offscreen platform and on Win32 under Wine: the
// program's events come from what the test driver does as a person would.
#include "driver/gui_driver.h"
#include "toolkit/toolkit.h"

#ifndef _WIN32
#include "toolkit/qt_access.h"

#include <QTest>
#include <QTimer>
#endif

#include <gtest/gtest.h>

namespace veltrace::toolkit {
namespace {

class EventQueue : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(toolkitInit(), 1);
        ASSERT_EQ(windowOpen(0, 100, 150, 400, 300, "Events", WindowFixedCaption), 1);
        ASSERT_EQ(menuBarCreate(0), 1);
        menuTitleAdd("File");
        menuItemAdd(7, "&Quit");
        pushButtonCreate(1, 10, 10, 85, 25, "CAPTURE");
        toggleButtonCreate(15, 10, 40, 85, 25, "HOLD");
    }
    void TearDown() override { toolkitEnd(); }
};

TEST_F(EventQueue, EventsComeOutOldestFirstWithTheirDetails) {
    namespace drive = testing_support::driver;
    drive::click(15);
    drive::chooseMenuItem(7);
    drive::closeWindow(0);
    drive::click(1);

    ASSERT_EQ(eventWait(0), EventControl);
    EXPECT_EQ(eventControl(), 15);
    ASSERT_EQ(eventWait(0), EventMenu);
    EXPECT_EQ(eventMenuItem(), 7);
    ASSERT_EQ(eventWait(0), EventClose);
    EXPECT_EQ(eventWindow(), 0);
    ASSERT_EQ(eventWait(0), EventControl);
    EXPECT_EQ(eventControl(), 1);
    EXPECT_EQ(eventWait(0), EventNone);
}

TEST_F(EventQueue, TimedWaitWithNothingHappeningReturnsNone) {
    EXPECT_EQ(eventWait(30), EventNone);
    EXPECT_EQ(eventWait(0), EventNone);
}

#ifndef _WIN32
// Qt only: the click is made by a timer of Qt's event loop, inside the wait.
TEST_F(EventQueue, WaitReturnsForAPlatformEventThatArrivesWhileWaiting) {
    // The click happens inside the wait, delivered by Qt's own event processing.
    QTimer::singleShot(5, [] { QTest::mouseClick(access::controlWidget(1), Qt::LeftButton); });
    ASSERT_EQ(eventWait(-1), EventControl);
    EXPECT_EQ(eventControl(), 1);
}
#endif

} // namespace
} // namespace veltrace::toolkit
