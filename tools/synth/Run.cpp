// Deterministic runs. Each event draws from its own generator, seeded from
// the run's seed and the event's index, so any event can be made alone and a
// run of any length streams without being held in memory.
#include <string>

#include "MidasSynth.h"
#include "Random.h"
#include "ModuleBanks.h"

namespace synth {

namespace {

uint64_t mix(uint64_t a, uint64_t b) { return Random(a * 0x100000001b3ull ^ b).next(); }

Random eventRandom(const RunSpec& spec, uint32_t index) {
  return Random(mix(mix(spec.seed, spec.run), index));
}

// The number of events of each id is what a reader's per-id counts can check:
// ids cycle 1, 2, 3 with trigger masks 1, 2, 4.
constexpr uint32_t kIds = 3;

}  // namespace

uint32_t runStartTime(const RunSpec& spec) {
  // Some second of November 2023, the same for a given seed and run.
  return 1700000000u + uint32_t(mix(spec.seed, spec.run) % 86400);
}

Event makeEvent(const RunSpec& spec, uint32_t index) {
  Random r = eventRandom(spec, index);
  Event e;
  e.id = uint16_t(1 + index % kIds);
  e.triggerMask = uint16_t(1u << (e.id - 1));
  e.serial = index;
  // Two seconds apart, give or take one: strictly increasing, all after the
  // begin of run and before the end of run.
  e.timeStamp = runStartTime(spec) + 1 + 2 * index + uint32_t(r.next() & 1);
  e.bank32 = spec.bank32;

  std::vector<uint16_t> words(1 + r.below(8));
  for (auto& v : words) v = uint16_t(r.next());
  std::vector<int16_t> shorts(1 + r.below(6));
  for (auto& v : shorts) v = int16_t(uint16_t(r.next()));
  std::vector<uint32_t> dwords(1 + r.below(5));
  for (auto& v : dwords) v = uint32_t(r.next());
  std::vector<int32_t> ints(1 + r.below(4));
  for (auto& v : ints) v = int32_t(uint32_t(r.next()));
  // Multiples of 1/64 and 1/1024: exact in binary, so printed values are exact too.
  std::vector<float> floats(1 + r.below(4));
  for (auto& v : floats) v = float(int32_t(r.below(100000)) - 50000) / 64.0f;
  std::vector<double> doubles(1 + r.below(3));
  for (auto& v : doubles) v = double(int64_t(r.below(2000000000u)) - 1000000000) / 1024.0;
  std::vector<uint8_t> five(5);
  for (auto& v : five) v = uint8_t(r.next());

  e.banks.push_back(wordBank("WRDS", words));
  e.banks.push_back(shortBank("SHRT", shorts));
  e.banks.push_back(dwordBank("DWRD", dwords));
  e.banks.push_back(intBank("INTS", ints));
  e.banks.push_back(floatBank("FLTS", floats));
  e.banks.push_back(doubleBank("DBLS", doubles));
  e.banks.push_back(stringBank("TEXT", "event " + std::to_string(index)));
  e.banks.push_back(byteBank("PAD5", TID_BYTE, five));  // 5 bytes: 3 of padding follow
  if (e.id == 2) {
    e.banks.push_back(byteBank("CHRS", TID_CHAR, {'a', 'b', 'c'}));
    e.banks.push_back(boolBank("FLAG", {true, false, bool(r.next() & 1)}));
  }
  if (e.id == 3) e.banks.push_back(dwordBank("EMPT", {}));
  if (spec.modules) addModuleBanks(e, makeModuleContent(spec, index));
  if (spec.vf48Modules > 0) addVf48Banks(e, makeVf48Content(spec, index));
  return e;
}

Event makeBeginOfRun(const RunSpec& spec) { return beginOfRun(spec.run, runStartTime(spec), spec.odb); }

Event makeEndOfRun(const RunSpec& spec) {
  const uint32_t start = runStartTime(spec);
  return endOfRun(spec.run, start, start + 2 * spec.events + 2, spec.events, spec.odb);
}

std::vector<Event> makeRun(const RunSpec& spec) {
  std::vector<Event> run;
  run.reserve(size_t(spec.events) + 2);
  run.push_back(makeBeginOfRun(spec));
  for (uint32_t i = 0; i < spec.events; ++i) run.push_back(makeEvent(spec, i));
  run.push_back(makeEndOfRun(spec));
  return run;
}

}  // namespace synth
