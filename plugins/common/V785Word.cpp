#include "V785Word.h"

#include <cstdio>

#include "HexText.h"

namespace v785 {

bool reportOdd(uint32_t w) {
  const uint32_t t = type(w);
  if (isUndefined(t)) {
    hextext::printLine("Undefined data: 0x", w, 1);
    return true;
  }
  if (t == kNotValid) {
    std::printf("Not valid datum\n");
    return true;
  }
  return false;
}

}  // namespace v785
