#include "app/program_icon.h"

#include <cmath>
#include <numbers>

namespace veltrace::app {

namespace tk = veltrace::toolkit;

// A dark screen with a grey bezel, a faint centre line and one green sine period, so the program
// is recognisable in a task bar.
std::shared_ptr<tk::Image> drawProgramIcon(int size) {
    std::shared_ptr<tk::Image> icon = tk::imageBlank(size, size);
    if (!icon || size < 8) {
        return nullptr;
    }
    tk::Image& image = *icon;
    const int scale = size / 16 > 0 ? size / 16 : 1; // lines grow with the icon
    const std::uint32_t bezel = tk::rgbColour(150, 150, 150);
    const std::uint32_t screen = tk::rgbColour(16, 24, 32);
    const std::uint32_t grid = tk::rgbColour(60, 70, 80);
    const std::uint32_t trace = tk::rgbColour(40, 255, 80);
    const int last = size - 1;
    for (int y = 0; y < size; ++y) {
        tk::drawLine(image, 0, y, last, y, screen);
    }
    // Lines `scale` pixels thick, centred on where a 16-pixel icon draws its one-pixel line.
    const int penStart = -(scale / 2);
    for (int k = penStart; k < penStart + scale; ++k) {
        tk::drawLine(image, scale, size / 2 + k, last - scale, size / 2 + k, grid);
    }
    // The trace is drawn with a square pen, so a large icon's sine is as thick on its steep
    // flanks as at its peaks.
    const int inner = size - 2 * scale;
    const double amplitude = 5.0 * size / 16.0;
    int lastY = 0;
    for (int x = scale; x <= last - scale; ++x) {
        const double phase = 2.0 * std::numbers::pi * (x - scale) / (inner - 1);
        const int y = size / 2 - static_cast<int>(std::lround(amplitude * std::sin(phase)));
        if (x > scale) {
            for (int dx = penStart; dx < penStart + scale; ++dx) {
                for (int dy = penStart; dy < penStart + scale; ++dy) {
                    tk::drawLine(image, x - 1 + dx, lastY + dy, x + dx, y + dy, trace);
                }
            }
        }
        lastY = y;
    }
    // The bezel last, over the pen's overhang at both ends of the trace.
    for (int k = 0; k < scale; ++k) {
        tk::drawLine(image, 0, k, last, k, bezel);
        tk::drawLine(image, 0, last - k, last, last - k, bezel);
        tk::drawLine(image, k, 0, k, last, bezel);
        tk::drawLine(image, last - k, 0, last - k, last, bezel);
    }
    return icon;
}

} // namespace veltrace::app
