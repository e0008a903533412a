// Controls driven with real Qt mouse events under the offscreen platform: what the program sees
// in its events and in the control record, and what the widgets show.
#include "toolkit/control_record.h"
#include "toolkit/qt_access.h"
#include "toolkit/toolkit.h"

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace veltrace::toolkit {
namespace {

class ControlTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(toolkitInit(), 1);
        ASSERT_EQ(windowOpen(0, 100, 150, 400, 300, "Controls", WindowFixedCaption), 1);
    }
    void TearDown() override { toolkitEnd(); }

    static void click(int control) {
        QWidget* widget = access::controlWidget(control);
        ASSERT_NE(widget, nullptr);
        QTest::mouseClick(widget, Qt::LeftButton);
    }
};

using ToggleButton = ControlTest;

TEST_F(ToggleButton, ClickFlipsStateBeforeTheProgramSeesTheEvent) {
    toggleButtonCreate(2, 10, 10, 85, 25, "HOLD");
    ASSERT_EQ(controlStateGet(2), 0);

    click(2);
    ASSERT_EQ(eventWait(1000), EventControl);
    EXPECT_EQ(eventControl(), 2);
    EXPECT_EQ(eventType(), 0);
    EXPECT_EQ(controlStateGet(2), 1);

    click(2);
    ASSERT_EQ(eventWait(1000), EventControl);
    EXPECT_EQ(controlStateGet(2), 0);
}

TEST_F(ToggleButton, StateSetFromTheProgramProducesNoEventAndShows) {
    toggleButtonCreate(2, 10, 10, 85, 25, "HOLD");
    controlStateSet(2, 1);
    EXPECT_EQ(eventWait(0), EventNone);
    EXPECT_EQ(controlStateGet(2), 1);
    EXPECT_TRUE(static_cast<QPushButton*>(access::controlWidget(2))->isChecked());

    controlStateSet(2, 0);
    EXPECT_EQ(eventWait(0), EventNone);
    EXPECT_FALSE(static_cast<QPushButton*>(access::controlWidget(2))->isChecked());
}

using OptionGroup = ControlTest;

TEST_F(OptionGroup, ButtonsCreatedOneAfterAnotherClearEachOther) {
    optionButtonCreate(16, 10, 10, 50, 20, "CH1");
    optionButtonCreate(27, 10, 40, 50, 20, "CH2");
    controlStateSet(16, 1);

    click(27);
    ASSERT_EQ(eventWait(1000), EventControl);
    EXPECT_EQ(eventControl(), 27);
    EXPECT_EQ(controlStateGet(27), 1);
    EXPECT_EQ(controlStateGet(16), 0);
    EXPECT_FALSE(static_cast<QRadioButton*>(access::controlWidget(16))->isChecked());
}

TEST_F(OptionGroup, ButtonAfterAnotherKindOfControlStartsItsOwnGroup) {
    optionButtonCreate(16, 10, 10, 50, 20, "CH1");
    labelCreate(22, 60, 10, 50, 20, "Volts:", 0);
    optionButtonCreate(27, 10, 40, 50, 20, "CH2");
    controlStateSet(16, 1);

    click(27);
    ASSERT_EQ(eventWait(1000), EventControl);
    EXPECT_EQ(controlStateGet(27), 1);
    EXPECT_EQ(controlStateGet(16), 1);
    EXPECT_TRUE(static_cast<QRadioButton*>(access::controlWidget(16))->isChecked());
}

TEST_F(OptionGroup, ClickOnTheSelectedButtonKeepsItSelected) {
    optionButtonCreate(16, 10, 10, 50, 20, "CH1");
    controlStateSet(16, 1);

    click(16);
    ASSERT_EQ(eventWait(1000), EventControl);
    EXPECT_EQ(eventControl(), 16);
    EXPECT_EQ(controlStateGet(16), 1);
    EXPECT_TRUE(static_cast<QRadioButton*>(access::controlWidget(16))->isChecked());
}

using ImageDisplay = ControlTest;

TEST_F(ImageDisplay, ClickIsTypeZeroAndDoubleClickTypeOne) {
    imageDisplayCreate(10, 10, 10, 100, 100, 1);
    QWidget* display = access::controlWidget(10);
    ASSERT_NE(display, nullptr);

    QTest::mouseClick(display, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseDClick(display, Qt::LeftButton, {}, QPoint(20, 20));

    ASSERT_EQ(eventWait(1000), EventControl);
    EXPECT_EQ(eventControl(), 10);
    EXPECT_EQ(eventType(), 0);
    ASSERT_EQ(eventWait(1000), EventControl);
    EXPECT_EQ(eventControl(), 10);
    EXPECT_EQ(eventType(), 1);
    // The double click is not also reported as a plain click.
    EXPECT_EQ(eventWait(0), EventNone);
}

TEST_F(ImageDisplay, ShowsTheImageHandedToItTwoPixelsIn) {
    imageDisplayCreate(10, 10, 10, 24, 24, 1);
    ASSERT_EQ(imageCreate(0, 20, 20), 1);
    ASSERT_EQ(drawingBegin(0), 1);
    drawLine(0, 0, 0, 0, rgbColour(255, 0, 0));
    drawLine(19, 19, 19, 19, rgbColour(0, 0, 255));
    drawingEnd();
    controlStateSet(10, imageHandle(0));
    access::flushPendingUpdates();

    EXPECT_EQ(controlInfo(10).image, imageHandle(0));
    const QImage shown = access::controlWidget(10)->grab().toImage();
    EXPECT_EQ(shown.pixelColor(2, 2), QColor(255, 0, 0));
    EXPECT_EQ(shown.pixelColor(21, 21), QColor(0, 0, 255));
    EXPECT_EQ(shown.pixelColor(3, 3), QColor(0, 0, 0));
    EXPECT_NE(shown.pixelColor(1, 1), QColor(255, 0, 0)); // the edge, not the picture
}

TEST_F(ImageDisplay, KeepsShowingItsImageAfterTheNumberIsReplaced) {
    imageDisplayCreate(10, 0, 0, 10, 10, 0);
    ASSERT_EQ(imageCreate(0, 10, 10), 1);
    ASSERT_EQ(drawingBegin(0), 1);
    drawLine(0, 0, 9, 0, rgbColour(0, 255, 0));
    drawingEnd();
    controlStateSet(10, imageHandle(0));
    ASSERT_EQ(imageCreate(0, 10, 10), 1); // a new, black image under the same number
    access::flushPendingUpdates();

    const QImage shown = access::controlWidget(10)->grab().toImage();
    EXPECT_EQ(shown.pixelColor(0, 0), QColor(0, 255, 0));
}

using ComboBox = ControlTest;

TEST_F(ComboBox, StartsWithNothingSelectedAndReadsTheSelectedEntry) {
    comboBoxCreate(60, 50, 10, 100, 21);
    comboItemAdd(60, "COM1");
    comboItemAdd(60, "COM3");
    auto* combo = static_cast<QComboBox*>(access::controlWidget(60));
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(controlTextGet(60), "");

    controlStateSet(60, 1);
    EXPECT_EQ(controlTextGet(60), "COM3");
    EXPECT_EQ(combo->currentText(), "COM3");
    EXPECT_EQ(eventWait(0), EventNone);

    controlStateSet(60, -1);
    EXPECT_EQ(controlTextGet(60), "");
    EXPECT_EQ(combo->currentText(), "");
    EXPECT_EQ((std::vector<std::string>{"COM1", "COM3"}), controlInfo(60).items);
}

TEST_F(ComboBox, UserChoiceReachesTheRecord) {
    comboBoxCreate(60, 50, 10, 100, 21);
    comboItemAdd(60, "COM1");
    comboItemAdd(60, "COM4");
    static_cast<QComboBox*>(access::controlWidget(60))->setCurrentIndex(1);
    EXPECT_EQ(controlTextGet(60), "COM4");
}

using StaticText = ControlTest;

TEST_F(StaticText, CarriageReturnsSeparateLines) {
    labelCreate(63, 10, 20, 280, 220, "Veltrace V1.11\r\rWritten by Okrinsel", 1);
    auto* label = static_cast<QLabel*>(access::controlWidget(63));
    EXPECT_EQ(label->text(), QString("Veltrace V1.11\n\nWritten by Okrinsel"));
    EXPECT_TRUE(label->alignment().testFlag(Qt::AlignHCenter));
    EXPECT_EQ(controlTextGet(63), "Veltrace V1.11\r\rWritten by Okrinsel");
}

TEST_F(StaticText, ValueTextStartsEmptyAndShowsLatin1) {
    valueTextCreate(17, 590, 30, 100, 20);
    EXPECT_EQ(controlTextGet(17), "");
    controlTextSet(17, "5.00mV");
    controlTextSet(17, "2\xB5s");
    auto* label = static_cast<QLabel*>(access::controlWidget(17));
    EXPECT_EQ(label->text(), QString::fromUtf8("2\u00B5s"));
    EXPECT_EQ(label->contentsRect().topLeft(), QPoint(2, 2));
    EXPECT_EQ(controlTextGet(17), "2\xB5s");
}

using ControlRegistry = ControlTest;

TEST_F(ControlRegistry, UnknownNumbersDoNothing) {
    controlTextSet(5, "x");
    controlStateSet(5, 1);
    controlHide(5, 1);
    EXPECT_EQ(controlTextGet(5), "");
    EXPECT_EQ(controlStateGet(5), 0);
    EXPECT_EQ(controlInfo(5).kind, ControlKind::None);
    pushButtonCreate(detail::LastControl + 1, 0, 0, 10, 10, "out of range");
    EXPECT_EQ(access::controlWidget(detail::LastControl + 1), nullptr);
}

TEST_F(ControlRegistry, ReusedNumberReplacesTheControl) {
    toggleButtonCreate(3, 10, 10, 85, 25, "old");
    const QPointer<QWidget> old = access::controlWidget(3);
    controlStateSet(3, 1);
    labelCreate(3, 20, 30, 50, 20, "new", 0);
    EXPECT_TRUE(old.isNull());
    EXPECT_NE(qobject_cast<QLabel*>(access::controlWidget(3)), nullptr);
    const ControlInfo info = controlInfo(3);
    EXPECT_EQ(info.kind, ControlKind::Label);
    EXPECT_EQ(info.text, "new");
    EXPECT_EQ(info.state, 0);
    EXPECT_EQ(access::windowContent(0)->findChildren<QPushButton*>().size(), 0);
}

TEST_F(ControlRegistry, HideAndShowFollowTheRecord) {
    pushButtonCreate(1, 10, 10, 85, 25, "CAPTURE");
    EXPECT_TRUE(controlInfo(1).visible);
    EXPECT_TRUE(access::controlWidget(1)->isVisible());
    controlHide(1, 1);
    EXPECT_FALSE(controlInfo(1).visible);
    EXPECT_FALSE(access::controlWidget(1)->isVisible());
    controlHide(1, 0);
    EXPECT_TRUE(access::controlWidget(1)->isVisible());
}

TEST_F(ControlRegistry, PictureButtonShowsItsImageAndReportsClicks) {
    ASSERT_EQ(imageCreate(5, 80, 32), 1);
    pictureButtonCreate(64, 108, 250, 82, 34, imageHandle(5));
    auto* button = static_cast<QPushButton*>(access::controlWidget(64));
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->icon().isNull());
    EXPECT_EQ(button->iconSize(), QSize(80, 32));
    click(64);
    ASSERT_EQ(eventWait(1000), EventControl);
    EXPECT_EQ(eventControl(), 64);
}

} // namespace
} // namespace veltrace::toolkit
