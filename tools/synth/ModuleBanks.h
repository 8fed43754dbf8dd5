// Banks of the readout modules, made from known contents so that tests can
// check an unpacker's output against what was written.
#pragma once

#include <cstdint>
#include <string>
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

// VF48 waveform digitisers, one bank per module (Vf48.cpp). Every module sees
// the same triggers; its clock runs vf48ClockOffset(module) time-stamp units
// ahead of the trigger time, now and then off by one or two units.
enum class Vf48Layout { Standard, Meridax };

struct Vf48Channel {
  uint32_t channel = 0;           // 0..47
  std::vector<uint16_t> samples;  // an even number: two a word
  // A pulse on the pedestal, with the module's words for it; without a pulse
  // the channel has samples only and the values below are 0.
  bool pulse = false;
  uint32_t cfdTime = 0;      // first sample at or above half the height
  uint32_t charge = 0;       // sum of the pulse above the pedestal
  uint32_t pMaxtime = 0;     // sample of the maximum (standard layout only)
  uint32_t pulseheight = 0;  // largest sample, pedestal included (standard only)
  uint32_t pulsewidth = 0;   // samples at or above half the height (standard only)
  uint32_t pedestalWord = 0; // the pedestal times 14 / 4, 12 bits (standard only)
};

struct Vf48Module {
  uint32_t module = 0;
  uint32_t trigger = 0;    // 24 bits, the same in header and trailer
  uint64_t timeStamp = 0;  // 48 bits
  std::vector<Vf48Channel> channels;  // ascending channel numbers
};

struct Vf48Content {
  Vf48Layout layout = Vf48Layout::Standard;
  uint64_t triggerTime = 0;         // time-stamp units
  std::vector<Vf48Module> modules;  // ascending; a module not read out is absent
};

// Offset of a module's clock from the trigger time: 250 units per module number.
uint64_t vf48ClockOffset(uint32_t module);
// Deterministic contents for event `index` of a run with spec.vf48Modules > 0.
Vf48Content makeVf48Content(const RunSpec& spec, uint32_t index);
// "VF" (standard) or "VM" (MERIDAX) and the module number in two digits; the
// MERIDAX words also carry the module in their channel headers.
std::string vf48BankName(Vf48Layout layout, uint32_t module);
// Header, both time-stamp halves, each channel (header, samples, CFD time,
// charge words), trailer.
std::vector<uint32_t> vf48Words(const Vf48Module& m, Vf48Layout layout);
// Appends one DWORD bank per module of `c`.
void addVf48Banks(Event& event, const Vf48Content& c);

}  // namespace synth
