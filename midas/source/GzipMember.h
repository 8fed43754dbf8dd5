// What the two gzip decoders share, so that they give the same results.
#pragma once

#include <cstddef>

namespace gzipmember {

// Their error texts begin so, with zlib's words after it.
constexpr const char* kPrefix = "gzip: ";
constexpr const char* kNoMemory = "gzip: out of memory";

// Whether [in, in + n) begins a member. After the first, anything else is
// trailing garbage, ignored as gzread ignores it; the first is known to be one.
inline bool startsMember(const char* in, size_t n, bool first) {
  return first || (n >= 2 && static_cast<unsigned char>(in[0]) == 0x1f &&
                   static_cast<unsigned char>(in[1]) == 0x8b);
}

}  // namespace gzipmember
