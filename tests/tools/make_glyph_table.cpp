// Writes assets/glyphs_sans_11.bin: the glyphs of "Arial" at 11 pixels (8 points at 96 dpi) as
// the Linux build's Qt draws them into images, for the backends that have no Qt (the format is in
// toolkit/glyph_text.h; the build embeds the file). Run it again whenever the font package or Qt
// changes; the GlyphTable tests say when that is needed.
//   make_glyph_table assets/glyphs_sans_11.bin
#include "toolkit/glyph_text.h"

#include <QApplication>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QTextLayout>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int Steps = 4;        // Qt's sub-pixel positions for FreeType glyphs
constexpr int CanvasWidth = 64; // large enough for any glyph of an 11-pixel font
constexpr int CanvasHeight = 48;
constexpr int BaseX = 16;
constexpr int BaseY = 30;

QFont captureFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QString textOf(int byte) {
    return QString(QChar(static_cast<char16_t>(byte)));
}

// The glyph positions Qt's layout gives a text, in 1/64 pixel.
std::vector<long> positions64(const QFont& font, const QString& text) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    std::vector<long> result;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        for (const QPointF& point : run.positions()) {
            result.push_back(std::lround(point.x() * 64));
        }
    }
    return result;
}

struct Glyph {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<unsigned char> coverage;
};

// White on black: with Qt's blend the drawn value is the coverage itself.
Glyph render(const QFont& font, int byte, int step) {
    QImage canvas(CanvasWidth, CanvasHeight, QImage::Format_RGB888);
    canvas.fill(Qt::black);
    {
        QPainter painter(&canvas);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.setBackgroundMode(Qt::TransparentMode);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        painter.drawText(QPointF(BaseX + step / double(Steps), BaseY), textOf(byte));
    }
    int x0 = CanvasWidth, y0 = CanvasHeight, x1 = -1, y1 = -1;
    for (int y = 0; y < CanvasHeight; ++y) {
        for (int x = 0; x < CanvasWidth; ++x) {
            if (canvas.constScanLine(y)[3 * x] != 0) {
                x0 = std::min(x0, x);
                y0 = std::min(y0, y);
                x1 = std::max(x1, x);
                y1 = std::max(y1, y);
            }
        }
    }
    Glyph glyph;
    if (x1 < 0) {
        return glyph;
    }
    glyph.left = x0 - BaseX;
    glyph.top = y0 - BaseY;
    glyph.width = x1 - x0 + 1;
    glyph.height = y1 - y0 + 1;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            glyph.coverage.push_back(canvas.constScanLine(y)[3 * x]);
        }
    }
    return glyph;
}

bool drawable(int byte) {
    return (byte >= 0x20 && byte < 0x7F) || (byte >= 0xA0 && byte != 0xAD);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: make_glyph_table FILE\n");
        return 2;
    }
    const char* outputPath = argv[1];
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    const QFont font = captureFont();
    const QFontMetrics metrics(font);

    std::int32_t advance[256] = {};
    for (int byte = 0; byte < 256; ++byte) {
        if (drawable(byte)) {
            advance[byte] = static_cast<std::int32_t>(
                std::lround(QFontMetricsF(font).horizontalAdvance(textOf(byte)) * 64));
        }
    }

    using veltrace::toolkit::detail::GlyphImage;
    using veltrace::toolkit::detail::KerningPair;
    std::vector<GlyphImage> glyphs;
    std::vector<std::uint8_t> coverage;
    for (int byte = 0; byte < 256; ++byte) {
        for (int step = 0; step < Steps; ++step) {
            const Glyph glyph = drawable(byte) ? render(font, byte, step) : Glyph{};
            glyphs.push_back(GlyphImage{
                static_cast<std::int16_t>(glyph.left), static_cast<std::int16_t>(glyph.top),
                static_cast<std::uint16_t>(glyph.width), static_cast<std::uint16_t>(glyph.height),
                static_cast<std::uint32_t>(coverage.size())});
            coverage.insert(coverage.end(), glyph.coverage.begin(), glyph.coverage.end());
        }
    }

    std::vector<KerningPair> kerning;
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            if (!drawable(first) || !drawable(second)) {
                continue;
            }
            QString pair = textOf(first);
            pair += textOf(second);
            const std::vector<long> at = positions64(font, pair);
            if (at.size() != 2) {
                std::fprintf(stderr, "pair %02x %02x: %zu glyphs\n", first, second, at.size());
                return 1;
            }
            const long adjust = at[1] - at[0] - advance[first];
            if (adjust != 0) {
                kerning.push_back(KerningPair{static_cast<std::uint8_t>(first),
                                              static_cast<std::uint8_t>(second),
                                              static_cast<std::int16_t>(adjust)});
            }
        }
    }

    const veltrace::toolkit::detail::GlyphFace face{"Arial",          11,
                                                    metrics.ascent(), Steps,
                                                    advance,          glyphs.data(),
                                                    coverage.data(),  kerning.data(),
                                                    kerning.size()};
    const std::string note = QFontInfo(font).family().toStdString() + " at 11 pixels as Qt " +
                             qVersion() + " draws it (tests/tools/make_glyph_table.cpp)";
    const std::vector<std::uint8_t> bytes = veltrace::toolkit::detail::encodeGlyphFace(face, note);
    std::FILE* file = std::fopen(outputPath, "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0) {
        std::fprintf(stderr, "make_glyph_table: could not write %s\n", outputPath);
        return 1;
    }
    return 0;
}
