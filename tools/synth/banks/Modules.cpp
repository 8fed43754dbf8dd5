// Module banks with known contents: TDC0 (V1190), ADC0 (V785), IO32, MADC
// (MDI2 bus) and SIS0..SIS3 (SIS3320 samples).
#include <cmath>

#include "ModuleBanks.h"
#include "ModuleWords.h"
#include "Random.h"

namespace synth {

namespace {

constexpr uint32_t kTdcGeo = 5;
constexpr uint32_t kAdcGeo = 3;
constexpr uint32_t kMadcModule = 2;

}  // namespace

ModuleContent makeModuleContent(const RunSpec& spec, uint32_t index) {
  Random r((uint64_t(spec.seed) << 32 ^ spec.run) * 0x9E3779B97F4A7C15ull + index);
  // Drawn apart from the contents, so that noise only adds words to an event
  // and leaves its data as they are without it.
  Random chooser((uint64_t(spec.seed) << 32 ^ spec.run) * 0xD1B54A32D192ED03ull + index);
  const bool noisy = spec.noise > 0 && double(chooser.next() >> 11) * 0x1.0p-53 < spec.noise;
  ModuleContent c;
  c.index = index;

  // TDC hits: a few channels, times spread over the full 18 bits so that some
  // exceed 32767, both edges; sometimes two hits at the same time.
  const uint32_t hits = r.below(7);
  for (uint32_t h = 0; h < hits; ++h)
    c.tdc.push_back(TdcHit{r.below(8), r.below(1u << 18), r.below(4) == 0 ? 1u : 0u});
  if (hits >= 2 && r.chance(3)) c.tdc.push_back(TdcHit{r.below(8), c.tdc[0].time, 0});
  c.tdcError = r.chance(5);
  c.tdcFiller = r.chance(2);
  c.tdcUnexpected = index % 7 == 6;

  // ADC data on channels 0..7, ties now and then, flags on a few.
  const uint32_t data = r.below(6);
  for (uint32_t d = 0; d < data; ++d) {
    uint32_t flags = r.chance(6) ? 0x1000u : (r.chance(6) ? 0x2000u : 0u);
    c.adc.push_back(AdcDatum{r.below(8), r.below(4096), flags});
  }
  if (data >= 1 && r.chance(3)) c.adc.push_back(AdcDatum{r.below(8), c.adc[0].value, 0});
  c.adcNotValid = r.chance(4);
  c.adcUndefined = index % 9 == 8;

  // IO32: scalers count up with the event; stamps on inputs 0..3, and rarely
  // on input 5, which no list holds.
  c.boardTimestamp = 1000u * index + r.below(1000);
  const uint32_t scalers = r.below(4);
  for (uint32_t s = 0; s < scalers; ++s) c.scalers.push_back(100u * index + s);
  const uint32_t stamps = r.below(6);
  for (uint32_t s = 0; s < stamps; ++s) c.stamps.push_back(Io32Stamp{r.below(4), r.below(1u << 28)});
  if (r.chance(5)) c.stamps.push_back(Io32Stamp{5, r.below(1u << 28)});

  // MADC: ADC data with sample numbers and out-of-range data, a few TDC data.
  const uint32_t madc = r.below(5);
  for (uint32_t m = 0; m < madc; ++m)
    c.madc.push_back(MadcDatum{r.below(16), r.below(2), r.chance(5), r.below(4096)});
  const uint32_t mtdc = r.below(3);
  for (uint32_t m = 0; m < mtdc; ++m)
    c.madcTdc.push_back(MadcTdcDatum{r.below(2), r.chance(4), r.below(4096)});
  c.madcTimestamp = !r.chance(4);
  c.madcStamp = r.below(1u << 30);
  c.madcBufferOverflow = index % 11 == 10;
  if (!noisy) {
    c.tdcError = c.tdcUnexpected = c.adcNotValid = c.adcUndefined = c.madcBufferOverflow = false;
    for (MadcTdcDatum& d : c.madcTdc) d.outOfRange = false;
  }

  // SIS3320: a pulse on a baseline for channels 0..3.
  const uint32_t samples = 16 + r.below(16);
  for (uint32_t ch = 0; ch < 4; ++ch) {
    std::vector<uint16_t> s(samples);
    const double peak = 200.0 + r.below(3000), at = 4.0 + r.below(8);
    for (uint32_t i = 0; i < samples; ++i) {
      double x = (i - at) / 3.0;
      s[i] = uint16_t(100 + r.below(4) + (i >= at ? peak * x * std::exp(1.0 - x) : 0.0));
    }
    c.sis.push_back(s);
  }
  return c;
}

std::vector<uint32_t> v1190Words(const ModuleContent& c) {
  using namespace words;
  std::vector<uint32_t> w;
  w.push_back(v1190GlobalHeader(c.index, kTdcGeo));
  w.push_back(v1190TdcHeader(0, c.index, c.index * 3));
  for (size_t i = 0; i < c.tdc.size(); ++i) {
    w.push_back(v1190Hit(c.tdc[i].edge, c.tdc[i].channel, c.tdc[i].time));
    if (i == 0 && c.tdcError) w.push_back(v1190TdcError(0, 0x1234));
  }
  if (c.tdcUnexpected) w.push_back(0x10000000u | (c.index & 0x7FFFFFF));
  w.push_back(v1190TdcTrailer(0, c.index, uint32_t(w.size())));
  w.push_back(v1190TimeTag(c.index * 40));
  if (c.tdcFiller) w.push_back(v1190Filler());
  w.push_back(v1190GlobalTrailer(0, uint32_t(w.size() + 1), kTdcGeo));
  return w;
}

std::vector<uint32_t> v785Words(const ModuleContent& c) {
  using namespace words;
  std::vector<uint32_t> w;
  w.push_back(v785Header(kAdcGeo, 0, uint32_t(c.adc.size())));
  for (size_t i = 0; i < c.adc.size(); ++i) {
    w.push_back(v785Datum(kAdcGeo, c.adc[i].channel, c.adc[i].value, c.adc[i].flags));
    if (i == 0 && c.adcNotValid) w.push_back(v785NotValid(kAdcGeo));
  }
  if (c.adcUndefined) w.push_back((kAdcGeo << 27) | (1u << 24) | c.index);
  w.push_back(v785EndOfBlock(kAdcGeo, c.index));
  return w;
}

std::vector<uint32_t> io32Words(const ModuleContent& c) {
  std::vector<uint32_t> w;
  w.push_back(0xB0A7D000u | (c.index & 0xFFF));  // word 0 is not read
  w.push_back(c.boardTimestamp);
  w.push_back(uint32_t(c.scalers.size()));
  for (uint32_t s : c.scalers) w.push_back(s);
  w.push_back(0xFFFFFFFFu);  // separator
  for (const Io32Stamp& s : c.stamps) w.push_back(words::io32Stamp(s.input, s.stamp));
  return w;
}

std::vector<uint32_t> mdi2Words(const ModuleContent& c) {
  using namespace words;
  std::vector<uint32_t> w;
  w.push_back(mdi2Header(kMadcModule, uint32_t(c.madc.size() + c.madcTdc.size()),
                         c.madcBufferOverflow));
  for (const MadcDatum& d : c.madc) w.push_back(mdi2Adc(d.sample, d.bus, d.outOfRange, d.value));
  for (const MadcTdcDatum& d : c.madcTdc) w.push_back(mdi2Tdc(d.bus, d.outOfRange, d.value));
  w.push_back(mdi2Class2(c.index));
  if (c.madcTimestamp) w.push_back(mdi2Timestamp(c.madcStamp));
  return w;
}

void addModuleBanks(Event& event, const ModuleContent& c) {
  if (c.banks & kBankTdc0) event.banks.push_back(dwordBank("TDC0", v1190Words(c)));
  if (c.banks & kBankAdc0) event.banks.push_back(dwordBank("ADC0", v785Words(c)));
  if (c.banks & kBankIo32) event.banks.push_back(dwordBank("IO32", io32Words(c)));
  if (c.banks & kBankMadc) event.banks.push_back(dwordBank("MADC", mdi2Words(c)));
  if (!(c.banks & kBankSis)) return;
  for (size_t ch = 0; ch < c.sis.size() && ch < 10; ++ch)
    event.banks.push_back(wordBank(std::string("SIS") + char('0' + ch), c.sis[ch]));
}

}  // namespace synth
