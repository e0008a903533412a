// Clipped straight lines into our RGB images.
#include "toolkit/toolkit.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace veltrace::toolkit {

namespace {

std::int64_t floorDiv(__int128 a, __int128 b) { // b > 0
    __int128 q = a / b;
    if (a % b != 0 && a < 0) {
        --q;
    }
    return static_cast<std::int64_t>(q);
}

} // namespace

// The pixels of a line are those of the ideal segment rounded to the nearest pixel along its
// longer axis ("major"): at major step t the minor coordinate is minor0 + t * dMinor / dMajor
// rounded, halves upwards. Both end points belong to the line, and the line from A to B is the
// same set of pixels as the line from B to A. A segment that lies wholly inside the image is
// walked at once; for any other, clipping picks exactly the steps whose pixel lies in the image,
// found by search rather than by walking, so a segment that starts thousands of pixels outside
// costs no more than one that starts at the edge.
void drawLine(Image& image, int x1, int y1, int x2, int y2, std::uint32_t colour) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() < static_cast<std::size_t>(image.width) * image.height * 3) {
        return;
    }
    const bool xMajor = std::abs(std::int64_t{x2} - x1) >= std::abs(std::int64_t{y2} - y1);
    std::int64_t major0 = xMajor ? x1 : y1, major1 = xMajor ? x2 : y2;
    std::int64_t minor0 = xMajor ? y1 : x1, minor1 = xMajor ? y2 : x2;
    if (major1 < major0) {
        std::swap(major0, major1);
        std::swap(minor0, minor1);
    }
    const std::int64_t majorLimit = (xMajor ? image.width : image.height) - 1;
    const std::int64_t minorLimit = (xMajor ? image.height : image.width) - 1;
    const std::int64_t steps = major1 - major0;  // >= 0
    const std::int64_t dMinor = minor1 - minor0; // |dMinor| <= steps

    // Offset of the minor coordinate from minor0 at step t.
    const auto minorAt = [&](std::int64_t t) -> std::int64_t {
        if (steps == 0) {
            return 0;
        }
        return floorDiv(__int128{2} * t * dMinor + steps, __int128{2} * steps);
    };

    const std::int64_t period = 2 * std::max<std::int64_t>(steps, 1);
    std::int64_t first = 0;
    std::int64_t last = steps;
    std::int64_t minor = minor0;
    // Remainder of 2 * t * dMinor + steps over 2 * steps at the first step drawn.
    std::int64_t remainder = steps;
    const bool wholeInside = major0 >= 0 && major1 <= majorLimit && minor0 >= 0 &&
                             minor0 <= minorLimit && minor1 >= 0 && minor1 <= minorLimit;
    if (!wholeInside) {
        // Steps whose major coordinate lies in the image.
        first = std::max<std::int64_t>(0, -major0);
        last = std::min<std::int64_t>(steps, majorLimit - major0);
        if (first > last) {
            return;
        }
        // The minor coordinate is monotonic in t: narrow [first, last] to the steps inside the
        // image.
        const auto inside = [&](std::int64_t t) {
            const std::int64_t m = minor0 + minorAt(t);
            return m >= 0 && m <= minorLimit;
        };
        const auto before = [&](std::int64_t t) { // pixel at t is on the start side of the image
            const std::int64_t m = minor0 + minorAt(t);
            return dMinor >= 0 ? m < 0 : m > minorLimit;
        };
        {
            std::int64_t lo = first, hi = last + 1; // first step not "before"
            while (lo < hi) {
                const std::int64_t mid = lo + (hi - lo) / 2;
                if (before(mid)) {
                    lo = mid + 1;
                } else {
                    hi = mid;
                }
            }
            first = lo;
        }
        if (first > last || !inside(first)) {
            return;
        }
        {
            std::int64_t lo = first, hi = last; // last step still inside
            while (lo < hi) {
                const std::int64_t mid = lo + (hi - lo + 1) / 2;
                if (inside(mid)) {
                    lo = mid;
                } else {
                    hi = mid - 1;
                }
            }
            last = lo;
        }
        minor = minor0 + minorAt(first);
        remainder = static_cast<std::int64_t>((__int128{2} * first * dMinor + steps) -
                                              __int128{minorAt(first)} * period);
    }

    // Walk the visible steps with the error term, which moves by 2 * dMinor (at most one minor
    // step) per step; the pixel pointer moves with it, one step along each axis at a time.
    const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(image.width) * 3;
    const std::ptrdiff_t majorStride = xMajor ? 3 : row;
    const std::ptrdiff_t minorStride = xMajor ? row : 3;
    const std::int64_t startMajor = major0 + first;
    const std::int64_t x = xMajor ? startMajor : minor;
    const std::int64_t y = xMajor ? minor : startMajor;
    std::uint8_t* pixel = image.rgb.data() + y * row + x * 3;
    const auto red = static_cast<std::uint8_t>(colour);
    const auto green = static_cast<std::uint8_t>(colour >> 8);
    const auto blue = static_cast<std::uint8_t>(colour >> 16);
    for (std::int64_t t = first; t <= last; ++t) {
        pixel[0] = red;
        pixel[1] = green;
        pixel[2] = blue;
        pixel += majorStride;
        remainder += 2 * dMinor;
        if (remainder >= period) {
            remainder -= period;
            pixel += minorStride;
        } else if (remainder < 0) {
            remainder += period;
            pixel -= minorStride;
        }
    }
}

} // namespace veltrace::toolkit
