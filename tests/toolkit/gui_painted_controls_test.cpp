// The value text and the picture display repaint only what changed inside them. What reaches the
// window must still be, pixel for pixel, what the plain QLabels they replace showed: each test
// puts such a QLabel (set up as the toolkit set up its controls before) beside the control in the
// same window, gives both the same content step by step and compares the window's own pixels
// (the offscreen backing store) after every step.
#include "toolkit/qt_access.h"
#include "toolkit/qt_control_widgets.h"
#include "toolkit/toolkit.h"

#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace veltrace::toolkit {
namespace {

class PaintedControls : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(toolkitInit(), 1);
        ASSERT_EQ(windowOpen(0, 100, 150, 480, 400, "Painted", WindowFixedCaption), 1);
    }
    void TearDown() override { toolkitEnd(); }

    // What the window shows now, after every pending repaint.
    static QImage windowPixels() {
        access::flushPendingUpdates();
        QCoreApplication::processEvents();
        QWidget* frame = access::windowWidget(0);
        return frame->screen()->grabWindow(frame->winId()).toImage();
    }

    static QRect rectInWindow(const QWidget* widget) {
        return QRect(widget->mapTo(access::windowWidget(0), QPoint(0, 0)), widget->size());
    }

    // Pixels of `a` inside rect `ra` that differ from those of `b` at the same place in `rb`.
    static int differences(const QImage& shown, const QRect& ra, const QRect& rb) {
        int count = 0;
        for (int y = 0; y < ra.height(); ++y) {
            for (int x = 0; x < ra.width(); ++x) {
                if (shown.pixel(ra.x() + x, ra.y() + y) != shown.pixel(rb.x() + x, rb.y() + y)) {
                    ++count;
                }
            }
        }
        return count;
    }

    static int colours(const QImage& shown, const QRect& rect) {
        std::vector<QRgb> seen;
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            for (int x = rect.left(); x <= rect.right(); ++x) {
                const QRgb pixel = shown.pixel(x, y);
                if (std::find(seen.begin(), seen.end(), pixel) == seen.end()) {
                    seen.push_back(pixel);
                }
            }
        }
        return static_cast<int>(seen.size());
    }
};

// The value text as the toolkit made it before: a QLabel with a 2-pixel sunken panel.
QLabel* plainValueText(QWidget* parent, const QRect& geometry) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setLineWidth(2);
    label->setIndent(0);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(geometry);
    label->show();
    return label;
}

// The picture display as the toolkit made it before: a QLabel showing a converted pixmap.
QLabel* plainPictureDisplay(QWidget* parent, const QRect& geometry, bool sunkenEdge) {
    auto* label = new QLabel(parent);
    if (sunkenEdge) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setLineWidth(2);
    } else {
        label->setFrameStyle(QFrame::NoFrame);
    }
    label->setIndent(0);
    label->setMargin(0);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(geometry);
    label->show();
    return label;
}

QPixmap pixmapOf(const Image& picture) {
    const QImage view(picture.rgb.data(), picture.width, picture.height, 3 * picture.width,
                      QImage::Format_RGB888);
    return QPixmap::fromImage(view);
}

TEST_F(PaintedControls, ValueTextShowsWhatAQLabelShowsAfterEveryChange) {
    valueTextCreate(17, 10, 10, 120, 20);
    QWidget* control = access::controlWidget(17);
    ASSERT_NE(control, nullptr);
    QLabel* reference = plainValueText(access::windowContent(0), QRect(200, 10, 120, 20));
    const QRect shownAt = rectInWindow(control);
    const QRect referenceAt = rectInWindow(reference);

    // Longer and shorter texts in turn, so a text that does not fully cover the one before
    // shows whether the old pixels were painted over; some come back (the control puts those
    // back from the pixels it painted them as); the last ones overflow the field.
    const std::vector<std::string> texts = {
        "5.00mV", "2\xB5s", "5.00mV", "---",    "123.4Hz", "5.00mV",
        "",       "-1.25V", "88.8%",  "-1.25V", "88.8%",   "a text far wider than its field",
        "1\r2",   "CH1",    "2\xB5s", "---",    "1\r2"};
    const auto showBoth = [&](const std::string& text) {
        controlTextSet(17, text);
        QString shown = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
        shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        reference->setText(shown);
        const QImage pixels = windowPixels();
        EXPECT_EQ(differences(pixels, shownAt, referenceAt), 0) << "after \"" << text << "\"";
        if (!text.empty()) {
            // Edge, background and the text's own colours at the least.
            EXPECT_GT(colours(pixels, shownAt.adjusted(2, 2, -2, -2)), 2) << text;
        }
    };
    for (const std::string& text : texts) {
        showBoth(text);
    }

    // A whole repaint (the window uncovered) paints edge and background itself.
    access::windowWidget(0)->update();
    EXPECT_EQ(differences(windowPixels(), shownAt, referenceAt), 0);

    // Texts shown before, in other colours: none of the pixels kept from before may come back.
    QPalette palette = access::windowWidget(0)->palette();
    palette.setColor(QPalette::Window, QColor(200, 230, 255));
    palette.setColor(QPalette::WindowText, QColor(120, 0, 0));
    access::windowWidget(0)->setPalette(palette);
    for (const char* text : {"CH1", "5.00mV", "---"}) {
        showBoth(text);
    }
}

TEST_F(PaintedControls, LabelShowsWhatAQLabelShowsAfterEveryChange) {
    // Left and centred, as the program makes them; the texts wrap, break lines and come back.
    for (const int centred : {0, 1}) {
        const int number = 63 + centred;
        labelCreate(number, 10, 40 + 80 * centred, 150, 60, "", centred);
        QWidget* control = access::controlWidget(number);
        ASSERT_NE(control, nullptr);
        auto* reference = new QLabel(access::windowContent(0));
        reference->setTextFormat(Qt::PlainText);
        reference->setWordWrap(true);
        reference->setAlignment((centred != 0 ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        reference->setGeometry(200, 40 + 80 * centred, 150, 60);
        reference->show();
        const QRect shownAt = rectInWindow(control);
        const QRect referenceAt = rectInWindow(reference);
        for (const char* text :
             {"Strongest: 500Hz at -9.3 dBV", "10 dB/div, top 0 dBV", "Strongest: ---",
              "Veltrace V1.11\r\rWritten by Okrinsel", "Strongest: 500Hz at -9.3 dBV",
              "a long sentence that has to wrap over several lines of the field", "",
              "10 dB/div, top 0 dBV"}) {
            controlTextSet(number, text);
            QString shown = QString::fromLatin1(text);
            shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
            reference->setText(shown);
            const QImage pixels = windowPixels();
            EXPECT_EQ(differences(pixels, shownAt, referenceAt), 0)
                << "centred " << centred << " after \"" << text << "\"";
            if (*text != '\0') {
                EXPECT_GE(colours(pixels, shownAt), 2) << text;
            }
        }
    }
}

TEST_F(PaintedControls, PictureDisplayShowsWhatAQLabelShowsAfterEveryPicture) {
    struct Pair {
        int control;
        int image;
        QRect geometry;
        bool sunkenEdge;
        QLabel* reference = nullptr;
    };
    // The picture fits exactly; is cut off by a display too small; leaves part of a larger
    // display empty.
    std::vector<Pair> pairs = {{10, 0, QRect(10, 10, 134, 44), true},
                               {11, 1, QRect(10, 80, 100, 30), false},
                               {12, 2, QRect(10, 140, 150, 60), true}};
    for (Pair& pair : pairs) {
        imageDisplayCreate(pair.control, pair.geometry.x(), pair.geometry.y(),
                           pair.geometry.width(), pair.geometry.height(), pair.sunkenEdge ? 1 : 0);
        pair.reference = plainPictureDisplay(access::windowContent(0),
                                             pair.geometry.translated(220, 0), pair.sunkenEdge);
    }

    // Bars of random heights, most of them unchanged from one step to the next, as in a
    // spectrum; now and then the same picture again, no picture, or another size.
    std::mt19937 random(19);
    std::vector<int> heights(13, 0);
    int width = 130;
    int height = 40;
    for (int step = 0; step < 24; ++step) {
        const bool none = step == 9;
        if (step == 15) {
            width = 90;
            height = 52;
        }
        if (step % 5 != 4) {
            for (int& bar : heights) {
                if (random() % 3 == 0) {
                    bar = static_cast<int>(random() % static_cast<unsigned>(height));
                }
            }
        }
        for (Pair& pair : pairs) {
            std::shared_ptr<Image> picture;
            if (!none) {
                picture = imageBlank(width, height);
                ASSERT_TRUE(picture);
                drawLine(*picture, 0, height / 2, width - 1, height / 2, rgbColour(0, 72, 0));
                for (std::size_t bar = 0; bar < heights.size(); ++bar) {
                    const int x = static_cast<int>(bar) * 10 + 2;
                    if (x + 3 >= width) {
                        break;
                    }
                    for (int k = 0; k < 4; ++k) {
                        drawLine(*picture, x + k, height - 1 - heights[bar], x + k, height - 1,
                                 rgbColour(40 * k, 255 - 7 * static_cast<int>(bar), 90));
                    }
                }
                pair.reference->setPixmap(pixmapOf(*picture));
            } else {
                pair.reference->clear();
            }
            controlStateSet(pair.control, imageStore(pair.image, picture));
        }
        const QImage pixels = windowPixels();
        for (const Pair& pair : pairs) {
            const QRect shownAt = rectInWindow(access::controlWidget(pair.control));
            EXPECT_EQ(differences(pixels, shownAt, rectInWindow(pair.reference)), 0)
                << "display " << pair.control << " at step " << step;
            if (!none) {
                EXPECT_GE(colours(pixels, shownAt), 2) << "display " << pair.control;
            }
        }
    }

    access::windowWidget(0)->update();
    const QImage pixels = windowPixels();
    for (const Pair& pair : pairs) {
        EXPECT_EQ(differences(pixels, rectInWindow(access::controlWidget(pair.control)),
                              rectInWindow(pair.reference)),
                  0)
            << "display " << pair.control << " repainted whole";
    }
}

TEST_F(PaintedControls, PictureDisplayReportsAnUnchangedPictureAsPainted) {
    imageDisplayCreate(10, 10, 10, 24, 24, 1);
    std::vector<Handle> painted;
    setPicturePaintedHook([&](Handle handle) { painted.push_back(handle); });
    std::shared_ptr<Image> first = imageBlank(20, 20);
    drawLine(*first, 0, 0, 19, 19, rgbColour(255, 0, 0));
    const Handle firstHandle = imageStore(0, first);
    controlStateSet(10, firstHandle);
    windowPixels();
    // The same pixels under a new handle: nothing to repaint, yet the new picture is on show.
    std::shared_ptr<Image> second = imageBlank(20, 20);
    second->rgb = first->rgb;
    const Handle secondHandle = imageStore(0, second);
    controlStateSet(10, secondHandle);
    windowPixels();
    setPicturePaintedHook(nullptr);
    ASSERT_FALSE(painted.empty());
    EXPECT_EQ(painted.front(), firstHandle);
    EXPECT_EQ(painted.back(), secondHandle);
}

TEST(ChangedRegion, CoversEveryDifferenceInBandsAndNothingElse) {
    // Three whole bands and a narrow fourth.
    constexpr int band = qt::ChangedBandWidth;
    Image before;
    before.width = 3 * band + 8;
    before.height = 50;
    before.rgb.assign(static_cast<std::size_t>(before.width) * 50 * 3, 0);
    Image after = before;
    EXPECT_TRUE(qt::changedRegion(before, after).isEmpty());

    const auto touch = [&](int x, int y, int channel) {
        after.rgb[(static_cast<std::size_t>(y) * after.width + x) * 3 + channel] ^= 1;
    };
    // One byte of one pixel in the first band, two in the last (its first and last column).
    touch(10, 7, 2);
    touch(before.width - 1, 30, 0);
    touch(3 * band, 41, 1);
    const QRegion changed = qt::changedRegion(before, after);
    EXPECT_TRUE(changed.contains(QPoint(10, 7)));
    EXPECT_TRUE(changed.contains(QPoint(before.width - 1, 30)));
    EXPECT_TRUE(changed.contains(QPoint(3 * band, 41)));
    // Bands without a difference, and rows above and below the first and last difference.
    EXPECT_FALSE(changed.contains(QPoint(band + 5, 20)));
    EXPECT_FALSE(changed.contains(QPoint(2 * band + 5, 35)));
    EXPECT_FALSE(changed.contains(QPoint(10, 6)));
    EXPECT_FALSE(changed.contains(QPoint(10, 8)));
    EXPECT_FALSE(changed.contains(QPoint(3 * band, 29)));
    EXPECT_FALSE(changed.contains(QPoint(3 * band, 42)));

    Image other = before;
    other.height = 49;
    other.rgb.resize(static_cast<std::size_t>(other.width) * 49 * 3);
    EXPECT_EQ(qt::changedRegion(before, other), QRegion(0, 0, before.width, 49));
}

} // namespace
} // namespace veltrace::toolkit
