// VF48 banks with known contents: a pulse on a pedestal per channel, the
// module's own values for it, and 48-bit time stamps from clocks that run at
// fixed offsets from the trigger.
#include <algorithm>
#include <cstdio>

#include "ModuleBanks.h"
#include "Random.h"
#include "Vf48Words.h"

namespace synth {

namespace {

constexpr uint32_t kSamples = 64;
// The first trigger lies just below 2^24, so the high half of the time stamp
// changes at the second event.
constexpr uint64_t kFirstTrigger = (uint64_t(1) << 24) - 50000;
constexpr uint64_t kTriggerSpacing = 100000;  // plus up to kTriggerSpread
constexpr uint32_t kTriggerSpread = 20000;
constexpr uint64_t k48Bits = (uint64_t(1) << 48) - 1;

Vf48Channel makeChannel(Random& r, uint32_t channel, bool pulse, Vf48Layout layout) {
  const bool standard = layout == Vf48Layout::Standard;
  const uint32_t pedestal = standard ? 100 + r.below(8) : 1000 + r.below(40);
  const uint32_t height = standard ? 200 + r.below(600) : 500 + r.below(2000);
  const uint32_t start = 28 + r.below(12);
  Vf48Channel c;
  c.channel = channel;
  c.pulse = pulse;
  // Rises in three samples, then falls by an eighth a sample.
  uint32_t above = 0;
  for (uint32_t i = 0; i < kSamples; ++i) {
    if (pulse && i >= start) above = i - start <= 3 ? height * (i - start) / 3 : above * 7 / 8;
    c.samples.push_back(uint16_t(pedestal - 1 + r.below(3) + above));
  }
  if (!pulse) return c;
  const auto peak = std::max_element(c.samples.begin(), c.samples.end());
  const uint32_t half = pedestal + (*peak - pedestal) / 2;
  c.pMaxtime = uint32_t(peak - c.samples.begin());
  c.pulseheight = *peak;
  c.cfdTime = uint32_t(std::find_if(c.samples.begin(), c.samples.end(),
                                    [&](uint16_t s) { return s >= half; }) -
                       c.samples.begin());
  for (uint32_t i = start; i < kSamples; ++i) {
    if (c.samples[i] > pedestal) c.charge += c.samples[i] - pedestal;
    if (c.samples[i] >= half) ++c.pulsewidth;
  }
  if (standard) {
    c.pedestalWord = pedestal * 14 / 4;
  } else {
    c.pMaxtime = c.pulseheight = c.pulsewidth = 0;  // the layout has no words for them
  }
  return c;
}

}  // namespace

uint64_t vf48ClockOffset(uint32_t module) { return 250ull * module; }

Vf48Content makeVf48Content(const RunSpec& spec, uint32_t index) {
  Random r(((uint64_t(spec.seed) << 32) ^ spec.run) * 0xD6E8FEB86659FD93ull +
           index * 0x9E3779B97F4A7C15ull + 0x56463438u);
  Vf48Content c;
  c.layout = spec.vf48Meridax ? Vf48Layout::Meridax : Vf48Layout::Standard;
  c.triggerTime = kFirstTrigger + index * kTriggerSpacing + r.below(kTriggerSpread);
  // Now and then one module misses the trigger.
  const uint32_t n = spec.vf48Modules;
  const uint32_t missing = n >= 2 && r.chance(16) ? r.below(n) : n;
  for (uint32_t m = 0; m < n; ++m) {
    if (m == missing) continue;
    Vf48Module mod;
    mod.module = m;
    mod.trigger = (index + 1) & 0xFFFFFF;
    static const int64_t kJitter[] = {-2, -1, 1, 2};
    const int64_t jitter = r.chance(8) ? kJitter[r.below(4)] : 0;
    mod.timeStamp = (c.triggerTime + vf48ClockOffset(m) + uint64_t(jitter)) & k48Bits;
    // Two to four channels with a pulse, sometimes one more with none.
    std::vector<uint32_t> hit;
    const uint32_t pulses = 2 + r.below(3);
    while (hit.size() < pulses) {
      const uint32_t ch = r.below(48);
      if (std::find(hit.begin(), hit.end(), ch) == hit.end()) hit.push_back(ch);
    }
    uint32_t flat = 48;
    if (r.chance(5)) {
      flat = r.below(48);
      if (std::find(hit.begin(), hit.end(), flat) != hit.end()) flat = 48;
    }
    if (flat < 48) hit.push_back(flat);
    std::sort(hit.begin(), hit.end());
    for (uint32_t ch : hit) mod.channels.push_back(makeChannel(r, ch, ch != flat, c.layout));
    c.modules.push_back(mod);
  }
  return c;
}

std::string vf48BankName(Vf48Layout layout, uint32_t module) {
  char name[8];
  std::snprintf(name, sizeof name, "%s%02u", layout == Vf48Layout::Standard ? "VF" : "VM",
                unsigned(module % 100));
  return name;
}

std::vector<uint32_t> vf48Words(const Vf48Module& m, Vf48Layout layout) {
  using namespace words;
  const bool standard = layout == Vf48Layout::Standard;
  std::vector<uint32_t> w;
  w.push_back(vf48Header(m.trigger));
  w.push_back(vf48Stamp(uint32_t(m.timeStamp & 0xFFFFFF)));
  w.push_back(vf48Stamp(uint32_t(m.timeStamp >> 24)));
  for (const Vf48Channel& c : m.channels) {
    w.push_back(standard ? vf48Channel(c.channel) : vf48MeridaxChannel(m.module, c.channel));
    for (size_t i = 0; i + 1 < c.samples.size(); i += 2)
      w.push_back(standard ? vf48Samples(c.samples[i], c.samples[i + 1])
                           : vf48MeridaxSamples(c.samples[i], c.samples[i + 1]));
    if (!c.pulse) continue;
    w.push_back(vf48Cfd(c.cfdTime));
    if (standard) {
      w.push_back(vf48Charge(c.charge));
      w.push_back(vf48Peak(c.pulseheight, c.pMaxtime));
      w.push_back(vf48Width(c.pedestalWord, c.pulsewidth));
    } else {
      w.push_back(vf48MeridaxCharge(c.charge));
    }
  }
  w.push_back(vf48Trailer(m.trigger));
  return w;
}

void addVf48Banks(Event& event, const Vf48Content& c) {
  for (const Vf48Module& m : c.modules)
    event.banks.push_back(dwordBank(vf48BankName(c.layout, m.module), vf48Words(m, c.layout)));
}

}  // namespace synth
