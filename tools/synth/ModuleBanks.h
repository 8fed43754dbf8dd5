// Banks of the readout modules, made from known contents so that tests can
// check an unpacker's output against what was written.
#pragma once

#include <cstdint>
#include <vector>

#include "MidasSynth.h"

namespace synth {

struct TdcHit {
  uint32_t channel;  // 0..63
  uint32_t time;     // 18 bits
  uint32_t edge;     // 0 leading, 1 trailing
};

struct AdcDatum {
  uint32_t channel;  // 0..31
  uint32_t value;    // 12 bits
  uint32_t flags;    // bits 12 (out of range) and 13 (under threshold) of the word
};

struct MadcDatum {
  uint32_t sample;  // 10 bits
  uint32_t bus;
  bool outOfRange;
  uint32_t value;
};

struct MadcTdcDatum {
  uint32_t bus;
  bool outOfRange;
  uint32_t value;
};

struct Io32Stamp {
  uint32_t input;  // 0..15; only 0..3 have a list in the unpackers
  uint32_t stamp;  // 28 bits
};

// The module banks addModuleBanks writes, as bits of ModuleContent::banks.
enum ModuleBankBits : uint32_t {
  kBankTdc0 = 1u << 0,
  kBankAdc0 = 1u << 1,
  kBankIo32 = 1u << 2,
  kBankMadc = 1u << 3,
  kBankSis = 1u << 4,  // SIS0 .. SIS3
  kAllModuleBanks = kBankTdc0 | kBankAdc0 | kBankIo32 | kBankMadc | kBankSis,
};

// What one event's module banks hold. The word lists of each bank follow from
// it (moduleBanks); `odd*` adds the unusual words a real module may write.
struct ModuleContent {
  uint32_t index = 0;
  // Which banks the event carries (ModuleBankBits); a module left out is one
  // that was not read out in that event.
  uint32_t banks = kAllModuleBanks;
  // TDC0: global header, TDC header, hits, TDC trailer, time tag, global trailer.
  std::vector<TdcHit> tdc;
  bool tdcError = false;       // a TDC error word among the hits
  bool tdcFiller = false;      // a filler word at the end
  bool tdcUnexpected = false;  // one word of type 2 (0x10000000 | index)
  // ADC0: header, data, end of block.
  std::vector<AdcDatum> adc;
  bool adcNotValid = false;   // a not-valid datum word
  bool adcUndefined = false;  // a word of type 1
  // IO32
  uint32_t boardTimestamp = 0;
  std::vector<uint32_t> scalers;
  std::vector<Io32Stamp> stamps;
  // MADC: header, ADC and TDC data, time stamp, one class-2 word.
  std::vector<MadcDatum> madc;
  std::vector<MadcTdcDatum> madcTdc;
  bool madcTimestamp = false;
  uint32_t madcStamp = 0;
  bool madcBufferOverflow = false;
  // SIS0 .. SIS3: 16-bit samples per channel.
  std::vector<std::vector<uint16_t>> sis;
};

// Deterministic contents for event `index` of a run.
ModuleContent makeModuleContent(const RunSpec& spec, uint32_t index);

// The words of each module bank for `c`.
std::vector<uint32_t> v1190Words(const ModuleContent& c);
std::vector<uint32_t> v785Words(const ModuleContent& c);
std::vector<uint32_t> io32Words(const ModuleContent& c);
std::vector<uint32_t> mdi2Words(const ModuleContent& c);

// Appends TDC0, ADC0, IO32, MADC (DWORD banks) and SIS0..SISn (WORD banks),
// those of them that `c.banks` selects, in that order.
void addModuleBanks(Event& event, const ModuleContent& c);

}  // namespace synth
