// V785 ADC data words. The type is bits 26..24:
//
//   type        word              fields
//   0           datum             channel 20..16, value 11..0 (bits 12 and 13,
//                                 out of range and under threshold, are not part of it)
//   2           header
//   4           end of block
//   6           not valid datum
//   1, 3, 5, 7  undefined
#pragma once

#include <cstdint>

namespace v785 {

enum WordType : uint32_t {
  kDatum = 0,
  kHeader = 2,
  kEndOfBlock = 4,
  kNotValid = 6,
};

inline uint32_t type(uint32_t w) { return (w >> 24) & 7; }
inline uint32_t channel(uint32_t w) { return (w >> 16) & 0x1F; }
inline uint32_t value(uint32_t w) { return w & 0xFFF; }

inline bool isUndefined(uint32_t t) { return t & 1; }

// Reports a word that is neither datum, header nor end of block; true if it did.
bool reportOdd(uint32_t w);

}  // namespace v785
