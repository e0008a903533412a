// The device's frame protocol: a byte-at-a-time decoder, and the decoding of the four settings
// bytes into texts and scale factors. Nothing here knows threads, ports or windows: the caller
// hands in each byte and the channel it belongs to.
#pragma once

#include "state/scope_state.h"

#include <cstdint>

namespace veltrace::link {

inline constexpr int FrameLength = 138;

// Where the decoder stands within the current device frame. A fresh decoder (framePosition 0)
// takes its first byte as the sync byte, whatever its value.
struct FrameDecoder {
    std::uint8_t framePosition = 0;
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
