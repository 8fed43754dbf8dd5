// MDI2 bus words (MADC and TDC converters). The class is bits 31..30:
//
//   class  word        fields
//   1      header      module 23..16, buffer overflow 11, entries 10..0
//   0      datum       kind 29..26: 1 ADC, 2 TDC, others not read
//   3      time stamp  time stamp 29..0
//   2      (none)
//
//   datum kind  fields
//   1 (ADC)     sample number 25..16, bus 15, out of range 14, value 11..0
//   2 (TDC)     bus 15, out of range 14, value 11..0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mdi2 {

enum WordClass : uint32_t { kDatum = 0, kHeader = 1, kNone = 2, kTimestamp = 3 };
enum DatumKind : uint32_t { kAdc = 1, kTdc = 2 };

inline uint32_t wordClass(uint32_t w) { return w >> 30; }

inline uint32_t module(uint32_t w) { return (w >> 16) & 0xFF; }
inline bool bufferOverflow(uint32_t w) { return (w >> 11) & 1; }
inline uint32_t entries(uint32_t w) { return w & 0x7FF; }

inline uint32_t kind(uint32_t w) { return (w >> 26) & 0xF; }
inline uint32_t sampleNumber(uint32_t w) { return (w >> 16) & 0x3FF; }
inline uint32_t bus(uint32_t w) { return (w >> 15) & 1; }
inline bool outOfRange(uint32_t w) { return (w & 0x4000) != 0; }
inline uint32_t value(uint32_t w) { return w & 0xFFF; }

inline uint32_t timestamp(uint32_t w) { return w & 0x3FFFFFFF; }

// The lists one ADC datum goes into. Entry i of samples, buses and values
// describe the same datum; overflows counts out-of-range data per sample
// number over a whole run.
struct AdcLists {
  std::vector<short>& samples;
  std::vector<short>& buses;
  std::vector<short>& values;
  std::vector<short>& overflows;
};

// Appends an ADC datum: its value, or -1 with its sample number's out-of-range
// count raised (which stops at the largest count a short can show rather than
// wrapping to a negative one).
void appendAdcDatum(uint32_t w, AdcLists lists);

// The header's buffer-overflow report, when its flag is set.
void reportBufferOverflow(const std::string& instance, uint32_t header);

}  // namespace mdi2
