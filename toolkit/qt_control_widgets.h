// The Qt widgets that change with every frame: the picture display and the static texts. All
// paint their own background (they are opaque to Qt), so a change repaints only what changed
// inside them: not the window behind them, not their sunken edge, not the rest of the picture.
// What they show is pixel for pixel what a QLabel with the same frame, text or pixmap shows.
#pragma once

#include "toolkit/toolkit.h"

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QRegion>

#include <cstddef>
#include <memory>
#include <vector>

class QEvent;
class QMouseEvent;
class QPaintEvent;
class QResizeEvent;

namespace veltrace::toolkit::qt {

// Columns per band of changedRegion. Wide: the comparison and the region's own bookkeeping cost
// more than repainting the rows of a band that stayed the same (measured with callgrind on the
// 508-pixel screen and the 520-pixel spectrum: 64 and 128 cost more, 256 as little as one band).
inline constexpr int ChangedBandWidth = 256;

// The parts of two pictures of the same size that differ, in bands of ChangedBandWidth columns:
// each band's rows from the first that differs to the last. Empty when they are the same.
QRegion changedRegion(const Image& before, const Image& after);

// Shows a picture at the top left of its contents (two pixels in with the sunken edge);
// reports clicks and double clicks as program events.
class PictureDisplay : public QFrame {
  public:
    PictureDisplay(int number, int window, QWidget* parent);

    // Shows the picture (null: nothing inside the edge). Repaints only the columns and rows
    // where it differs from the picture on show.
    void showPicture(std::shared_ptr<const Image> picture, Handle handle);

    // The picture it shows (0: none).
    Handle shown() const { return shown_; }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    int number_;
    int window_;
    Handle shown_ = 0;
    // The picture on show, and a QImage over its pixels for painting.
    std::shared_ptr<const Image> picture_;
    QImage view_;
};

// A static text, plain or in a sunken edge (the value text). A QLabel (the program's tests and
// the record read its text), but painted without re-drawing its edge or the window behind it
// when only its text changed, and a text painted a moment before is put back from its pixels
// instead of laid out again.
class PaintedLabel : public QLabel {
  public:
    explicit PaintedLabel(QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    const QImage* windowPixels() const;

    // The last texts painted whole, most recent first, with the pixels of the inside they were
    // painted as: measured values often come back to a value shown a few frames before.
    static constexpr std::size_t RenderedTexts = 6;
    struct Rendered {
        QString text;
        QImage pixels;
    };
    std::vector<Rendered> rendered_;
};

} // namespace veltrace::toolkit::qt
