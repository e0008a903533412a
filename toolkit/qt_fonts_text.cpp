// Fonts and text drawing into our own RGB images.
//
// A font gets its pixel size explicitly (points × dots per inch / 72), so text drawn into a
// capture does not depend on the DPI of whatever screen the program runs on: images are not
// screens.
#include "toolkit/drawing_state.h"
#include "toolkit/qt_internal.h"
#include "toolkit/toolkit.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>

#include <cmath>
#include <map>
#include <mutex>

namespace veltrace::toolkit {

namespace {

struct FontEntry {
    Handle handle = 0;
    QFont font;
};

struct FontTable {
    std::mutex mutex;
    std::map<int, FontEntry> byNumber;
    Handle lastHandle = 0;
};

FontTable& fonts() {
    static FontTable instance;
    return instance;
}

constexpr double DefaultDpi = 96.0;

double screenDpi() {
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        return DefaultDpi; // no real screen to measure
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen != nullptr ? screen->logicalDotsPerInchY() : 0.0;
    return dpi > 0.0 ? dpi : DefaultDpi;
}

// The font behind a handle; false when the handle names no loaded font.
bool fontByHandle(Handle handle, QFont& font) {
    FontTable& table = fonts();
    std::lock_guard lock(table.mutex);
    for (const auto& [number, entry] : table.byNumber) {
        if (entry.handle == handle) {
            font = entry.font;
            return true;
        }
    }
    return false;
}

} // namespace

namespace qt {

void fontsFreeAll() {
    FontTable& table = fonts();
    std::lock_guard lock(table.mutex);
    table.byNumber.clear();
}

} // namespace qt

int fontLoad(int number, const std::string& face, int points) {
    if (!qt::ready() || points <= 0) {
        return 0;
    }
    QFont font(QString::fromLatin1(face.data(), static_cast<qsizetype>(face.size())));
    const int pixels = static_cast<int>(std::lround(points * screenDpi() / 72.0));
    font.setPixelSize(std::max(1, pixels));
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    font.setStyleStrategy(QFont::PreferAntialias);
    FontTable& table = fonts();
    std::lock_guard lock(table.mutex);
    table.byNumber[number] = FontEntry{++table.lastHandle, font};
    return 1;
}

Handle fontHandle(int number) {
    FontTable& table = fonts();
    std::lock_guard lock(table.mutex);
    const auto found = table.byNumber.find(number);
    return found != table.byNumber.end() ? found->second.handle : 0;
}

int drawText(Image& image, int x, int y, const std::string& text, Handle font,
             std::uint32_t colour) {
    if (QGuiApplication::instance() == nullptr) {
        return 0;
    }
    QFont qfont;
    if (!fontByHandle(font, qfont)) {
        qfont = QGuiApplication::font();
    }
    const QString str = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    if (str.isEmpty() || image.width <= 0 || image.height <= 0 ||
        image.rgb.size() < static_cast<std::size_t>(image.width) * image.height * 3) {
        return x;
    }
    // The image's own buffer, rows of exactly three bytes per pixel: the constructor with an
    // explicit stride takes them as they are (no 4-byte row alignment is assumed).
    QImage view(image.rgb.data(), image.width, image.height, 3 * image.width,
                QImage::Format_RGB888);
    const QFontMetrics metrics(qfont, &view);
    QPainter painter(&view);
    painter.setFont(qfont);
    painter.setPen(QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                          static_cast<int>((colour >> 16) & 0xFF)));
    // Only the glyphs are blended; the background stays.
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.drawText(QPointF(x, y + metrics.ascent()), str);
    painter.end();
    return x + metrics.horizontalAdvance(str);
}

int drawText(int x, int y, const std::string& text) {
    const detail::DrawingState& state = detail::drawingState();
    if (!state.target) {
        return 0;
    }
    return drawText(*state.target, x, y, text, state.font, state.frontColour);
}

} // namespace veltrace::toolkit
