// Number-to-text conversion and text comparison.
#include "toolkit/toolkit.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace veltrace::toolkit {

namespace {

// Longest fixed-point text a float can need: 39 integer digits, sign, point, 512 decimals.
constexpr int MaxDecimals = 512;
constexpr int AutoDecimals = 10; // decimals tried by the "as many as needed" form (-1)

// The digits printf's "%.*f" writes (exact, ties to even), without its format parsing and locale:
// a frame's texts are formatted on every frame.
std::string fixedPoint(double value, int decimals) {
    char buffer[64 + MaxDecimals];
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (written.ec != std::errc{}) {
        return {};
    }
    return std::string(buffer, written.ptr);
}

// "-0", "-0.00" and the like: a value that rounds to zero shows no sign.
void dropSignOfZero(std::string& text) {
    if (text.empty() || text[0] != '-') {
        return;
    }
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] != '0' && text[i] != '.') {
            return;
        }
    }
    text.erase(0, 1);
}

} // namespace

std::string integerToText(std::int64_t value) {
    return std::to_string(value);
}

std::string floatToText(float value, int decimals) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+Infinity" : "-Infinity";
    }
    std::string text;
    if (decimals == -1) {
        text = fixedPoint(static_cast<double>(value), AutoDecimals);
        const std::size_t lastKept = text.find_last_not_of('0');
        text.erase(lastKept + 1);
        if (!text.empty() && text.back() == '.') {
            text.pop_back();
        }
    } else {
        if (decimals < 0) {
            decimals = 0;
        } else if (decimals > MaxDecimals) {
            decimals = MaxDecimals;
        }
        text = fixedPoint(static_cast<double>(value), decimals);
    }
    dropSignOfZero(text);
    return text;
}

int textEqual(const std::string& a, const std::string& b) {
    return a == b ? 1 : 0;
}

} // namespace veltrace::toolkit
