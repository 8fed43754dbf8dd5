// One MIDAS event in memory: the 16-byte event header and the data area that
// holds its banks. Every plug-in that handles MIDAS events compiles this same
// class, so an event can pass between modules as a plain pointer.
#pragma once

#include <cstddef>
#include <cstdint>

// Event header, 16 bytes, as stored by the acquisition (little-endian).
struct MidasEventHeader {
  uint16_t fEventId;       // 0x8000 begin of run, 0x8001 end of run
  uint16_t fTriggerMask;
  uint32_t fSerialNumber;  // the run number for begin and end of run
  uint32_t fTimeStamp;     // seconds since 1970-01-01 UTC
  uint32_t fDataSize;      // bytes of data area after the header
};

// Bank area header: the first 8 bytes of the data area.
struct MidasBankHeader {
  uint32_t fDataSize;  // bytes of banks after this header
  uint32_t fFlags;     // 0x10: banks have 32-bit headers
};

// Bank with a 16-bit header (8 bytes); the data follow it.
struct Bank_t {
  char fName[4];
  uint16_t fType;
  uint16_t fDataSize;
};

// Bank with a 32-bit header (12 bytes); the data follow it.
struct Bank32_t {
  char fName[4];
  uint32_t fType;
  uint32_t fDataSize;
};

static_assert(sizeof(MidasEventHeader) == 16, "event header is 16 bytes on file");
static_assert(sizeof(MidasBankHeader) == 8, "bank area header is 8 bytes on file");
static_assert(sizeof(Bank_t) == 8, "16-bit bank header is 8 bytes on file");
static_assert(sizeof(Bank32_t) == 12, "32-bit bank header is 12 bytes on file");

// MIDAS type ids of bank data.
enum {
  TID_BYTE = 1,
  TID_SBYTE = 2,
  TID_CHAR = 3,
  TID_WORD = 4,
  TID_SHORT = 5,
  TID_DWORD = 6,
  TID_INT = 7,
  TID_BOOL = 8,
  TID_FLOAT = 9,
  TID_DOUBLE = 10,
  TID_BITFIELD = 11,
  TID_STRING = 12,
  TID_ARRAY = 13,
  TID_STRUCT = 14,
  TID_KEY = 15,
  TID_LINK = 16,
};

class TMidasEvent {
 public:
  // Largest data area an event may have.
  static const uint32_t kMaxDataSize = 0x100000;
  // Bytes per element of each type id; 0 where a bank counts bytes.
  static const int TID_SIZE[17];

  TMidasEvent();
  TMidasEvent(const TMidasEvent& other);
  ~TMidasEvent();
  TMidasEvent& operator=(const TMidasEvent& other);

  // Makes this event an owning copy of `other` (header, data, bank list).
  void Copy(const TMidasEvent& other);
  // Frees what the event owns and zeroes every field.
  void Clear();

  uint16_t GetEventId() const { return fEventHeader.fEventId; }
  uint16_t GetTriggerMask() const { return fEventHeader.fTriggerMask; }
  uint32_t GetSerialNumber() const { return fEventHeader.fSerialNumber; }
  uint32_t GetTimeStamp() const { return fEventHeader.fTimeStamp; }
  uint32_t GetDataSize() const { return fEventHeader.fDataSize; }
  MidasEventHeader* GetEventHeader() { return &fEventHeader; }
  const char* GetBankList() const { return fBankList; }

  bool IsGoodSize() const;
  bool IsBank32() const;

  // Allocates a data area of the header's data size (owned by the event).
  void AllocateData();
  // The data area; allocated first when there is none.
  char* GetData();
  // Uses `data` (not owned) of `size` bytes as the data area, fixing its byte order.
  void SetData(unsigned int size, char* data);

  // Step to the first bank (*bank null) or the one after *bank. Returns the
  // bank's data size in bytes with *data at its data, or 0 with both null
  // when no whole bank is left.
  int IterateBank(Bank_t** bank, char** data) const;
  int IterateBank32(Bank32_t** bank, char** data) const;

  // Looks a bank up by its four-character name. Found: returns 1 with the
  // element count (bytes for types without an element size), type and data.
  // Not found: returns 0 with all three zero/null.
  int FindBank(const char* name, int* length, int* type, void** data) const;
  int LocateBank(const void* unused, const char* name, void** data) const;

  // Builds the list of bank names once; returns the number of banks.
  int SetBankList();

  void SwapBytesEventHeader();
  // Converts the data area to host byte order (or, forced, whatever its order).
  // Returns 0 when nothing was done, 1 otherwise. The text of begin-of-run,
  // end-of-run and message events (ids 0x8000 to 0x8002) is never turned.
  int SwapBytes(bool force);

  void Print(const char* option = "") const;

 private:
  // Offsets of the banks inside the data area: [kBanksStart, banksEnd()).
  static const uint32_t kBanksStart = 8;
  uint32_t banksEnd() const;
  template <class BankT>
  int iterate(BankT** bank, char** data) const;
  char* bankListRoom(size_t cap);

  MidasEventHeader fEventHeader;
  char* fData;
  int fBanksN;
  char* fBankList;
  bool fAllocatedByUs;
  // What fBankList points into when set; kept by Clear for the next event.
  char* fBankListStore;
  size_t fBankListCapacity;
};
