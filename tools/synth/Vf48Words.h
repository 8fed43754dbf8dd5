// Data words of the VF48 waveform digitiser, built field by field, in its two
// layouts (standard, and MERIDAX whose channel headers carry the module). The
// word type is in bits 31..28. Kept apart from the decoding library so tests
// compare two independent codings of the format.
#pragma once

#include <cstdint>

namespace synth {
namespace words {

inline uint32_t vf48Header(uint32_t trigger) { return (0x8u << 28) | (trigger & 0xFFFFFF); }
inline uint32_t vf48Trailer(uint32_t trigger) { return (0xEu << 28) | (trigger & 0xFFFFFF); }
// One 24-bit half of the 48-bit time stamp; the low half is written first.
inline uint32_t vf48Stamp(uint32_t half) { return (0xAu << 28) | (half & 0xFFFFFF); }
inline uint32_t vf48Cfd(uint32_t time) { return (0x4u << 28) | (time & 0xFFFFFF); }

// Standard layout. Channel header: group of eight in bits 6..4, channel within
// the group in bits 3..0 (channels 0..63).
inline uint32_t vf48Channel(uint32_t channel) {
  return (0xCu << 28) | (((channel / 8) & 7) << 4) | (channel % 8);
}
// Two 10-bit samples: the first in bits 9..0, the second in bits 25..16.
inline uint32_t vf48Samples(uint32_t first, uint32_t second) {
  return (first & 0x3FF) | ((second & 0x3FF) << 16);
}
// Charge and pulse words: sub-type in bits 27..24, value in bits 23..0.
inline uint32_t vf48Charge(uint32_t charge) { return (0x5u << 28) | (charge & 0xFFFFFF); }
inline uint32_t vf48Peak(uint32_t height, uint32_t maxTime) {
  return (0x5u << 28) | (1u << 24) | ((height & 0x3FFF) << 10) | (maxTime & 0x3FF);
}
// `pedestal` is the module's 12-bit pedestal field: the pedestal times 14 / 4.
inline uint32_t vf48Width(uint32_t pedestal, uint32_t width) {
  return (0x5u << 28) | (2u << 24) | ((pedestal & 0xFFF) << 12) | (width & 0xFFF);
}

// MERIDAX layout. Channel header: module number plus one in bits 15..8, the
// channel as two decimal digits in bits 6..0, bit 7 adding 60 (channels 0..119).
inline uint32_t vf48MeridaxChannel(uint32_t module, uint32_t channel) {
  const uint32_t high = channel >= 60 ? 0x80u : 0u;
  const uint32_t c = channel % 60;
  return (0xCu << 28) | (((module + 1) & 0xFF) << 8) | high | ((c / 10) << 4) | (c % 10);
}
// Two 14-bit samples: the first in bits 13..0, the second in bits 27..14.
inline uint32_t vf48MeridaxSamples(uint32_t first, uint32_t second) {
  return (first & 0x3FFF) | ((second & 0x3FFF) << 14);
}
// Charge in bits 15..0; the layout has no pulse-height or width words.
inline uint32_t vf48MeridaxCharge(uint32_t charge) { return (0x5u << 28) | (charge & 0xFFFF); }

}  // namespace words
}  // namespace synth
