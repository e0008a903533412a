// Number-to-text conversion and text comparison.
#include "toolkit/toolkit.h"

#include <cmath>
#include <cstdio>

namespace veltrace::toolkit {

namespace {

// Longest fixed-point text a float can need: 39 integer digits, sign, point, 512 decimals.
constexpr int MaxDecimals = 512;
constexpr int AutoDecimals = 10; // decimals tried by the "as many as needed" form (-1)

std::string fixedPoint(double value, int decimals) {
    char buffer[64 + MaxDecimals];
    const int length = std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    if (length < 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
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
