// The picture display and the value text: see qt_control_widgets.h.
#include "toolkit/qt_control_widgets.h"

#include "toolkit/control_record.h"
#include "toolkit/qt_internal.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace veltrace::toolkit::qt {

namespace {

// Columns per band of changedRegion: narrow enough that a band follows a few spectrum lines or a
// stretch of trace, wide enough that the comparison stays a handful of memcmp calls a row.
constexpr int BandWidth = 64;

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
    const int bands = (width + BandWidth - 1) / BandWidth;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    // Each band's first and last row that differ; first > last: none.
    std::vector<std::pair<int, int>> rows(static_cast<std::size_t>(bands), {after.height, -1});
    for (int y = 0; y < after.height; ++y) {
        const std::uint8_t* a = before.rgb.data() + rowBytes * static_cast<std::size_t>(y);
        const std::uint8_t* b = after.rgb.data() + rowBytes * static_cast<std::size_t>(y);
        if (std::memcmp(a, b, rowBytes) == 0) {
            continue;
        }
        for (int band = 0; band < bands; ++band) {
            const int left = band * BandWidth;
            const auto offset = static_cast<std::size_t>(left) * 3;
            const auto bytes = static_cast<std::size_t>(std::min(BandWidth, width - left)) * 3;
            if (std::memcmp(a + offset, b + offset, bytes) != 0) {
                auto& [first, last] = rows[static_cast<std::size_t>(band)];
                first = std::min(first, y);
                last = y;
            }
        }
    }
    QRegion changed;
    for (int band = 0; band < bands; ++band) {
        const auto [first, last] = rows[static_cast<std::size_t>(band)];
        if (first <= last) {
            const int left = band * BandWidth;
            changed += QRect(left, first, std::min(BandWidth, width - left), last - first + 1);
        }
    }
    return changed;
}

void convertArea(const Image& picture, QImage& into, const QRegion& area) {
    const QRect bounds(0, 0, picture.width, picture.height);
    for (const QRect& part : area) {
        const QRect rect = part & bounds & into.rect();
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            const std::uint8_t* source =
                picture.rgb.data() +
                (static_cast<std::size_t>(y) * picture.width + rect.left()) * 3;
            auto* target = reinterpret_cast<QRgb*>(into.scanLine(y)) + rect.left();
            for (int x = 0; x < rect.width(); ++x, source += 3) {
                target[x] = qRgb(source[0], source[1], source[2]);
            }
        }
    }
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
            converted_ = QImage();
            update();
        }
        return;
    }
    QRegion changed;
    if (picture_ && converted_.width() == picture->width &&
        converted_.height() == picture->height) {
        changed = changedRegion(*picture_, *picture);
    } else {
        converted_ = QImage(picture->width, picture->height, QImage::Format_RGB32);
        if (converted_.isNull()) {
            picture_.reset();
            update();
            return;
        }
        changed = QRegion(converted_.rect());
        update(); // the whole display: the size of what it shows changed
    }
    convertArea(*picture, converted_, changed);
    picture_ = std::move(picture);
    if (changed.isEmpty()) {
        // The same pixels are on the screen already; the picture counts as shown now.
        if (shown_ != 0) {
            detail::picturePainted(shown_);
        }
        return;
    }
    const QRect contents = contentsRect();
    update(changed.translated(contents.topLeft()) & contents);
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
        converted_.isNull() ? QRect() : QRect(contents.topLeft(), converted_.size()) & contents;
    // What the picture does not cover shows the window's background, as behind a QLabel.
    if (!picture.contains(area)) {
        painter.fillRect(area, palette().brush(QPalette::Window));
        if (!contents.contains(area)) {
            drawFrame(&painter);
        }
    }
    if (!picture.isEmpty()) {
        const QRect target = picture & area;
        painter.drawImage(target, converted_, target.translated(-contents.topLeft()));
    }
    if (shown_ != 0) {
        detail::picturePainted(shown_);
    }
}

ValueTextLabel::ValueTextLabel(QWidget* parent) : QLabel(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

// QLabel's own painting of a plain text, but the edge only where the area reaches it and the
// background filled here rather than by the window behind.
void ValueTextLabel::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    painter.fillRect(area, palette().brush(QPalette::Window));
    const QRect contents = contentsRect();
    if (!contents.contains(area)) {
        drawFrame(&painter);
    }
    const QString shown = text();
    if (shown.isEmpty()) {
        return;
    }
    const bool rightToLeft = shown.isRightToLeft();
    const int flags = static_cast<int>(QStyle::visualAlignment(
                          rightToLeft ? Qt::RightToLeft : Qt::LeftToRight, alignment())) |
                      (rightToLeft ? Qt::TextForceRightToLeft : Qt::TextForceLeftToRight);
    QStyleOption option;
    option.initFrom(this);
    style()->drawItemText(&painter, contents, flags, option.palette, isEnabled(), shown,
                          foregroundRole());
}

} // namespace veltrace::toolkit::qt
