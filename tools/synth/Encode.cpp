// Event and bank encoding.
#include <algorithm>
#include <stdexcept>

#include "Bytes.h"
#include "MidasSynth.h"

namespace synth {

size_t elementSize(uint32_t type) {
  switch (type) {
    case TID_BYTE: case TID_SBYTE: case TID_CHAR: case TID_BITFIELD: return 1;
    case TID_WORD: case TID_SHORT: return 2;
    case TID_DWORD: case TID_INT: case TID_BOOL: case TID_FLOAT: return 4;
    case TID_DOUBLE: return 8;
    default: return 0;
  }
}

namespace {

size_t padded(size_t n) { return (n + 7) & ~size_t(7); }

void reverse(std::vector<uint8_t>& b, size_t at, size_t n) {
  std::reverse(b.begin() + at, b.begin() + at + n);
}

}  // namespace

std::vector<uint8_t> encodeDataArea(const Event& event, bool swapped) {
  if (!event.raw.empty()) return event.raw;

  const size_t headerSize = event.bank32 ? 12 : 8;
  std::vector<uint8_t> out;
  put32(out, 0);  // bank area size, filled in below
  put32(out, event.bank32 ? 0x11 : 0x01);
  for (const Bank& bank : event.banks) {
    if (bank.name.size() != 4)
      throw std::invalid_argument("bank name '" + bank.name + "' is not four characters");
    if (!event.bank32 && (bank.type > 0xffff || bank.data.size() > 0xffff))
      throw std::invalid_argument("bank " + bank.name + " does not fit a 16-bit bank header");
    if (bank.data.size() > 0xffffffffu)
      throw std::invalid_argument("bank " + bank.name + " is too large");

    const size_t start = out.size();
    out.insert(out.end(), bank.name.begin(), bank.name.end());
    if (event.bank32) {
      put32(out, bank.type);
      put32(out, uint32_t(bank.data.size()));
    } else {
      put16(out, uint16_t(bank.type));
      put16(out, uint16_t(bank.data.size()));
    }
    out.insert(out.end(), bank.data.begin(), bank.data.end());
    out.resize(start + headerSize + padded(bank.data.size()), 0);

    if (swapped) {
      const size_t field = event.bank32 ? 4 : 2;
      reverse(out, start + 4, field);
      reverse(out, start + 4 + field, field);
      // A reader converts whole units up to the next bank, padding included.
      const size_t unit = elementSize(bank.type);
      if (unit > 1)
        for (size_t at = start + headerSize; at < out.size(); at += unit) reverse(out, at, unit);
    }
  }
  set32(out, 0, uint32_t(out.size() - 8));
  if (swapped) {
    reverse(out, 0, 4);
    reverse(out, 4, 4);
  }
  return out;
}

std::vector<uint8_t> encodeEvent(const Event& event, bool swapped) {
  const std::vector<uint8_t> data = encodeDataArea(event, swapped);
  std::vector<uint8_t> out;
  out.reserve(16 + data.size());
  put16(out, event.id);
  put16(out, event.triggerMask);
  put32(out, event.serial);
  put32(out, event.timeStamp);
  put32(out, uint32_t(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

}  // namespace synth
