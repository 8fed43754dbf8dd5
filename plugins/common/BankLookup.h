// Finding a module bank by its fixed name, for unpackers that read several
// banks of one event. Only the whole 32-bit words that the bank's bytes hold
// are counted, whatever the type the bank declares, so decoding never reads
// past it (a short bank of another type would otherwise claim more words).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "TMidasEvent.h"

namespace banklookup {

// The 32-bit words to decode in a bank of `elements` elements of `type`: the
// element count, capped at the words its bytes hold.
inline int wholeWords(int elements, uint32_t type) {
  const int size = type > 0 && type < 17 ? TMidasEvent::TID_SIZE[type] : 0;
  const long long bytes = static_cast<long long>(elements) * std::max(1, size);  // size 0: bytes
  return static_cast<int>(std::min<long long>(elements, bytes / 4));
}

// Calls visit(name, type, data, bytes) for each bank of the event, in order,
// until visit returns true: the banks IterateBank steps through, in one tight
// loop. IterateBank finds the end of the banks again and checks the bank
// pointer at every step, which costs more than the lookups themselves.
template <class BankT, class Visit>
void walkUntil(const TMidasEvent& event, BankT* first, Visit visit) {
  // The first bank lies right after the 8-byte bank area header, whose first
  // word is the size of the banks; the event may hold fewer bytes than that.
  const char* area = reinterpret_cast<const char*>(first) - sizeof(MidasBankHeader);
  uint32_t claimed;
  std::memcpy(&claimed, area + offsetof(MidasBankHeader, fDataSize), sizeof claimed);
  const uint64_t end =
      std::min<uint64_t>(uint64_t(sizeof(MidasBankHeader)) + claimed, event.GetDataSize());
  uint64_t pos = sizeof(MidasBankHeader);
  while (pos + sizeof(BankT) <= end) {
    const char* header = area + pos;
    decltype(BankT::fType) type;
    decltype(BankT::fDataSize) size;
    std::memcpy(&type, header + offsetof(BankT, fType), sizeof type);
    std::memcpy(&size, header + offsetof(BankT, fDataSize), sizeof size);
    if (pos + sizeof(BankT) + size > end) return;  // a bank crossing the end ends the walk
    if (visit(header + offsetof(BankT, fName), static_cast<uint32_t>(type), header + sizeof(BankT),
              static_cast<uint32_t>(size)))
      return;
    pos += sizeof(BankT) + ((uint64_t(size) + 7) & ~uint64_t(7));  // data padded to 8 bytes
  }
}

}  // namespace banklookup

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
  *data = found;
  *words = banklookup::wholeWords(length, static_cast<uint32_t>(type));
  return true;
}

// One bank as findBankWords gives it: found or not, its data and its words.
struct BankWords {
  bool found = false;
  const void* data = nullptr;
  int words = 0;
};

// Looks up N banks of four-character names in one walk over the event's
// banks, for unpackers that need several banks of every event. Each entry of
// `out` is what findBankWords would give for its name: the first bank of that
// name, among the banks a lookup reaches (the walk ends at the first bank that
// would cross the end of the banks). The walk stops once every name is found.
template <size_t N>
void findBanksWords(const TMidasEvent& event, const char* const (&names)[N], BankWords (&out)[N]) {
  uint32_t keys[N];
  for (size_t k = 0; k < N; ++k) {
    out[k] = BankWords();
    std::memcpy(&keys[k], names[k], 4);
  }
  size_t missing = N;
  auto visit = [&](const char* name4, uint32_t type, const char* data, uint32_t bytes) {
    uint32_t key;
    std::memcpy(&key, name4, 4);
    bool wanted = false;  // most banks are none of ours: one test, no branch per name
    for (size_t k = 0; k < N; ++k) wanted |= key == keys[k];
    if (!wanted) return false;
    for (size_t k = 0; k < N; ++k) {
      if (key != keys[k] || out[k].found) continue;
      // Element sizes are 0 (a count of bytes) or a power of two.
      const int size = type < 17 ? TMidasEvent::TID_SIZE[type] : 0;
      const uint32_t elements =
          size > 0 ? bytes >> __builtin_ctz(static_cast<unsigned>(size)) : bytes;
      out[k].found = true;
      out[k].data = data;
      out[k].words = banklookup::wholeWords(static_cast<int>(elements), type);
      --missing;
      return missing == 0;
    }
    return false;
  };
  // The walk starts from the first bank as the event's own iteration finds
  // it, which also settles whether the event has banks at all.
  if (event.IsBank32()) {
    Bank32_t* first = nullptr;
    char* data = nullptr;
    event.IterateBank32(&first, &data);
    if (first) banklookup::walkUntil(event, first, visit);
  } else {
    Bank_t* first = nullptr;
    char* data = nullptr;
    event.IterateBank(&first, &data);
    if (first) banklookup::walkUntil(event, first, visit);
  }
}
