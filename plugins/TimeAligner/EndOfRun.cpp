// The end-of-run analysis: the reference module, the chain of offsets into
// relative times, the synchronisation table and the difference files.
#include <cstdio>
#include <iostream>

#include "AtomicFile.h"
#include "HostFailure.h"
#include "TimeAligner.h"

namespace {

// At least `width` characters, padded on the left with '0'.
std::string padded(const std::string& text, size_t width) {
  return text.size() < width ? std::string(width - text.size(), '0') + text : text;
}

std::string twoDigits(TimeAligner::Module m) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", m);
  return buf;
}

// Sums of offsets are taken in 64 bits, so that an average is right even where
// the 32-bit sum would overflow; the table holds 32-bit times.
int32_t to32(int64_t v) {
  return static_cast<int32_t>(static_cast<uint32_t>(v));
}

}  // namespace

// The prefix as text: the input takes the type of its sender, which for a run
// number read from the ODB is an integer.
bool TimeAligner::prefixText(void* value, std::string& prefix) const {
  switch (inputs[2].type) {
    case TARN_STRING: prefix = *static_cast<const std::string*>(value); return true;
    case TARN_CSTRING: prefix = static_cast<const char*>(value); return true;
    case TARN_UINT16: prefix = std::to_string(*static_cast<const uint16_t*>(value)); return true;
    case TARN_SHORT: prefix = std::to_string(*static_cast<const int16_t*>(value)); return true;
    case TARN_UINT32: prefix = std::to_string(*static_cast<const uint32_t*>(value)); return true;
    case TARN_INT: prefix = std::to_string(*static_cast<const int32_t*>(value)); return true;
    case TARN_UINT64: prefix = std::to_string(*static_cast<const uint64_t*>(value)); return true;
    default: return false;
  }
}

void TimeAligner::EOR(void* value) {
  if (!value) return;
  std::string prefix;
  if (!prefixText(value, prefix)) {
    std::cerr << name << ": \"eor\" takes a file-name prefix (a text or an integer), not a value "
              << "of type " << tarn_type_label(inputs[2].type) << "; nothing written" << std::endl;
    return;
  }
  analyse(padded(prefix, 5));
}

void TimeAligner::analyse(const std::string& prefix) {
  if (bestDiff.empty()) {
    std::cout << name << ": found no coincidences." << std::endl;
    return;
  }
  size_t entries = 0;
  const Module reference = referenceModule(entries);
  std::cout << "Most connections (" << entries << ") for module " << reference << std::endl;
  const std::map<Module, int32_t> times = relativeTimes(reference);
  if (writeDebug) {
    std::cout << "\"Real\" coincidences found for:" << std::endl;
    for (const auto& row : histograms) {
      const Module m = row.first;
      auto best = bestDiff.find(m);
      for (const auto& pair : row.second) {
        const Module o = pair.first;
        if (best != bestDiff.end() && best->second.count(o))
          std::cout << m << "\t" << o << std::endl;
        writeDifferenceFile(prefix + "_diff_" + twoDigits(m) + "_" + twoDigits(o) + ".dat",
                            pair.second);
      }
    }
    std::cout << wonkyCount << " wonky events (Empty time vectors and such, probably noise.)"
              << std::endl;
  }
  writeTable(prefix + "_reltimes.dat", reference, times);
  Clear(nullptr);
}

// The module with the most offsets; the lowest among equals.
TimeAligner::Module TimeAligner::referenceModule(size_t& entries) const {
  Module reference = bestDiff.begin()->first;
  entries = 0;
  for (const auto& row : bestDiff) {
    if (row.second.size() > entries) {
      entries = row.second.size();
      reference = row.first;
    }
  }
  return reference;
}

std::map<TimeAligner::Module, int32_t> TimeAligner::relativeTimes(Module reference) const {
  std::map<Module, int32_t> times;
  times[reference] = 0;
  for (const auto& o : bestDiff.at(reference)) times[o.first] = o.second;
  // Modules reached from the one visited are added as it goes; a std::map
  // visits those above it later in the same pass, those below it not.
  for (auto k = times.begin(); k != times.end(); ++k) {
    auto row = bestDiff.find(k->first);
    if (row == bestDiff.end()) continue;
    for (const auto& o : row->second) {
      if (o.first == reference) continue;
      const int64_t via = int64_t(k->second) + o.second;
      auto known = times.find(o.first);
      if (known == times.end())
        times[o.first] = to32(via);
      else
        known->second = to32((known->second + via) / 2);
    }
  }
  for (Module m : moduleSet) {
    if (times.count(m)) continue;
    for (auto k = times.begin(); k != times.end(); ++k) {
      auto row = bestDiff.find(k->first);
      if (row == bestDiff.end()) continue;
      auto o = row->second.find(m);
      if (o != row->second.end()) times[m] = to32(int64_t(k->second) + o->second);
    }
  }
  return times;
}

void TimeAligner::cannotWrite(const std::string& error) const {
  std::cerr << name << ": cannot write " << error << std::endl;
  tellHostTheRunFailed();
}

// The file replaces one of its name only when complete; the analysis goes on
// either way.
void TimeAligner::writeDifferenceFile(const std::string& file, const Histogram& h) const {
  AtomicFile out(file);
  if (std::FILE* f = out.open() ? out.stream() : nullptr)
    for (const auto& entry : h) std::fprintf(f, "%d\t%d\n", entry.first, entry.second);
  if (!out.commit()) cannotWrite(out.error());
}

void TimeAligner::writeTable(const std::string& file, Module reference,
                             const std::map<Module, int32_t>& times) const {
  AtomicFile out(file);
  if (std::FILE* f = out.open() ? out.stream() : nullptr) {
    std::fprintf(f, "# Synchronized to module %d\n# Module\ttime\n", reference);
    for (const auto& t : times) std::fprintf(f, "%d\t%d\n", t.first, t.second);
  }
  if (!out.commit()) cannotWrite(out.error());
}
