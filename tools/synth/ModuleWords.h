// Data words of the readout modules, built field by field: the inverse of the
// unpackers' field extractors, kept apart from them so tests compare two
// independent codings of each format.
#pragma once

#include <cstdint>

namespace synth {
namespace words {

// V1190 TDC: type in bits 31..27.
inline uint32_t v1190Hit(uint32_t edge, uint32_t channel, uint32_t time) {
  return (0u << 27) | ((edge & 1) << 26) | ((channel & 0x3F) << 19) | (time & 0x3FFFF);
}
inline uint32_t v1190TdcHeader(uint32_t tdc, uint32_t eventId, uint32_t bunchId) {
  return (1u << 27) | ((tdc & 3) << 24) | ((eventId & 0xFFF) << 12) | (bunchId & 0xFFF);
}
inline uint32_t v1190TdcTrailer(uint32_t tdc, uint32_t eventId, uint32_t wordCount) {
  return (3u << 27) | ((tdc & 3) << 24) | ((eventId & 0xFFF) << 12) | (wordCount & 0xFFF);
}
inline uint32_t v1190TdcError(uint32_t tdc, uint32_t flags) {
  return (4u << 27) | ((tdc & 3) << 24) | (flags & 0x7FFF);
}
inline uint32_t v1190GlobalHeader(uint32_t eventCount, uint32_t geo) {
  return (8u << 27) | ((eventCount & 0x3FFFFF) << 5) | (geo & 0x1F);
}
inline uint32_t v1190GlobalTrailer(uint32_t status, uint32_t wordCount, uint32_t geo) {
  return (16u << 27) | ((status & 7) << 24) | ((wordCount & 0xFFFF) << 5) | (geo & 0x1F);
}
inline uint32_t v1190TimeTag(uint32_t tag) { return (17u << 27) | (tag & 0x7FFFFFF); }
inline uint32_t v1190Filler() { return 24u << 27; }

// V785 ADC: type in bits 26..24; geo in 31..27.
inline uint32_t v785Header(uint32_t geo, uint32_t crate, uint32_t count) {
  return ((geo & 0x1F) << 27) | (2u << 24) | ((crate & 0xFF) << 16) | ((count & 0x3F) << 8);
}
// `flags`: bit 12 out of range, bit 13 under threshold.
inline uint32_t v785Datum(uint32_t geo, uint32_t channel, uint32_t value, uint32_t flags = 0) {
  return ((geo & 0x1F) << 27) | (0u << 24) | ((channel & 0x1F) << 16) | (flags & 0x3000) |
         (value & 0xFFF);
}
inline uint32_t v785EndOfBlock(uint32_t geo, uint32_t eventCounter) {
  return ((geo & 0x1F) << 27) | (4u << 24) | (eventCounter & 0xFFFFFF);
}
inline uint32_t v785NotValid(uint32_t geo) { return ((geo & 0x1F) << 27) | (6u << 24); }

// IO32 time stamp word: input in bits 31..28.
inline uint32_t io32Stamp(uint32_t input, uint32_t stamp) {
  return ((input & 0xF) << 28) | (stamp & 0xFFFFFFF);
}

// MDI2 bus: class in bits 31..30.
inline uint32_t mdi2Header(uint32_t module, uint32_t entries, bool bufferOverflow) {
  return (1u << 30) | ((module & 0xFF) << 16) | (uint32_t(bufferOverflow) << 11) |
         (entries & 0x7FF);
}
inline uint32_t mdi2Adc(uint32_t sample, uint32_t bus, bool outOfRange, uint32_t value) {
  return (1u << 26) | ((sample & 0x3FF) << 16) | ((bus & 1) << 15) |
         (uint32_t(outOfRange) << 14) | (value & 0xFFF);
}
inline uint32_t mdi2Tdc(uint32_t bus, bool outOfRange, uint32_t value) {
  return (2u << 26) | ((bus & 1) << 15) | (uint32_t(outOfRange) << 14) | (value & 0xFFF);
}
inline uint32_t mdi2Timestamp(uint32_t stamp) { return (3u << 30) | (stamp & 0x3FFFFFFF); }
inline uint32_t mdi2Class2(uint32_t payload) { return (2u << 30) | (payload & 0x3FFFFFFF); }

}  // namespace words
}  // namespace synth
