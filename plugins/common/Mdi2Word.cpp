#include "Mdi2Word.h"

#include <cstdint>
#include <iostream>

namespace mdi2 {

void reportBufferOverflow(const std::string& instance, uint32_t header) {
  if (!bufferOverflow(header)) return;
  std::cout << instance << ": HEADER: Mod " << static_cast<int16_t>(module(header)) << ", "
            << static_cast<int16_t>(entries(header)) << " entries: BUFFER OVERFLOW!" << std::endl;
}

}  // namespace mdi2
