// Any bytes as a run file, plain or in any compressed form (the first bytes
// choose the decoder): reading must end with an error or the end of the file,
// never a crash, and memory must not follow what a damaged header claims
// beyond the size limit.
#include <lz4frame.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzTarget.h"
#include "MidasSynth.h"
#include "TMidasEvent.h"
#include "TRunFile.h"

namespace {

// One scratch directory per process, removed at exit.
std::string* scratch = nullptr;

void removeScratch() {
  for (const char* s : {".mid", ".seed.mid.gz", ".seed.mid.lz4", ".seed.mid.bz2", ".seed.mid.zst"})
    std::remove((*scratch + "/input" + s).c_str());
  ::rmdir(scratch->c_str());
}

std::string tempPath(const char* suffix) {
  if (!scratch) {
    char tmpl[] = "/tmp/tarn-fuzz-XXXXXX";
    if (!::mkdtemp(tmpl)) std::abort();
    scratch = new std::string(tmpl);
    std::atexit(removeScratch);
  }
  return *scratch + "/input" + suffix;
}

void readAll(const std::string& path, const uint8_t* data, size_t size, bool inPlace, bool zlib) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  TRunFile reader;
  reader.SetGzipInflater(zlib ? GzipInflater::Zlib : GzipInflater::Fastest);
  if (!reader.Open(path.c_str())) return;
  TMidasEvent event;
  for (int n = 0; n < 100000 && (inPlace ? reader.ReadInPlace(&event) : reader.Read(&event)); ++n) {
    event.SetBankList();
    int length = 0, type = 0;
    void* bank = nullptr;
    event.FindBank("FILL", &length, &type, &bank);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte chooses how the reader goes: events copied out or left in
  // place, gzip through ISA-L or zlib.
  if (size < 1) return 0;
  readAll(tempPath(".mid"), data + 1, size - 1, (data[0] & 2) != 0, (data[0] & 4) != 0);
  return 0;
}

std::vector<std::vector<uint8_t>> tarnFuzzSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  synth::RunSpec spec;
  spec.events = 3;
  for (bool swapped : {false, true}) {
    std::vector<uint8_t> file{0};  // plain
    for (const synth::Event& e : synth::makeRun(spec)) {
      std::vector<uint8_t> bytes = synth::encodeEvent(e, swapped);
      file.insert(file.end(), bytes.begin(), bytes.end());
    }
    seeds.push_back(file);
  }
  // lz4 with a checksum after each block (lz4 -BX), which the reader checks
  // before it hands out any byte of the block.
  LZ4F_preferences_t prefs = {};
  prefs.frameInfo.blockChecksumFlag = LZ4F_blockChecksumEnabled;
  const std::vector<uint8_t>& run = seeds.front();
  std::vector<uint8_t> frame(1 + LZ4F_compressFrameBound(run.size() - 1, &prefs));
  const size_t made = LZ4F_compressFrame(frame.data() + 1, frame.size() - 1, run.data() + 1, run.size() - 1, &prefs);
  if (!LZ4F_isError(made)) {
    frame.resize(1 + made);
    seeds.push_back(frame);
  }
  // The run in each compressed form as the writer makes it, in members of a
  // few hundred bytes so that member boundaries are there to mutate; gzip
  // once by each inflate.
  for (const char* form : {".seed.mid.gz", ".seed.mid.lz4", ".seed.mid.bz2", ".seed.mid.zst"}) {
    const std::string path = tempPath(form);
    synth::RunWriter w;
    std::string error;
    bool ok = w.open(path, error, 300);
    for (const synth::Event& e : synth::makeRun(spec)) ok = ok && w.write(synth::encodeEvent(e), error);
    if (!w.close(error) || !ok) continue;
    FILE* f = std::fopen(path.c_str(), "rb");
    std::vector<uint8_t> file{0};
    for (int c; f && (c = std::fgetc(f)) != EOF;) file.push_back(uint8_t(c));
    if (f) std::fclose(f);
    seeds.push_back(file);
    if (std::string(form) == ".seed.mid.gz") {
      file[0] = 4;
      seeds.push_back(file);
    }
  }
  return seeds;
}
