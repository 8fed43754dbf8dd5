// V1190 TDC data words. The type is bits 31..27; fields by type:
//
//   type  word              fields
//   0     measurement (hit) edge 26, channel 24..19 (bit 25 is not part of it),
//                           time 17..0 (bit 18 is not part of it), 0.1 ns per count
//   1     TDC header        tdc 25..24, event id 23..12, bunch id 11..0
//   3     TDC trailer       tdc 25..24, event id 23..12, word count 11..0
//   4     TDC error         tdc 25..24, error flags 14..0
//   8     global header     event count 26..5, geo 4..0
//   16    global trailer    status 26..24, word count 20..5, geo 4..0
//   17    trigger time tag  time tag 26..0
//   24    filler
//   other                   unexpected
#pragma once

#include <cstdint>

namespace v1190 {

enum WordType : uint32_t {
  kHit = 0,
  kTdcHeader = 1,
  kTdcTrailer = 3,
  kTdcError = 4,
  kGlobalHeader = 8,
  kGlobalTrailer = 16,
  kTriggerTimeTag = 17,
  kFiller = 24,
};

constexpr double kNsPerCount = 0.1;

inline uint32_t type(uint32_t w) { return w >> 27; }

inline uint32_t edge(uint32_t w) { return (w >> 26) & 1; }
inline uint32_t channel(uint32_t w) { return (w >> 19) & 0x3F; }
inline uint32_t time(uint32_t w) { return w & 0x3FFFF; }

inline uint32_t tdc(uint32_t w) { return (w & 0x3000000) >> 24; }
inline uint32_t eventId(uint32_t w) { return (w & 0xFFF000) >> 12; }
inline uint32_t bunchId(uint32_t w) { return w & 0xFFF; }
inline uint32_t tdcWordCount(uint32_t w) { return w & 0xFFF; }
inline uint32_t errorFlags(uint32_t w) { return w & 0x7FFF; }

inline uint32_t eventCount(uint32_t w) { return (w & 0x7FFFFE0) >> 5; }
inline uint32_t geo(uint32_t w) { return w & 0x1F; }
inline uint32_t status(uint32_t w) { return (w & 0x7000000) >> 24; }
inline uint32_t globalWordCount(uint32_t w) { return (w & 0x1FFFE0) >> 5; }

inline uint32_t timeTag(uint32_t w) { return w & 0x7FFFFFF; }

// True for the types the module writes; others are reported as unexpected.
// One bit test rather than a chain of comparisons: the types of a module's
// words follow no pattern a branch predictor could learn.
inline bool isKnown(uint32_t t) {
  constexpr uint32_t known = 1u << kHit | 1u << kTdcHeader | 1u << kTdcTrailer | 1u << kTdcError |
                             1u << kGlobalHeader | 1u << kGlobalTrailer | 1u << kTriggerTimeTag |
                             1u << kFiller;
  return t < 32 && (known >> t & 1) != 0;
}

// The message for a word of an unexpected type, printed whether or not tracing.
void reportUnexpected(uint32_t w);

// One trace line for a word of a known type (standard output).
void traceWord(uint32_t w);

}  // namespace v1190
