#include "V785Word.h"

#include <cstdio>

namespace v785 {

bool reportOdd(uint32_t w) {
  const uint32_t t = type(w);
  if (isUndefined(t)) {
    std::printf("Undefined data: 0x%x\n", w);
    return true;
  }
  if (t == kNotValid) {
    std::printf("Not valid datum\n");
    return true;
  }
  return false;
}

}  // namespace v785
