#include "Io32Bank.h"

#include <algorithm>

#include "BankWords.h"

namespace io32 {

bool unpack(const void* data, int n, Contents& c) {
  if (n <= 2) return false;
  c.scalers.clear();
  c.stamps.resize(kInputs);
  for (auto& s : c.stamps) s.clear();
  c.boardTimestamp = bankWord(data, 1);
  const int32_t s = static_cast<int32_t>(bankWord(data, 2));
  // Compare in 64 bits: S + 3 must not overflow for S near the int maximum.
  const int64_t separator = static_cast<int64_t>(s) + 3;
  // Scalers up to the separator, time stamps after it: two loops, so that no
  // word needs a test of where it lies.
  const int scalerEnd = static_cast<int>(std::min<int64_t>(std::max<int64_t>(separator, 3), n));
  for (int i = 3; i < scalerEnd; ++i) c.scalers.push_back(bankWord(data, i));
  const int stampStart =
      static_cast<int>(std::min<int64_t>(std::max<int64_t>(separator + 1, 3), n));
  for (int i = stampStart; i < n; ++i) {
    const uint32_t w = bankWord(data, i);
    const uint32_t in = input(w);
    if (in < static_cast<uint32_t>(kInputs))
      c.stamps[in].push_back(timestamp(w));
    else
      ++c.droppedStamps;
  }
  return true;
}

}  // namespace io32
