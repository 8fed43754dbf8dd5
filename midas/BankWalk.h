// Visiting every bank of an event in order, with 16- or 32-bit bank headers as
// the event has them. Header fields are copied out as bytes: a data area may
// lie at any alignment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "TMidasEvent.h"

namespace bankwalk {

template <class BankT, class Next, class F>
void walk(Next next, F f) {
  BankT* bank = nullptr;
  char* data = nullptr;
  for (;;) {
    const int size = next(&bank, &data);
    if (!bank) return;
    const char* header = reinterpret_cast<const char*>(bank);
    decltype(BankT::fType) type;
    std::memcpy(&type, header + offsetof(BankT, fType), sizeof type);
    f(header + offsetof(BankT, fName), static_cast<uint32_t>(type), data,
      static_cast<uint32_t>(size));
  }
}

}  // namespace bankwalk

// Calls f(name, type, data, size) for each bank: `name` points at the bank's
// four name characters (not terminated), `size` is its data size in bytes.
template <class F>
void forEachBank(const TMidasEvent& e, F f) {
  if (e.IsBank32())
    bankwalk::walk<Bank32_t>([&](Bank32_t** b, char** d) { return e.IterateBank32(b, d); }, f);
  else
    bankwalk::walk<Bank_t>([&](Bank_t** b, char** d) { return e.IterateBank(b, d); }, f);
}
