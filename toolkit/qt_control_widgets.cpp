// The picture display and the value text: see qt_control_widgets.h.
#include "toolkit/qt_control_widgets.h"

#include "toolkit/control_record.h"
#include "toolkit/qt_internal.h"

#include <QBackingStore>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <cstring>
#include <utility>

namespace veltrace::toolkit::qt {

namespace {

// Qt's raster engine hands the rows of a drawing with 96 rows or more to its thread pool.
constexpr int StripRows = 64;

bool validPicture(const Image& picture) {
    return picture.width > 0 && picture.height > 0 &&
           picture.rgb.size() >= static_cast<std::size_t>(picture.width) * picture.height * 3;
}

} // namespace

QRegion changedRegion(const Image& before, const Image& after) {
    if (before.width != after.width || before.height != after.height || !validPicture(before) ||
        !validPicture(after)) {
        return QRegion(0, 0, std::max(0, after.width), std::max(0, after.height));
    }
    const int width = after.width;
    const int height = after.height;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    QRegion changed;
    for (int left = 0; left < width; left += ChangedBandWidth) {
        const auto offset = static_cast<std::size_t>(left) * 3;
        const auto bytes = static_cast<std::size_t>(std::min(ChangedBandWidth, width - left)) * 3;
        const auto differs = [&](int y) {
            const std::size_t at = rowBytes * static_cast<std::size_t>(y) + offset;
            return std::memcmp(before.rgb.data() + at, after.rgb.data() + at, bytes) != 0;
        };
        // From the top and from the bottom to the first row that differs: the rows compared
        // are only those that stay the same above and below what changed.
        int first = 0;
        while (first < height && !differs(first)) {
            ++first;
        }
        if (first == height) {
            continue;
        }
        int last = height - 1;
        while (last > first && !differs(last)) {
            --last;
        }
        changed += QRect(left, first, std::min(ChangedBandWidth, width - left), last - first + 1);
    }
    return changed;
}

PictureDisplay::PictureDisplay(int number, int window, QWidget* parent)
    : QFrame(parent), number_(number), window_(window) {
    // Everything inside its rectangle is painted here, so Qt need not paint the window behind.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureDisplay::showPicture(std::shared_ptr<const Image> picture, Handle handle) {
    shown_ = picture ? handle : 0;
    if (!picture || !validPicture(*picture)) {
        if (picture_) {
            picture_.reset();
            view_ = QImage();
            update();
        }
        return;
    }
    const QRect contents = contentsRect();
    QRegion changed;
    if (picture_ && picture_->width == picture->width && picture_->height == picture->height) {
        changed = changedRegion(*picture_, *picture).translated(contents.topLeft()) & contents;
    } else {
        changed = QRegion(contents); // what it shows changed size
    }
    picture_ = std::move(picture);
    // Our rows have no padding: the stride is exactly three bytes per pixel. The view shares the
    // picture's pixels, which never change while it is on show.
    view_ = QImage(picture_->rgb.data(), picture_->width, picture_->height, 3 * picture_->width,
                   QImage::Format_RGB888);
    if (changed.isEmpty()) {
        // The same pixels are on the screen already; the picture counts as shown now.
        detail::picturePainted(shown_);
        return;
    }
    update(changed);
}

void PictureDisplay::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        postEvent(QueuedEvent{EventControl, number_, 0, 0, window_});
    }
    event->accept();
}

// The default forwards to mousePressEvent, which would report a second plain click.
void PictureDisplay::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        postEvent(QueuedEvent{EventControl, number_, 1, 0, window_});
    }
    event->accept();
}

void PictureDisplay::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect contents = contentsRect();
    const QRect area = event->rect();
    const QRect picture =
        view_.isNull() ? QRect() : QRect(contents.topLeft(), view_.size()) & contents;
    // What the picture does not cover shows the window's background, as behind a QLabel.
    if (!picture.contains(area)) {
        painter.fillRect(area, palette().brush(QPalette::Window));
        if (!contents.contains(area)) {
            drawFrame(&painter);
        }
    }
    if (!picture.isEmpty()) {
        // In strips small enough that Qt converts each on this thread: a larger one it splits
        // among its pool's threads, waking two more threads for every picture.
        for (const QRect& part : event->region()) {
            const QRect target = picture & part;
            for (int top = target.top(); top <= target.bottom(); top += StripRows) {
                const QRect strip(target.left(), top, target.width(),
                                  std::min(StripRows, target.bottom() + 1 - top));
                painter.drawImage(strip.topLeft(), view_, strip.translated(-contents.topLeft()));
            }
        }
    }
    if (shown_ != 0) {
        detail::picturePainted(shown_);
    }
}

PaintedLabel::PaintedLabel(QWidget* parent) : QLabel(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PaintedLabel::changeEvent(QEvent* event) {
    // Pixels painted with another palette, font or style are not what it would paint now.
    rendered_.clear();
    QLabel::changeEvent(event);
}

void PaintedLabel::resizeEvent(QResizeEvent* event) {
    rendered_.clear();
    QLabel::resizeEvent(event);
}

// The window's own pixels, where this widget paints into them: Qt paints a widget into its
// window's backing store, one 32-bit image. Null where that is not so (then nothing is kept).
const QImage* PaintedLabel::windowPixels() const {
    QBackingStore* store = window()->backingStore();
    QPaintDevice* device = store != nullptr ? store->paintDevice() : nullptr;
    if (device == nullptr || device->devType() != QInternal::Image) {
        return nullptr;
    }
    const auto* image = static_cast<const QImage*>(device);
    return image->devicePixelRatio() == 1.0 ? image : nullptr;
}

// QLabel's own painting of a plain text, but the edge (if any) only where the area reaches it and
// the background filled here rather than by the window behind. A text shown before in the last few
// is put back from the pixels it was painted as.
void PaintedLabel::paintEvent(QPaintEvent* event) {
    const QRect contents = contentsRect();
    const QString shown = text();
    QPainter painter(this);
    const QRect area = event->rect();
    if (contents.contains(area)) {
        for (auto kept = rendered_.begin(); kept != rendered_.end(); ++kept) {
            if (kept->text == shown) {
                painter.drawImage(contents.topLeft(), kept->pixels);
                std::rotate(rendered_.begin(), kept, kept + 1);
                return;
            }
        }
    }
    painter.fillRect(area, palette().brush(QPalette::Window));
    if (!contents.contains(area)) {
        drawFrame(&painter);
    }
    if (!shown.isEmpty()) {
        const bool rightToLeft = shown.isRightToLeft();
        const int flags = static_cast<int>(QStyle::visualAlignment(
                              rightToLeft ? Qt::RightToLeft : Qt::LeftToRight, alignment())) |
                          (wordWrap() ? Qt::TextWordWrap : 0) |
                          (rightToLeft ? Qt::TextForceRightToLeft : Qt::TextForceLeftToRight);
        QStyleOption option;
        option.initFrom(this);
        style()->drawItemText(&painter, contents, flags, option.palette, isEnabled(), shown,
                              foregroundRole());
    }
    painter.end();
    // Keep what was just painted, when all of the inside was.
    if ((QRegion(contents) - event->region()).isEmpty()) {
        if (const QImage* pixels = windowPixels()) {
            const QRect inWindow(mapTo(window(), contents.topLeft()), contents.size());
            if (pixels->rect().contains(inWindow)) {
                if (rendered_.size() >= RenderedTexts) {
                    rendered_.pop_back();
                }
                rendered_.insert(rendered_.begin(), Rendered{shown, pixels->copy(inWindow)});
            }
        }
    }
}

} // namespace veltrace::toolkit::qt
