// Message boxes, opening documents, and the start and end of the toolkit.
#include "toolkit/qt_access.h"
#include "toolkit/toolkit.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace veltrace::toolkit {
namespace {

class ShellTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(toolkitInit(), 1); }
    void TearDown() override {
        setMessageBoxHook({});
        setOpenDocumentHook({});
        toolkitEnd();
    }
};

using MessageBox = ShellTest;

TEST_F(MessageBox, HookReceivesCaptionTextAndFlags) {
    std::string caption, text;
    int flags = -1;
    setMessageBoxHook([&](const std::string& c, const std::string& t, int f) {
        caption = c;
        text = t;
        flags = f;
        return 7;
    });
    EXPECT_EQ(messageBox("info", "Com Port COM3 not available or busy.", MessageBoxOkExclamation),
              7);
    EXPECT_EQ(caption, "info");
    EXPECT_EQ(text, "Com Port COM3 not available or busy.");
    EXPECT_EQ(flags, MessageBoxOkExclamation);
}

TEST_F(MessageBox, ShownBoxIsAWarningAndTopmostWindowsStepBackMeanwhile) {
    ASSERT_EQ(windowOpen(0, 100, 150, 800, 560, "Veltrace", WindowFixedCaption), 1);
    ASSERT_EQ(windowOpen(1, 400, 350, 200, 70, "Select COM-Port", WindowFixedCaption), 1);
    windowSetTopmost(1, 1);

    std::optional<int> topmostWhileShown;
    QString shownText;
    std::optional<QMessageBox::Icon> shownIcon;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        topmostWhileShown = windowTopmost(1);
        shownText = box->text();
        shownIcon = box->icon();
        box->accept();
    });
    EXPECT_EQ(messageBox("info", "Com Port COM9 not available", MessageBoxOkExclamation), 1);

    ASSERT_TRUE(topmostWhileShown.has_value()) << "no modal message box was shown";
    EXPECT_EQ(*topmostWhileShown, 0);
    EXPECT_EQ(shownText, QString("Com Port COM9 not available"));
    EXPECT_EQ(shownIcon, QMessageBox::Warning);
    EXPECT_EQ(windowTopmost(1), 1);
    EXPECT_EQ(windowExists(1), 1);
}

// The start and end of the layer, as the program and the tests run them many times.
using ToolkitLifecycle = ShellTest;

TEST_F(ToolkitLifecycle, EndForgetsWindowsControlsFontsAndEvents) {
    ASSERT_EQ(windowOpen(0, 100, 150, 400, 300, "Veltrace", WindowFixedCaption), 1);
    pushButtonCreate(1, 10, 10, 85, 25, "CAPTURE");
    ASSERT_EQ(fontLoad(1, "Arial", 8), 1);
    ASSERT_EQ(imageCreate(0, 8, 8), 1);
    QTest::mouseClick(access::controlWidget(1), Qt::LeftButton); // left in the queue

    toolkitEnd();
    ASSERT_EQ(toolkitInit(), 1);
    EXPECT_EQ(windowExists(0), 0);
    EXPECT_EQ(controlInfo(1).kind, ControlKind::None);
    EXPECT_EQ(fontHandle(1), 0);
    EXPECT_EQ(imageHandle(0), 0);
    EXPECT_EQ(eventWait(0), EventNone);
}

TEST_F(ToolkitLifecycle, WithoutAnyWindowSystemInitSaysNo) {
    toolkitEnd(); // the fixture's application goes
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    const std::string platform =
        std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
    const char* display = std::getenv("DISPLAY");
    const std::string savedDisplay = display != nullptr ? display : "";
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const std::string savedWayland = wayland != nullptr ? wayland : "";
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");

    const int result = toolkitInit();
    const bool created = QCoreApplication::instance() != nullptr;

    setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
    if (display != nullptr) {
        setenv("DISPLAY", savedDisplay.c_str(), 1);
    }
    if (wayland != nullptr) {
        setenv("WAYLAND_DISPLAY", savedWayland.c_str(), 1);
    }
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(created);
    EXPECT_EQ(windowOpen(0, 0, 0, 10, 10, "x", 0), 0);
    EXPECT_EQ(eventWait(0), EventNone);
    ASSERT_EQ(toolkitInit(), 1); // for the fixture's end
}

} // namespace
} // namespace veltrace::toolkit
