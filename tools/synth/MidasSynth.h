// Synthetic MIDAS run files for demos and tests: events built from known
// contents, written plain or compressed (gzip, lz4, bzip2, zstd), in host or swapped byte order,
// whole or deliberately damaged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class AtomicFile;

namespace synth {

// MIDAS bank type ids.
enum BankType : uint32_t {
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

// Bytes per element of a bank type; 0 for the types without one (STRING, ARRAY, ...).
size_t elementSize(uint32_t type);

// One bank: its data bytes in little-endian element order.
struct Bank {
  std::string name;  // four characters
  uint32_t type = TID_DWORD;
  std::vector<uint8_t> data;
};

struct Event {
  uint16_t id = 1;
  uint16_t triggerMask = 0;
  uint32_t serial = 0;
  uint32_t timeStamp = 0;
  bool bank32 = false;          // 32-bit bank headers (flags 0x11) instead of 16-bit (0x01)
  std::vector<Bank> banks;
  std::vector<uint8_t> raw;     // when not empty: the whole data area as is (ODB XML text)
};

// Bank builders: one small function per kind of bank.
Bank wordBank(const std::string& name, const std::vector<uint16_t>& values);
Bank shortBank(const std::string& name, const std::vector<int16_t>& values);
Bank dwordBank(const std::string& name, const std::vector<uint32_t>& values);
Bank intBank(const std::string& name, const std::vector<int32_t>& values);
Bank floatBank(const std::string& name, const std::vector<float>& values);
Bank doubleBank(const std::string& name, const std::vector<double>& values);
Bank boolBank(const std::string& name, const std::vector<bool>& values);  // 4 bytes each, 0 or 1
Bank byteBank(const std::string& name, uint32_t type, const std::vector<uint8_t>& bytes);  // BYTE, SBYTE, CHAR, BITFIELD, STRING
// A STRING bank holding `text` followed by its terminating NUL.
Bank stringBank(const std::string& name, const std::string& text);

// The ODB dump of a run as XML text (what begin- and end-of-run events carry),
// without a terminating NUL. Times are seconds since 1970 (0: not known); a
// dump with a stop time describes a stopped run.
std::string odbXml(uint32_t run, uint32_t events);
std::string odbXml(uint32_t run, uint32_t events, uint32_t startTime, uint32_t stopTime);
// The same database in the JSON form of current MIDAS loggers.
std::string odbJson(uint32_t run, uint32_t events, uint32_t startTime, uint32_t stopTime);
enum class OdbForm { Xml, Json };
std::string odbDump(OdbForm form, uint32_t run, uint32_t events, uint32_t startTime, uint32_t stopTime);
// id 0x8000, serial = run, data = odbDump(form, run, 0, timeStamp, 0)
Event beginOfRun(uint32_t run, uint32_t timeStamp, OdbForm form = OdbForm::Xml);
Event endOfRun(uint32_t run, uint32_t timeStamp, uint32_t events);  // id 0x8001, odbXml(run, events, 0, timeStamp)
Event endOfRun(uint32_t run, uint32_t startTime, uint32_t timeStamp, uint32_t events,
               OdbForm form = OdbForm::Xml);

// The data area of an event: bank area header, then each bank's header and
// data, padded with zero bytes to 8. Throws std::invalid_argument for a bank
// name that is not four characters, or a type or size that a 16-bit bank
// header cannot hold. With `swapped`, every multi-byte field and element
// is byte-reversed (the bank area header, bank headers, WORD/SHORT in 2-byte,
// DWORD/INT/BOOL/FLOAT in 4-byte, DOUBLE in 8-byte units); raw areas are never swapped.
std::vector<uint8_t> encodeDataArea(const Event& event, bool swapped = false);
// The 16-byte event header (always host order) followed by the data area.
std::vector<uint8_t> encodeEvent(const Event& event, bool swapped = false);

// A deterministic run: begin of run, `events` ordinary events with banks of
// several types (ids and trigger masks vary by event), end of run.
struct RunSpec {
  uint32_t run = 1;
  uint32_t events = 10;
  uint32_t seed = 1;
  bool bank32 = false;
  bool swapped = false;  // data areas byte-swapped ("big-endian" run file)
  bool modules = false;  // ordinary events also carry module banks (ModuleBanks.h)
  // The chance, 0 to 1, that an event's module banks also hold the unusual
  // words a real module may write (error, not-valid and undefined words,
  // buffer and TDC overflows), which the unpackers warn about. 0: clean data.
  double noise = 0;
  // Ordinary events also carry one VF48 bank per module 0 .. vf48Modules - 1
  // (ModuleBanks.h), in the MERIDAX layout when vf48Meridax is set.
  uint32_t vf48Modules = 0;
  bool vf48Meridax = false;
  OdbForm odb = OdbForm::Xml;  // the form of the begin- and end-of-run dumps
};
std::vector<Event> makeRun(const RunSpec& spec);
// The pieces of makeRun, for writing long runs without holding them: the time
// stamp of the begin of run, and ordinary event `index` (0 to events - 1),
// which depends only on the run settings and the index.
uint32_t runStartTime(const RunSpec& spec);
Event makeEvent(const RunSpec& spec, uint32_t index);
Event makeBeginOfRun(const RunSpec& spec);
Event makeEndOfRun(const RunSpec& spec);

// Kinds of damage for reader tests, applied to the file's last event.
enum class Damage {
  None,
  TruncatedHeader,  // the file ends inside the last event's header (8 of 16 bytes)
  TruncatedData,    // the file ends inside the last event's data (half of it written)
  ZeroSize,         // the last header claims 0 data bytes; no data follow it
  OversizeData,     // the last header claims 1048577 data bytes; its real data follow
  // Damage inside the data area (Damage.cpp); the event header stays as written.
  TruncatedBankAreaHeader,  // the file ends inside the bank area header
  TruncatedBankHeader,      // the file ends inside the first bank's header
  TruncatedBankData,        // the file ends inside the first bank's data
  GarbageBankHeader,        // the first bank's header is noise (name, type, size)
  BankPastEvent,            // the first bank's size is the largest its header holds
  BankAreaPastEvent,        // the bank area header claims 64 KiB more than the event has
  BitFlips,                 // one bit flipped in every 64 bytes of the data area
};
// Whether a damage cuts the file short: nothing can follow the damaged event.
bool damageEndsFile(Damage damage);
// The data-area kinds above, done to an encoded event (others leave it as it
// is); `seed` chooses the noise and the flipped bits.
std::vector<uint8_t> damageBanks(std::vector<uint8_t> encoded, Damage damage, uint32_t seed = 1);
// An encoded event (header and data area) with `damage` done to it.
std::vector<uint8_t> damageEvent(std::vector<uint8_t> encoded, Damage damage);

// Writes events to `path`, compressed when the name ends in .gz, .lz4, .bz2
// or .zst (one member for the whole run). Returns false with `error` set when
// the file cannot be written. Damage with no events to apply it to is an error.
bool writeRun(const std::string& path, const std::vector<Event>& events, bool swapped,
              Damage damage, std::string& error);

class Compressor;

// A run file written piece by piece: plain, or compressed by the name's ending
// as writeRun does. A member size above 0 ends each member (gzip member, lz4
// or zstd frame, bzip2 stream) after that many bytes of the run, events cut
// across members wherever the count falls.
class RunWriter {
 public:
  RunWriter();
  ~RunWriter();  // a file not closed is discarded: an earlier one of its name stays
  RunWriter(const RunWriter&) = delete;
  RunWriter& operator=(const RunWriter&) = delete;

  // `growing`: written under its own name from the start, as a logger writes a
  // run that is read while it grows (a failure then leaves what was written);
  // a plain one gets each write() whole, in one system write.
  bool open(const std::string& path, std::string& error, uint64_t memberSize = 0,
            bool growing = false);
  bool write(const std::vector<uint8_t>& bytes, std::string& error);
  // Hands what was written to the file, so a reader of the growing file sees
  // whole events (compressed: a flush of the stream, decodable up to here).
  bool flush(std::string& error);
  // Renames the complete file over its name; reports what the final flush found.
  bool close(std::string& error);

 private:
  std::string path;
  std::unique_ptr<AtomicFile> file;
  std::FILE* out = nullptr;  // the temporary file's stream
  std::unique_ptr<Compressor> packer;
  uint64_t memberSize = 0;
  uint64_t inMember = 0;  // bytes of the run in the member being written
  uint64_t members = 0;   // members ended
};

}  // namespace synth
