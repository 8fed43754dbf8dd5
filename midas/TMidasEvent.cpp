#include "TMidasEvent.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "MidasAssert.h"

const int TMidasEvent::TID_SIZE[17] = {0, 1, 1, 1, 2, 2, 4, 4, 4, 4, 8, 1, 0, 0, 0, 0, 0};

namespace {

// The data area comes from files or from callers at any alignment: every
// multi-byte field is read and written through memcpy.
template <class T>
T load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
void store(char* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

uint16_t swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

uint32_t swap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
}

void reverse(char* p, size_t n) {
  for (size_t i = 0, j = n - 1; i < j; ++i, --j) {
    char t = p[i];
    p[i] = p[j];
    p[j] = t;
  }
}

// Reverses the bytes of each whole unit of 2, 4 or 8 bytes in [p, end).
void reverseUnits(char* p, const char* end, size_t unit) {
  switch (unit) {
    case 2:
      for (; p + 2 <= end; p += 2) store<uint16_t>(p, __builtin_bswap16(load<uint16_t>(p)));
      break;
    case 4:
      for (; p + 4 <= end; p += 4) store<uint32_t>(p, __builtin_bswap32(load<uint32_t>(p)));
      break;
    case 8:
      for (; p + 8 <= end; p += 8) store<uint64_t>(p, __builtin_bswap64(load<uint64_t>(p)));
      break;
    default:
      for (; p + unit <= end; p += unit) reverse(p, unit);
      break;
  }
}

int elementSize(uint32_t type) { return type < 17 ? TMidasEvent::TID_SIZE[type] : 0; }

uint32_t bankDataSize(const Bank_t* b) {
  return load<uint16_t>(reinterpret_cast<const char*>(b) + offsetof(Bank_t, fDataSize));
}
uint32_t bankDataSize(const Bank32_t* b) {
  return load<uint32_t>(reinterpret_cast<const char*>(b) + offsetof(Bank32_t, fDataSize));
}
uint32_t bankType(const Bank_t* b) {
  return load<uint16_t>(reinterpret_cast<const char*>(b) + offsetof(Bank_t, fType));
}
uint32_t bankType(const Bank32_t* b) {
  return load<uint32_t>(reinterpret_cast<const char*>(b) + offsetof(Bank32_t, fType));
}

// The name's four bytes, without a member access: a header may lie at any address.
template <class BankT>
const char* bankName(const BankT* b) {
  return reinterpret_cast<const char*>(b) + offsetof(BankT, fName);
}

// Bank data are padded to 8 bytes; 64-bit so a 32-bit size near 4 GiB cannot wrap.
uint64_t padded(uint64_t size) { return (size + 7) & ~uint64_t(7); }

// Calls visit(header, data size) for each bank from `start` on, in order, and
// stops when visit returns true or at the first bank whose header or data
// would cross `end`: the banks that iterate() steps through, without finding
// the end of the banks again for every step.
template <class BankT, class Visit>
void walkBanks(const char* area, uint64_t start, uint64_t end, Visit visit) {
  uint64_t pos = start;
  while (pos + sizeof(BankT) <= end) {
    const BankT* b = reinterpret_cast<const BankT*>(area + pos);
    const uint64_t size = bankDataSize(b);
    if (pos + sizeof(BankT) + size > end) return;
    if (visit(b, static_cast<uint32_t>(size))) return;
    pos += sizeof(BankT) + padded(size);
  }
}

// walkBanks over every bank of a data area (none without one), with 16- or
// 32-bit bank headers as its flags say; the banks start after the 8-byte bank
// area header and end at `end`.
template <class Visit>
void walkAllBanks(const char* area, bool bank32, uint64_t end, Visit visit) {
  if (!area) return;
  if (bank32)
    walkBanks<Bank32_t>(area, sizeof(MidasBankHeader), end, visit);
  else
    walkBanks<Bank_t>(area, sizeof(MidasBankHeader), end, visit);
}

void* allocateOrDie(size_t n) {
  void* p = std::malloc(n);
  if (!p) {
    std::fprintf(stderr, "TMidasEvent: cannot allocate %zu bytes\n", n);
    std::abort();
  }
  return p;
}

// Room for n names and the terminating NUL, in steps of 400 bytes.
size_t bankListCapacity(int n) {
  size_t need = static_cast<size_t>(n) * 4 + 1;
  return (need + 399) / 400 * 400;
}

}  // namespace

TMidasEvent::TMidasEvent()
    : fEventHeader(),
      fData(nullptr),
      fBanksN(0),
      fBankList(nullptr),
      fAllocatedByUs(false),
      fBankListStore(nullptr),
      fBankListCapacity(0) {}

TMidasEvent::TMidasEvent(const TMidasEvent& other) : TMidasEvent() { Copy(other); }

TMidasEvent::~TMidasEvent() {
  Clear();
  std::free(fBankListStore);
}

// The bank list's room for at least `cap` bytes, kept from event to event so
// that a reader reusing one event allocates nothing per event.
char* TMidasEvent::bankListRoom(size_t cap) {
  if (cap > fBankListCapacity) {
    char* grown = static_cast<char*>(std::realloc(fBankListStore, cap));
    if (!grown) {
      std::fprintf(stderr, "TMidasEvent: cannot allocate %zu bytes\n", cap);
      std::abort();
    }
    fBankListStore = grown;
    fBankListCapacity = cap;
  }
  return fBankListStore;
}

TMidasEvent& TMidasEvent::operator=(const TMidasEvent& other) {
  if (this != &other) {
    Clear();
    Copy(other);
  }
  return *this;
}

void TMidasEvent::Copy(const TMidasEvent& other) {
  if (this == &other) return;
  // Whatever this event held before would otherwise leak.
  Clear();
  fEventHeader = other.fEventHeader;
  if (other.fData && fEventHeader.fDataSize > 0) {
    // One spare zero byte, as for areas read from a file: text areas stay terminated.
    size_t n = fEventHeader.fDataSize;
    fData = static_cast<char*>(allocateOrDie(n + 1));
    std::memcpy(fData, other.fData, n);
    fData[n] = 0;
    fAllocatedByUs = true;
  }
  fBanksN = other.fBanksN;
  if (other.fBankList) {
    size_t cap = bankListCapacity(fBanksN);
    fBankList = bankListRoom(cap);
    std::memset(fBankList, 0, cap);
    std::memcpy(fBankList, other.fBankList, static_cast<size_t>(fBanksN) * 4);
  }
}

void TMidasEvent::Clear() {
  fBankList = nullptr;
  if (fAllocatedByUs) std::free(fData);
  fData = nullptr;
  fAllocatedByUs = false;
  fBanksN = 0;
  fEventHeader = MidasEventHeader();
}

bool TMidasEvent::IsGoodSize() const {
  return fEventHeader.fDataSize >= 1 && fEventHeader.fDataSize <= kMaxDataSize;
}

bool TMidasEvent::IsBank32() const {
  if (!fData || fEventHeader.fDataSize < sizeof(MidasBankHeader)) return false;
  return (load<uint32_t>(fData + offsetof(MidasBankHeader, fFlags)) & 0x10) != 0;
}

void TMidasEvent::AllocateData() {
  MIDAS_ASSERT(!fAllocatedByUs);
  MIDAS_ASSERT(IsGoodSize());
  size_t n = fEventHeader.fDataSize;
  fData = static_cast<char*>(allocateOrDie(n + 1));
  fData[n] = 0;  // spare byte: begin/end-of-run areas go out as C text
  fAllocatedByUs = true;
}

char* TMidasEvent::GetData() {
  if (!fData) AllocateData();
  return fData;
}

void TMidasEvent::SetData(unsigned int size, char* data) {
  MIDAS_ASSERT(!fAllocatedByUs);
  fEventHeader.fDataSize = size;
  MIDAS_ASSERT(IsGoodSize());
  // A list built for the previous area would name banks this one lacks.
  fBankList = nullptr;
  fBanksN = 0;
  fData = data;
  SwapBytes(false);
}

uint32_t TMidasEvent::banksEnd() const {
  if (!fData || fEventHeader.fDataSize < kBanksStart) return kBanksStart;
  uint64_t end = uint64_t(kBanksStart) + load<uint32_t>(fData + offsetof(MidasBankHeader, fDataSize));
  // The bank area header may claim more than the event holds.
  if (end > fEventHeader.fDataSize) end = fEventHeader.fDataSize;
  return static_cast<uint32_t>(end);
}

template <class BankT>
int TMidasEvent::iterate(BankT** bank, char** data) const {
  const uint32_t end = banksEnd();
  uint64_t pos;
  if (*bank == nullptr) {
    pos = kBanksStart;
  } else {
    const char* p = reinterpret_cast<const char*>(*bank);
    // A bank pointer that does not lie inside our banks ends the walk.
    if (!fData || p < fData + kBanksStart || p + sizeof(BankT) > fData + end) {
      pos = end;
    } else {
      uint64_t at = static_cast<uint64_t>(p - fData);
      pos = at + sizeof(BankT) + padded(bankDataSize(*bank));
    }
  }
  // A bank counts only when its header and its whole data lie within the banks.
  if (fData && pos + sizeof(BankT) <= end) {
    BankT* b = reinterpret_cast<BankT*>(fData + pos);
    uint64_t size = bankDataSize(b);
    if (pos + sizeof(BankT) + size <= end) {
      *bank = b;
      *data = fData + pos + sizeof(BankT);
      return static_cast<int>(size);
    }
  }
  *bank = nullptr;
  *data = nullptr;
  return 0;
}

int TMidasEvent::IterateBank(Bank_t** bank, char** data) const { return iterate(bank, data); }

int TMidasEvent::IterateBank32(Bank32_t** bank, char** data) const { return iterate(bank, data); }

int TMidasEvent::FindBank(const char* name, int* length, int* type, void** data) const {
  if (length) *length = 0;
  if (type) *type = 0;
  if (data) *data = nullptr;
  if (!name) return 0;
  // Compare as one 32-bit word; a name shorter than four characters is NUL-padded
  // rather than read past its end.
  char want[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4 && name[i]; ++i) want[i] = name[i];
  const uint32_t key = load<uint32_t>(want);

  const char* bankData = nullptr;
  uint32_t size = 0;
  uint32_t foundType = 0;
  bool found = false;
  auto match = [&](const auto* b, uint32_t bytes) {
    if (load<uint32_t>(bankName(b)) != key) return false;
    foundType = bankType(b);
    size = bytes;
    bankData = reinterpret_cast<const char*>(b) + sizeof(*b);
    found = true;
    return true;
  };
  walkAllBanks(fData, IsBank32(), banksEnd(), match);
  if (!found) return 0;
  const int elem = elementSize(foundType);
  if (length) *length = static_cast<int>(elem > 0 ? size / elem : size);
  if (type) *type = static_cast<int>(foundType);
  if (data) *data = const_cast<char*>(bankData);
  return 1;
}

int TMidasEvent::LocateBank(const void*, const char* name, void** data) const {
  int length = 0, type = 0;
  void* p = nullptr;
  if (!FindBank(name, &length, &type, &p)) length = 0;
  if (data) *data = p;
  return length;
}

int TMidasEvent::SetBankList() {
  if (fEventHeader.fEventId == 0) return 0;
  if (fBankList) return fBanksN;

  size_t cap = fBankListCapacity > 0 ? fBankListCapacity : bankListCapacity(0);
  char* list = bankListRoom(cap);
  int n = 0;
  auto append = [&](const char* name4) {
    if (static_cast<size_t>(n) * 4 + 4 + 1 > cap) {
      cap += 400;
      list = bankListRoom(cap);
    }
    std::memcpy(list + static_cast<size_t>(n) * 4, name4, 4);
    ++n;
  };
  auto add = [&](const auto* b, uint32_t) {
    append(bankName(b));
    return false;
  };
  walkAllBanks(fData, IsBank32(), banksEnd(), add);
  list[static_cast<size_t>(n) * 4] = 0;
  fBankList = list;
  fBanksN = n;
  return n;
}

void TMidasEvent::SwapBytesEventHeader() {
  fEventHeader.fEventId = swap16(fEventHeader.fEventId);
  fEventHeader.fTriggerMask = swap16(fEventHeader.fTriggerMask);
  fEventHeader.fSerialNumber = swap32(fEventHeader.fSerialNumber);
  fEventHeader.fTimeStamp = swap32(fEventHeader.fTimeStamp);
  fEventHeader.fDataSize = swap32(fEventHeader.fDataSize);
}

int TMidasEvent::SwapBytes(bool force) {
  // Too short for a bank area header: nothing to convert.
  if (!fData || fEventHeader.fDataSize < kBanksStart) return 0;
  const uint32_t flags = load<uint32_t>(fData + offsetof(MidasBankHeader, fFlags));
  if (flags < 0x10000 && !force) return 0;
  const uint32_t sizeWord = load<uint32_t>(fData + offsetof(MidasBankHeader, fDataSize));
  // Run transitions and messages carry text (an ODB dump in XML or JSON, a
  // message), whatever it begins with; "<?xm" marks a dump in any event.
  const uint16_t id = fEventHeader.fEventId;
  if (id == 0x8000 || id == 0x8001 || id == 0x8002) return 1;
  if (sizeWord == 0x3C3F786Du || sizeWord == 0x6D783F3Cu) return 1;

  // Forced on data already in host order, the sizes must be read before
  // their bytes are turned; otherwise after.
  const bool hostOrderBefore = flags < 0x10000;
  store<uint32_t>(fData + offsetof(MidasBankHeader, fDataSize), swap32(sizeWord));
  store<uint32_t>(fData + offsetof(MidasBankHeader, fFlags), swap32(flags));
  const uint32_t hostFlags = hostOrderBefore ? flags : swap32(flags);
  const uint32_t hostSize = hostOrderBefore ? sizeWord : swap32(sizeWord);
  uint64_t end = uint64_t(kBanksStart) + hostSize;
  if (end > fEventHeader.fDataSize) end = fEventHeader.fDataSize;

  const bool bank32 = (hostFlags & 0x10) != 0;
  const size_t headerSize = bank32 ? sizeof(Bank32_t) : sizeof(Bank_t);
  uint64_t pos = kBanksStart;
  while (pos + headerSize <= end) {
    char* h = fData + pos;
    uint32_t type, size;
    if (bank32) {
      uint32_t t = load<uint32_t>(h + offsetof(Bank32_t, fType));
      uint32_t s = load<uint32_t>(h + offsetof(Bank32_t, fDataSize));
      store<uint32_t>(h + offsetof(Bank32_t, fType), swap32(t));
      store<uint32_t>(h + offsetof(Bank32_t, fDataSize), swap32(s));
      type = hostOrderBefore ? t : swap32(t);
      size = hostOrderBefore ? s : swap32(s);
    } else {
      uint16_t t = load<uint16_t>(h + offsetof(Bank_t, fType));
      uint16_t s = load<uint16_t>(h + offsetof(Bank_t, fDataSize));
      store<uint16_t>(h + offsetof(Bank_t, fType), swap16(t));
      store<uint16_t>(h + offsetof(Bank_t, fDataSize), swap16(s));
      type = hostOrderBefore ? t : swap16(t);
      size = hostOrderBefore ? s : swap16(s);
    }
    const uint64_t dataStart = pos + headerSize;
    // A bank whose data would cross the end of the banks ends the walk.
    if (dataStart + size > end) break;
    uint64_t next = dataStart + padded(size);
    // The padding is turned too, but never beyond the banks.
    const uint64_t stop = next < end ? next : end;
    size_t unit = 0;
    switch (type) {
      case TID_WORD:
      case TID_SHORT:
        unit = 2;
        break;
      case TID_DWORD:
      case TID_INT:
      case TID_BOOL:
      case TID_FLOAT:
        unit = 4;
        break;
      case TID_DOUBLE:
        unit = 8;
        break;
      default:
        break;
    }
    if (unit) reverseUnits(fData + dataStart, fData + stop, unit);
    pos = next;
  }
  return 1;
}

void TMidasEvent::Print(const char* option) const {
  std::printf("Event start:\n");
  std::printf("  event id:       0x%04x\n", fEventHeader.fEventId);
  std::printf("  trigger mask:   0x%04x\n", fEventHeader.fTriggerMask);
  std::printf("  serial number:%8d\n", static_cast<int>(fEventHeader.fSerialNumber));
  time_t t = static_cast<time_t>(fEventHeader.fTimeStamp);
  const char* when = std::ctime(&t);
  std::printf("  time stamp:     %d, %s", static_cast<int>(fEventHeader.fTimeStamp),
              when ? when : "\n");
  std::printf("  data size:    %8d\n", static_cast<int>(fEventHeader.fDataSize));
  if (fEventHeader.fEventId == 0x8000) {
    std::printf("Begin of run %d\n", static_cast<int>(fEventHeader.fSerialNumber));
    return;
  }
  if (fEventHeader.fEventId == 0x8001) {
    std::printf("End of run %d\n", static_cast<int>(fEventHeader.fSerialNumber));
    return;
  }
  if (fBanksN < 1 || !fBankList) {
    std::printf("TMidasEvent::Print: Use SetBankList() before Print() to print bank data\n");
    return;
  }
  std::printf("Banks: %s\n", fBankList);
  const bool contents = option && option[0] == 'a';
  for (int i = 0; i < fBanksN; ++i) {
    const char* name = fBankList + 4 * i;
    int length = 0, type = 0;
    void* pdata = nullptr;
    const bool found = FindBank(name, &length, &type, &pdata) != 0;
    std::printf("Bank %c%c%c%c, length %6d, type %2d\n", name[0], name[1], name[2], name[3],
                length, type);
    if (!found || !contents) continue;
    const char* d = static_cast<const char*>(pdata);
    auto sep = [](int j) { return j % 10 == 9 ? '\n' : ' '; };
    switch (type) {
      case TID_WORD:
        for (int j = 0; j < length; ++j)
          std::printf("0x%04x%c", load<uint16_t>(d + 2 * static_cast<size_t>(j)), sep(j));
        std::printf("\n");
        break;
      case TID_DWORD:
        for (int j = 0; j < length; ++j)
          std::printf("0x%08x%c", load<uint32_t>(d + 4 * static_cast<size_t>(j)), sep(j));
        std::printf("\n");
        break;
      case TID_FLOAT:
        for (int j = 0; j < length; ++j)
          std::printf("%.8g%c", static_cast<double>(load<float>(d + 4 * static_cast<size_t>(j))),
                      sep(j));
        std::printf("\n");
        break;
      case TID_DOUBLE:
        for (int j = 0; j < length; ++j)
          std::printf("%.16g%c", load<double>(d + 8 * static_cast<size_t>(j)), sep(j));
        std::printf("\n");
        break;
      default:
        std::printf("TMidasEvent::Print: Do not know how to print bank of type %d\n", type);
        break;
    }
  }
}
