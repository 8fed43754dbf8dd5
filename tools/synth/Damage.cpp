// Damage inside an event's data area: cuts at the bank structure's own
// boundaries, bank headers that lie, and bit flips. The event header is left
// whole (except by the cuts), so a reader still finds the event and what
// follows it; only the banks are wrong.
#include <algorithm>

#include "Bytes.h"
#include "MidasSynth.h"
#include "Random.h"

namespace synth {

namespace {

const size_t kHeader = 16;     // event header
const size_t kArea = 8;        // bank area header: size, flags
const size_t kFirstBank = kHeader + kArea;

// The data area's own byte order: flags 0x01/0x11 read as they were written,
// or reversed by a big-endian writer.
struct Area {
  bool valid = false;    // the data area has a bank area header at all
  bool swapped = false;
  bool bank32 = false;
};

uint32_t get32(const std::vector<uint8_t>& b, size_t at, bool swapped) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(b[at + i]) << (8 * (swapped ? 3 - i : i));
  return v;
}

void put32At(std::vector<uint8_t>& b, size_t at, uint32_t v, bool swapped) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * (swapped ? 3 - i : i)));
}

Area areaOf(const std::vector<uint8_t>& e) {
  Area a;
  if (e.size() < kFirstBank) return a;
  const uint32_t flags = get32(e, kHeader + 4, false);
  a.valid = flags == 0x01 || flags == 0x11 || flags == 0x01000000u || flags == 0x11000000u;
  a.swapped = flags > 0xff;
  a.bank32 = flags == 0x11 || flags == 0x11000000u;
  return a;
}

size_t bankHeaderSize(const Area& a) { return a.bank32 ? 12 : 8; }

// The first bank's data size, or 0 when the event has no whole first bank header.
size_t firstBankSize(const std::vector<uint8_t>& e, const Area& a) {
  if (!a.valid || e.size() < kFirstBank + bankHeaderSize(a)) return 0;
  if (a.bank32) return get32(e, kFirstBank + 8, a.swapped);
  const size_t at = kFirstBank + 6;
  return a.swapped ? size_t(e[at]) << 8 | e[at + 1] : size_t(e[at + 1]) << 8 | e[at];
}

}  // namespace

bool damageEndsFile(Damage damage) {
  switch (damage) {
    case Damage::TruncatedHeader:
    case Damage::TruncatedData:
    case Damage::TruncatedBankAreaHeader:
    case Damage::TruncatedBankHeader:
    case Damage::TruncatedBankData:
      return true;
    default:
      return false;
  }
}

std::vector<uint8_t> damageBanks(std::vector<uint8_t> e, Damage damage, uint32_t seed) {
  const Area a = areaOf(e);
  const size_t bankHeader = bankHeaderSize(a);
  // Every cut keeps at least one byte of the part it cuts into, and never the whole.
  auto cutInside = [&e](size_t from, size_t length) {
    if (length == 0) return;
    e.resize(std::min(e.size(), from + std::max<size_t>(1, length / 2)));
  };
  switch (damage) {
    case Damage::TruncatedBankAreaHeader:
      cutInside(kHeader, kArea);
      break;
    case Damage::TruncatedBankHeader:
      if (e.size() >= kFirstBank + bankHeader) cutInside(kFirstBank, bankHeader);
      break;
    case Damage::TruncatedBankData: {
      const size_t size = firstBankSize(e, a);
      if (size > 1) cutInside(kFirstBank + bankHeader, size);
      break;
    }
    case Damage::GarbageBankHeader:
      // A name, type and size of noise where the first bank header stood.
      if (e.size() >= kFirstBank + bankHeader) {
        Random r(0x6a7b0000u ^ seed);
        for (size_t i = 0; i < bankHeader; ++i) e[kFirstBank + i] = uint8_t(r.next() | 0x80);
      }
      break;
    case Damage::BankPastEvent:
      // The first bank claims the largest size its header can carry.
      if (e.size() >= kFirstBank + bankHeader) {
        if (a.bank32) {
          put32At(e, kFirstBank + 8, 0xfffffff0u, a.swapped);
        } else {
          e[kFirstBank + 6] = 0xff;
          e[kFirstBank + 7] = 0xff;
        }
      }
      break;
    case Damage::BankAreaPastEvent:
      // The bank area header claims more banks than the event holds.
      if (a.valid) put32At(e, kHeader, get32(e, kHeader, a.swapped) + 0x10000u, a.swapped);
      break;
    case Damage::BitFlips:
      // One flipped bit in every 64 bytes of the data area, at least one.
      if (e.size() > kHeader) {
        Random r(0xb17f1100u ^ seed);
        const size_t area = e.size() - kHeader;
        for (size_t n = std::max<size_t>(1, area / 64); n > 0; --n)
          e[kHeader + r.next() % area] ^= uint8_t(1u << r.below(8));
      }
      break;
    default:
      break;
  }
  return e;
}

}  // namespace synth
