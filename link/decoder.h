// The device's frame protocol: a byte-at-a-time decoder, and the decoding of the four settings
// bytes into texts and scale factors. Nothing here knows threads, ports or windows: the caller
// hands in each byte and the channel it belongs to.
#pragma once

#include "state/scope_state.h"

#include <array>
#include <cstdint>

namespace veltrace::link {

inline constexpr int FrameLength = 138;
// A position past the frame's end: the decoder ignores bytes until the next sync byte (or until
// the position wraps round to 0, 118 bytes later).
inline constexpr std::uint8_t WaitForSync = FrameLength;

// Where the decoder stands within the current device frame. A fresh decoder (framePosition 0)
// takes its first byte as the sync byte, whatever its value.
//
// It also keeps the bytes of the frame in progress that no channel holds, as they stood at their
// positions: the sync byte and the four settings bytes (positions 0..4) and the device's own
// reading (134..137). The window shows none of them; the frame log reports and checks them.
struct FrameDecoder {
    std::uint8_t framePosition = 0;
    std::array<std::uint8_t, 5> head{};
    std::array<std::uint8_t, 4> reading{};
    // The channel whose trigger text this frame's trigger byte set (identity only, never read).
    const state::ChannelData* triggerChannel = nullptr;
};

// Decodes one received byte into `channel` (the slot the frame goes to; the caller may pass
// another one for every byte). Returns 1 when this byte completed a frame (it stood at position
// 137), else 0.
int decodeFrameByte(FrameDecoder& decoder, std::uint8_t byte, state::ChannelData& channel);

void decodeSwitchesByte(std::uint8_t byte, state::ChannelData& channel);
void decodeTimebaseByte(std::uint8_t byte, state::ChannelData& channel);
void decodeTriggerByte(std::uint8_t byte, state::ChannelData& channel);
void decodeLevelByte(std::uint8_t byte, state::ChannelData& channel);

} // namespace veltrace::link
