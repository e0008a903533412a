// The device's frame protocol: a byte-at-a-time decoder over scope.framePosition, and the
// decoding of the four settings bytes into texts and scale factors. All of it writes into
// element currentChannel of the scope state; callers hold the scope lock.
#pragma once

#include <cstdint>

namespace veltrace::link {

inline constexpr int FrameLength = 138;

// Returns 1 when this byte completed a frame (it stood at position 137), else 0.
int decodeFrameByte(std::uint8_t byte);

void decodeSwitchesByte(std::uint8_t byte);
void decodeTimebaseByte(std::uint8_t byte);
void decodeTriggerByte(std::uint8_t byte);
void decodeLevelByte(std::uint8_t byte);

} // namespace veltrace::link
