// A second thread changing controls while the GUI thread waits in eventWait, as the acquisition
// thread does. These run under ThreadSanitizer in CI, and (but for the Qt-only cases) on Win32
// under Wine.
#include "driver/gui_driver.h"
#include "toolkit/toolkit.h"

#ifndef _WIN32
#include "toolkit/qt_access.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#endif

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace veltrace::toolkit {
namespace {

class ThreadedControlRecord : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(toolkitInit(), 1);
        ASSERT_EQ(windowOpen(0, 100, 150, 800, 560, "Threads", WindowFixedCaption), 1);
        imageDisplayCreate(10, 10, 10, 508, 512, 1);
        pushButtonCreate(1, 700, 200, 85, 25, "CAPTURE");
        toggleButtonCreate(15, 700, 120, 85, 25, "HOLD");
        valueTextCreate(19, 590, 70, 100, 20);
    }
    void TearDown() override {
#ifndef _WIN32
        access::setRecordsAppliedHook({});
#endif
        toolkitEnd();
    }
};

#ifndef _WIN32
// Qt only: the clicks come from a hook on Qt's side and a timer of Qt's event loop.
TEST_F(ThreadedControlRecord, TextFromAnotherThreadWakesTheWaitingGuiThread) {
    pushButtonCreate(2, 700, 160, 85, 25, "deadline");
    // Let the new window finish its first paint, so nothing but the worker can end the sleep.
    ASSERT_EQ(eventWait(100), EventNone);
    auto* text = static_cast<QLabel*>(access::controlWidget(19));
    bool clicked = false;
    // Once the GUI thread shows the new text it clicks CAPTURE, which ends the wait. If the
    // worker's change did not wake the sleeping GUI thread, the deadline's click on button 2
    // comes first.
    access::setRecordsAppliedHook([&] {
        if (!clicked && text->text() == QLatin1String("100ms/div")) {
            clicked = true;
            QTest::mouseClick(access::controlWidget(1), Qt::LeftButton);
        }
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout,
                     [] { QTest::mouseClick(access::controlWidget(2), Qt::LeftButton); });
    deadline.start(10000); // the worker needs a tiny fraction of this
    std::thread worker;
    QTimer::singleShot(0, [&] {
        worker = std::thread([] {
            pause(20); // let the GUI thread go back to sleep first
            controlTextSet(19, "100ms/div");
        });
    });

    const int event = eventWait(-1);
    worker.join();
    ASSERT_EQ(event, EventControl);
    EXPECT_EQ(eventControl(), 1);
    EXPECT_EQ(controlTextGet(19), "100ms/div");
}

TEST_F(ThreadedControlRecord, StateFromAnotherThreadIsReadAtOnceAndShownAfterTheWait) {
    std::thread worker([] { controlStateSet(15, 1); });
    worker.join();
    // The record answers before the widget has caught up.
    EXPECT_EQ(controlStateGet(15), 1);
    EXPECT_EQ(eventWait(0), EventNone); // no event from a state set
    EXPECT_TRUE(static_cast<QPushButton*>(access::controlWidget(15))->isChecked());
}
#endif

TEST_F(ThreadedControlRecord, ImageDrawnOnAnotherThreadIsShown) {
    std::thread worker([] {
        if (imageCreate(0, 508, 512) == 0 || drawingBegin(0) == 0) {
            return;
        }
        drawLine(0, 0, 507, 0, rgbColour(0, 255, 255));
        drawingEnd();
        controlStateSet(10, imageHandle(0));
    });
    worker.join();
    EXPECT_EQ(eventWait(10), EventNone);
    // Inside the display's 2-pixel edge: the picture's (0, 0) at the control's (2, 2).
    const Image shown = testing_support::driver::pixels(10);
    ASSERT_EQ(shown.width, 504);
    const auto pixel = [&shown](int x, int y) {
        const std::size_t at = (static_cast<std::size_t>(y) * shown.width + x) * 3;
        return rgbColour(shown.rgb[at], shown.rgb[at + 1], shown.rgb[at + 2]);
    };
    EXPECT_EQ(pixel(0, 0), rgbColour(0, 255, 255));
    EXPECT_EQ(pixel(503, 0), rgbColour(0, 255, 255));
    EXPECT_EQ(pixel(0, 1), rgbColour(0, 0, 0));
}

TEST_F(ThreadedControlRecord, LateCallsAfterToolkitEndDoNothing) {
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread worker([&] {
        while (!stop) {
            controlTextSet(19, rounds % 2 != 0 ? "a" : "b");
            controlStateSet(15, rounds % 2);
            controlHide(19, 0);
            ++rounds;
            pause(1);
        }
    });
    while (rounds < 5) {
        eventWait(5);
    }
    toolkitEnd(); // the worker has not been told to stop yet
    const int before = rounds;
    while (rounds < before + 5) {
        pause(1);
    }
    EXPECT_EQ(controlInfo(19).kind, ControlKind::None);
    EXPECT_EQ(controlTextGet(19), "");
    // A fresh start does not see the old records either.
    ASSERT_EQ(toolkitInit(), 1);
    const int again = rounds;
    while (rounds < again + 5) {
        eventWait(5);
    }
    EXPECT_EQ(controlInfo(19).kind, ControlKind::None);
    stop = true;
    worker.join();
}

} // namespace
} // namespace veltrace::toolkit
