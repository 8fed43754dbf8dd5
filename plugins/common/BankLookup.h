// Finding a module bank by its fixed name, for unpackers that read several
// banks of one event. Only the whole 32-bit words that the bank's bytes hold
// are counted, whatever the type the bank declares, so decoding never reads
// past it (a short bank of another type would otherwise claim more words).
#pragma once

#include <algorithm>

#include "TMidasEvent.h"

// True when the event holds a bank of that name, even an empty one; `data`
// then points at its first byte and `words` is the number of 32-bit words to
// decode: the bank's element count, capped at the words its bytes hold.
// False, with null data and 0 words, when there is no such bank. `elements`,
// when given, receives the element count the bank's type gives (0 when missing).
inline bool findBankWords(const TMidasEvent& event, const char* name, const void** data,
                          int* words, int* elements = nullptr) {
  int length = 0, type = 0;
  void* found = nullptr;
  *data = nullptr;
  *words = 0;
  if (elements) *elements = 0;
  if (!event.FindBank(name, &length, &type, &found) || !found) return false;
  if (elements) *elements = length;
  const int size = type > 0 && type < 17 ? TMidasEvent::TID_SIZE[type] : 0;
  const long long bytes = static_cast<long long>(length) * std::max(1, size);  // size 0: bytes
  *data = found;
  *words = static_cast<int>(std::min<long long>(length, bytes / 4));
  return true;
}
