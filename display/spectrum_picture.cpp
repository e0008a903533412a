#include "display/spectrum_picture.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace veltrace::display {

namespace {

namespace tk = veltrace::toolkit;

constexpr std::uint32_t GridColour = tk::rgbColour(0, 72, 0);
constexpr std::uint32_t StrongestColour = tk::rgbColour(255, 255, 255);
constexpr std::uint32_t MarkColour = tk::rgbColour(255, 64, 64);
constexpr int BarLeft = 2; // columns of the bar inside its line's eight
constexpr int BarWidth = 4;
constexpr int MarkRows = 4; // a small triangle pointing down, ending two rows above the bar
constexpr int MarkGap = 2;

// One line's column as drawn.
struct Column {
    int top = SpectrumHeight;
    bool strongest = false;
    bool operator==(const Column&) const = default;
};

Column columnOf(const SpectrumBars& bars, int line) {
    if (line < 0 || static_cast<std::size_t>(line) >= bars.tops.size()) {
        return {};
    }
    return {bars.tops[static_cast<std::size_t>(line)], line == bars.strongest};
}

void fill(std::uint8_t* pixel, int count, std::uint32_t colour) {
    for (int x = 0; x < count; ++x, pixel += 3) {
        pixel[0] = static_cast<std::uint8_t>(colour);
        pixel[1] = static_cast<std::uint8_t>(colour >> 8);
        pixel[2] = static_cast<std::uint8_t>(colour >> 16);
    }
}

// Rows [fromRow, toRow) of a line's column: the grid, then the bar or the mark over it.
void paintRows(tk::Image& image, int line, int fromRow, int toRow, const Column& column,
               std::uint32_t barColour) {
    const int left = line * SpectrumColumnsPerLine;
    const int columns = std::min(SpectrumColumnsPerLine, image.width - left);
    const std::uint32_t colour = column.strongest ? StrongestColour : barColour;
    const int markTop = column.top - MarkGap - MarkRows;
    fromRow = std::max(fromRow, 0);
    toRow = std::min(toRow, image.height);
    for (int row = fromRow; row < toRow; ++row) {
        std::uint8_t* pixels =
            image.rgb.data() + (static_cast<std::size_t>(row) * image.width + left) * 3;
        fill(pixels, columns,
             row > 0 && row % SpectrumRowsPerDivision == 0 ? GridColour : std::uint32_t{0});
        if (row >= column.top) {
            fill(pixels + BarLeft * 3, std::min(BarWidth, columns - BarLeft), colour);
        } else if (column.strongest && row >= markTop && row < markTop + MarkRows) {
            // A small triangle pointing down: each row a pixel narrower at either end.
            const int k = row - markTop;
            fill(pixels + k * 3, std::min(SpectrumColumnsPerLine - k, columns) - k, MarkColour);
        }
    }
}

} // namespace

bool redrawSpectrum(tk::Image& image, const SpectrumBars& bars, SpectrumFootprint& footprint) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() < static_cast<std::size_t>(image.width) * image.height * 3) {
        return false;
    }
    const int lines = (image.width + SpectrumColumnsPerLine - 1) / SpectrumColumnsPerLine;
    const bool whole = !footprint.valid || footprint.bars.colour != bars.colour;
    for (int line = 0; line < lines; ++line) {
        const Column now = columnOf(bars, line);
        if (whole) {
            paintRows(image, line, 0, image.height, now, bars.colour);
            continue;
        }
        const Column before = columnOf(footprint.bars, line);
        if (now == before) {
            continue;
        }
        // Below both tops the bar stays as it was, unless its colour changed with the mark.
        const bool marked = now.strongest || before.strongest;
        const int from = std::min(now.top, before.top) - (marked ? MarkGap + MarkRows : 0);
        const int to =
            now.strongest == before.strongest ? std::max(now.top, before.top) : image.height;
        paintRows(image, line, from, to, now, bars.colour);
    }
    footprint.bars.colour = bars.colour;
    footprint.bars.tops.assign(bars.tops.begin(), bars.tops.end());
    footprint.bars.strongest = bars.strongest;
    footprint.valid = true;
    return true;
}

} // namespace veltrace::display
