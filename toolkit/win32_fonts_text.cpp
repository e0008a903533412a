// Fonts and text drawing into our own RGB images on Win32.
//
// "Arial" at 11 pixels, the capture font at 96 dpi, is drawn from the glyph table made from the
// Linux build's renderings (glyph_text.h), so captures have the same pixels on both systems.
// Any other font or size is drawn by GDI: each glyph's anti-aliased outline (GetGlyphOutline,
// 65 grey levels) blended with the same arithmetic.
#include "toolkit/drawing_state.h"
#include "toolkit/glyph_text.h"
#include "toolkit/win32_internal.h"

#include <map>
#include <mutex>
#include <vector>

namespace veltrace::toolkit {

namespace {

struct FontEntry {
    HFONT font = nullptr;
    std::string face;
    int pixels = 0;
};

struct FontTable {
    std::mutex mutex;
    std::map<int, FontEntry> byNumber;
};

FontTable& fonts() {
    static FontTable instance;
    return instance;
}

int screenDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? dpi : 96;
}

bool fontByHandle(Handle handle, FontEntry& found) {
    FontTable& table = fonts();
    std::lock_guard lock(table.mutex);
    for (const auto& [number, entry] : table.byNumber) {
        if (reinterpret_cast<Handle>(entry.font) == handle) {
            found = entry;
            return true;
        }
    }
    return false;
}

int drawWithGdi(Image& image, int x, int y, const std::string& text, HFONT font,
                std::uint32_t colour) {
    const HDC dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr) {
        return x;
    }
    const HGDIOBJ old = SelectObject(dc, font != nullptr ? font : win32::guiFont());
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    int pen = x;
    for (const char c : text) {
        const UINT code = static_cast<unsigned char>(c);
        GLYPHMETRICS glyph{};
        const DWORD size =
            GetGlyphOutlineW(dc, code, GGO_GRAY8_BITMAP, &glyph, 0, nullptr, &identity);
        if (size != GDI_ERROR && size > 0) {
            std::vector<std::uint8_t> levels(size);
            if (GetGlyphOutlineW(dc, code, GGO_GRAY8_BITMAP, &glyph, size, levels.data(),
                                 &identity) != GDI_ERROR) {
                const int width = static_cast<int>(glyph.gmBlackBoxX);
                const int height = static_cast<int>(glyph.gmBlackBoxY);
                const int stride = (width + 3) & ~3; // rows are padded to 4 bytes
                std::vector<std::uint8_t> coverage(static_cast<std::size_t>(width) * height);
                for (int row = 0; row < height; ++row) {
                    for (int column = 0; column < width; ++column) {
                        const int level = levels[static_cast<std::size_t>(row) * stride + column];
                        coverage[static_cast<std::size_t>(row) * width + column] =
                            static_cast<std::uint8_t>((level * 255 + 32) / 64);
                    }
                }
                detail::blendCoverage(image, pen + glyph.gmptGlyphOrigin.x,
                                      y + metrics.tmAscent - glyph.gmptGlyphOrigin.y, width, height,
                                      coverage.data(), colour);
            }
        }
        pen += glyph.gmCellIncX;
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    return pen;
}

} // namespace

namespace win32 {

void fontsFreeAll() {
    FontTable& table = fonts();
    std::lock_guard lock(table.mutex);
    for (auto& [number, entry] : table.byNumber) {
        DeleteObject(entry.font);
    }
    table.byNumber.clear();
}

} // namespace win32

int fontLoad(int number, const std::string& face, int points) {
    if (!win32::ready() || points <= 0) {
        return 0;
    }
    // A character height of points × dpi / 72 pixels (a negative height asks for the character,
    // not the cell).
    const int pixels = MulDiv(points, screenDpi(), 72);
    const HFONT font =
        CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                    DEFAULT_PITCH | FF_DONTCARE, win32::wide(face).c_str());
    if (font == nullptr) {
        return 0;
    }
    FontTable& table = fonts();
    std::lock_guard lock(table.mutex);
    const auto old = table.byNumber.find(number);
    if (old != table.byNumber.end()) {
        DeleteObject(old->second.font);
    }
    table.byNumber[number] = FontEntry{font, face, pixels};
    return 1;
}

Handle fontHandle(int number) {
    FontTable& table = fonts();
    std::lock_guard lock(table.mutex);
    const auto found = table.byNumber.find(number);
    return found != table.byNumber.end() ? reinterpret_cast<Handle>(found->second.font) : 0;
}

int drawText(Image& image, int x, int y, const std::string& text, Handle font,
             std::uint32_t colour) {
    if (text.empty() || image.width <= 0 || image.height <= 0 ||
        image.rgb.size() < static_cast<std::size_t>(image.width) * image.height * 3) {
        return x;
    }
    FontEntry entry;
    if (fontByHandle(font, entry)) {
        if (const detail::GlyphFace* face = detail::glyphFaceFor(entry.face, entry.pixels)) {
            return detail::drawGlyphText(image, x, y, text, *face, colour);
        }
        return drawWithGdi(image, x, y, text, entry.font, colour);
    }
    return drawWithGdi(image, x, y, text, nullptr, colour);
}

int drawText(int x, int y, const std::string& text) {
    const detail::DrawingState& state = detail::drawingState();
    if (!state.target) {
        return 0;
    }
    return drawText(*state.target, x, y, text, state.font, state.frontColour);
}

} // namespace veltrace::toolkit
