// Run files in every compressed form, through the reader: whole, in one or
// many members, by either inflate for gzip, cut or damaged anywhere in the
// compressed stream, and from a pipe.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <lz4frame.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include "MidasSynth.h"
#include "source/BlockSource.h"
#include "source/DecoderSource.h"
#include "TMidasEvent.h"
#include "TRunFile.h"
#include "TarnTest.h"

namespace {

const char* kCut = "Unexpected end of file inside an event";
const char* kForms[] = {".gz", ".lz4", ".bz2", ".zst"};

// Module banks, a begin and end of run, and one event of the largest size.
std::vector<synth::Event> mixedRun() {
  synth::RunSpec spec;
  spec.events = 150;
  spec.modules = true;
  std::vector<synth::Event> events = synth::makeRun(spec);
  synth::Event big;
  big.id = 7;
  big.serial = 999;
  big.bank32 = true;
  big.banks = {synth::byteBank("BIG0", synth::TID_BYTE,
                               std::vector<uint8_t>(1048576 - 20 - 4, 0x3c))};
  events.insert(events.begin() + 40, big);
  return events;
}

std::string writeRun(const std::string& path, const std::vector<synth::Event>& events,
                     uint64_t memberSize = 0) {
  synth::RunWriter w;
  std::string error;
  EXPECT_TRUE(w.open(path, error, memberSize)) << error;
  for (const synth::Event& e : events) EXPECT_TRUE(w.write(synth::encodeEvent(e), error)) << error;
  EXPECT_TRUE(w.close(error)) << error;
  return path;
}

struct Outcome {
  std::vector<uint32_t> serials;  // of the events read
  int number = 0;
  std::string text;
};

// Every event the reader gives, checked whole against `events` while they
// agree, and how it stopped.
Outcome readAll(const std::string& path, GzipInflater inflater, bool inPlace,
                const std::vector<synth::Event>* events = nullptr) {
  Outcome o;
  TRunFile f;
  f.SetGzipInflater(inflater);
  EXPECT_TRUE(f.Open(path.c_str())) << f.GetLastError();
  TMidasEvent e;
  while (o.serials.size() < 100000 && (inPlace ? f.ReadInPlace(&e) : f.Read(&e))) {
    const size_t i = o.serials.size();
    o.serials.push_back(e.GetSerialNumber());
    if (events && i < events->size()) {
      const std::vector<uint8_t> area = synth::encodeDataArea((*events)[i], false);
      EXPECT_EQ(e.GetEventId(), (*events)[i].id) << i;
      EXPECT_TRUE(e.GetDataSize() == area.size() && std::memcmp(e.GetData(), area.data(), area.size()) == 0)
          << "event " << i;
    }
  }
  o.number = f.GetLastErrno();
  o.text = f.GetLastError();
  return o;
}

std::vector<uint32_t> serialsOf(const std::vector<synth::Event>& events, size_t n) {
  std::vector<uint32_t> s;
  for (size_t i = 0; i < n && i < events.size(); ++i) s.push_back(events[i].serial);
  return s;
}

// The inflates a gzip file is read with; one pass for the other forms.
std::vector<GzipInflater> inflatersFor(const std::string& form) {
  if (form == ".gz") return {GzipInflater::Fastest, GzipInflater::Zlib};
  return {GzipInflater::Fastest};
}

TEST(CompressedRuns, EveryFormReadsWholeInOneOrManyMembersByEitherInflate) {
  tarntest::TempDir dir;
  const std::vector<synth::Event> events = mixedRun();
  for (const std::string form : kForms)
    for (uint64_t member : {uint64_t(0), uint64_t(4093)}) {
      // The name says nothing: the first bytes choose the decoder.
      const std::string path = dir.path() + "/run-" + std::to_string(member) + ".mid";
      ASSERT_EQ(::rename(writeRun(dir.path() + "/run" + form, events, member).c_str(), path.c_str()), 0);
      for (GzipInflater inflater : inflatersFor(form))
        for (bool inPlace : {false, true}) {
          SCOPED_TRACE(form + " members of " + std::to_string(member) +
                       (inflater == GzipInflater::Zlib ? " zlib" : "") + (inPlace ? " in place" : ""));
          const Outcome o = readAll(path, inflater, inPlace, &events);
          EXPECT_EQ(o.serials, serialsOf(events, events.size()));
          EXPECT_EQ(o.number, 0);
          EXPECT_EQ(o.text, "EOF");
        }
    }
}

TEST(CompressedRuns, AStreamCutAnywhereGivesTheEventsBeforeTheCutThenSaysSo) {
  tarntest::TempDir dir;
  const std::vector<synth::Event> events = mixedRun();
  for (const std::string form : kForms) {
    const std::string whole = tarntest::contentOf(writeRun(dir.path() + "/whole" + form, events));
    std::vector<size_t> cuts = {1, 2, 3, 5, 12, whole.size() - 9, whole.size() - 4, whole.size() - 1};
    for (size_t k = 1; k < 8; ++k) cuts.push_back(whole.size() * k / 8);
    for (size_t cut : cuts)
      for (GzipInflater inflater : inflatersFor(form)) {
        SCOPED_TRACE(form + " cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()) +
                     (inflater == GzipInflater::Zlib ? " zlib" : ""));
        const std::string path = dir.write("cut.mid", whole.substr(0, cut));
        const Outcome o = readAll(path, inflater, true);
        EXPECT_EQ(o.serials, serialsOf(events, o.serials.size()));
        // A cut in the checksums at the end loses no event, but is a cut all the same.
        if (cut <= whole.size() * 7 / 8) {
          EXPECT_LT(o.serials.size(), events.size());
        }
        EXPECT_EQ(o.number, -1);
        EXPECT_EQ(o.text, kCut);
      }
  }
}

TEST(CompressedRuns, DamageInTheStreamIsAnErrorOfTheLibraryNeverACleanEnd) {
  tarntest::TempDir dir;
  const std::vector<synth::Event> events = mixedRun();
  const char* prefix[] = {"gzip: ", "lz4: ", "bzip2: ", "zstd: "};
  for (size_t f = 0; f < 4; ++f) {
    const std::string form = kForms[f];
    const std::string whole = tarntest::contentOf(writeRun(dir.path() + "/whole" + form, events));
    // Bytes flipped inside the data and in the checksum at the end.
    for (size_t at : {whole.size() / 5, whole.size() / 2, whole.size() * 4 / 5, whole.size() - 6}) {
      std::string bad = whole;
      bad[at] = char(bad[at] ^ 0x5a);
      const std::string path = dir.write("bad.mid", bad);
      std::vector<Outcome> both;
      for (GzipInflater inflater : inflatersFor(form)) {
        SCOPED_TRACE(form + " flipped at " + std::to_string(at) + (inflater == GzipInflater::Zlib ? " zlib" : ""));
        both.push_back(readAll(path, inflater, false));
        const Outcome& o = both.back();
        EXPECT_EQ(o.number, -1);
        // Damaged bytes may make an impossible event before the library's check sees them.
        if (o.text != "Invalid event size" && o.text != kCut) {
          EXPECT_EQ(o.text.rfind(prefix[f], 0), 0u) << o.text;
        }
      }
      // The CRC at the end: every event came out before it, by either inflate alike.
      if (both.size() == 2 && at == whole.size() - 6) {
        EXPECT_EQ(both[0].serials, serialsOf(events, events.size()));
        EXPECT_EQ(both[0].serials, both[1].serials);
        EXPECT_EQ(both[0].text, both[1].text);
        EXPECT_EQ(both[0].text, "gzip: incorrect data check");
      }
    }
    // Bytes after the last member: gzip ignores them, as gzread always has;
    // the other formats' tools refuse them, and so does the reader.
    const std::string path = dir.write("trailing.mid", whole + "garbage after the run");
    for (GzipInflater inflater : inflatersFor(form)) {
      SCOPED_TRACE(form + " trailing garbage");
      const Outcome o = readAll(path, inflater, true);
      EXPECT_EQ(o.serials, serialsOf(events, events.size()));
      EXPECT_EQ(o.number, form == ".gz" ? 0 : -1);
      EXPECT_EQ(o.text.rfind(form == ".gz" ? "EOF" : prefix[f], 0), 0u) << o.text;
    }
  }
}

// An lz4 frame with block checksums (lz4 -BX) and one bit flipped in its second
// block: the events of the first come, none of the second's, then why. Blocks
// of noise are stored as they are (here larger than a decoding step), others
// compressed (here several to a step).
TEST(CompressedRuns, AnLz4BlockIsCheckedBeforeAnyOfItsEventsIsGiven) {
  tarntest::TempDir dir;
  for (bool noise : {true, false}) {
    SCOPED_TRACE(noise ? "stored blocks" : "compressed blocks");
    const size_t blockSize = noise ? 1 << 20 : 1 << 16;
    std::vector<synth::Event> events(700);
    std::string plain;
    size_t whole = 0;  // events that end in the first block
    uint32_t x = 7;
    for (uint32_t i = 0; i < events.size(); ++i) {
      events[i].serial = i;
      events[i].raw.assign(3000 + i % 64 * 37, 0);  // no bank area: the first words are 0
      for (size_t k = 8; k < events[i].raw.size(); ++k)
        events[i].raw[k] = uint8_t(noise ? (x = x * 1664525u + 1013904223u) >> 24 : k / 64);
      const std::vector<uint8_t> b = synth::encodeEvent(events[i]);
      plain.append(b.begin(), b.end());
      if (plain.size() <= blockSize) whole = i + 1;
    }
    LZ4F_preferences_t prefs = {};
    prefs.frameInfo.blockSizeID = noise ? LZ4F_max1MB : LZ4F_max64KB;
    prefs.frameInfo.blockChecksumFlag = LZ4F_blockChecksumEnabled;
    std::string frame(LZ4F_compressFrameBound(plain.size(), &prefs), '\0');
    frame.resize(LZ4F_compressFrame(&frame[0], frame.size(), plain.data(), plain.size(), &prefs));
    size_t block = 7;  // after the header; each block: its size, its bytes, its checksum
    uint32_t size;
    std::memcpy(&size, frame.data() + block, 4);
    block += 4 + (size & 0x7fffffff) + 4;
    frame[block + 4 + 100] ^= 0x08;
    const std::string path = dir.write("run.mid.lz4", frame);
    const Outcome o = readAll(path, GzipInflater::Fastest, true, &events);
    EXPECT_EQ(o.serials, serialsOf(events, whole));
    EXPECT_EQ(o.text, "lz4: ERROR_blockChecksum_invalid");
    // In pieces, as from a pipe: the first block's bytes, whole, then the failure.
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::unique_ptr<DecoderSource> s = makeLz4Source(std::unique_ptr<ByteSource>(new BlockSource(fd, 4093)));
    std::string got;
    char* at = nullptr;
    for (size_t k = 1; k > 0; s->skip(k)) got.append(at, k = s->peek(4096, &at));
    EXPECT_EQ(s->errorText(), o.text);
    EXPECT_TRUE(got == plain.substr(0, blockSize)) << got.size();
    ::close(fd);
  }
}

// Writes `bytes` into a new FIFO at `fifo` on a thread, in slices of `slice`.
std::thread writeFifo(const std::string& fifo, const std::string& bytes, size_t slice) {
  EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  return std::thread([fifo, &bytes, slice] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    for (size_t at = 0; fd >= 0 && at < bytes.size(); at += slice) {
      const size_t n = std::min(slice, bytes.size() - at);
      if (::write(fd, bytes.data() + at, n) != ssize_t(n)) break;
    }
    if (fd >= 0) ::close(fd);
  });
}

TEST(CompressedRuns, Lz4BlocksThatDoNotCompressAreReadWholeFromAFileOrAPipe) {
  // Stored 4 MiB blocks, larger than any event: the decoder's input holds
  // each whole, the pipe's first bytes among them.
  tarntest::TempDir dir;
  std::mt19937 random(27);
  std::vector<synth::Event> events;
  for (uint32_t serial = 0; serial < 14; ++serial) {
    std::vector<uint8_t> noise(1048576 - 20 - 4 - 4096 * serial);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    synth::Event e;
    e.id = 1;
    e.serial = serial;
    e.bank32 = true;
    e.banks = {synth::byteBank("RND0", synth::TID_BYTE, noise)};
    events.push_back(e);
  }
  const std::string path = writeRun(dir.path() + "/run.lz4", events);
  const std::string bytes = tarntest::contentOf(path);
  ASSERT_GT(bytes.size(), size_t(12) << 20);
  std::thread writer = writeFifo(dir.path() + "/fifo", bytes, 3 << 16);
  void (*before)(int) = std::signal(SIGPIPE, SIG_IGN);
  const Outcome piped = readAll(dir.path() + "/fifo", GzipInflater::Fastest, true, &events);
  writer.join();
  std::signal(SIGPIPE, before);
  for (const Outcome& o : {readAll(path, GzipInflater::Fastest, true, &events), piped}) {
    EXPECT_EQ(o.serials, serialsOf(events, events.size()));
    EXPECT_EQ(o.text, "EOF");
  }
}

TEST(CompressedRuns, APipeOfCompressedBytesIsReadWhole) {
  tarntest::TempDir dir;
  const std::vector<synth::Event> events = mixedRun();
  const std::string bytes = tarntest::contentOf(writeRun(dir.path() + "/run.zst", events, 10000));
  const std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    // Slices of 3 bytes first: the magic number arrives in pieces.
    for (size_t at = 0, n = 3; fd >= 0 && at < bytes.size(); at += n, n = at < 30 ? 3 : 65536) {
      n = std::min(n, bytes.size() - at);
      if (::write(fd, bytes.data() + at, n) != ssize_t(n)) break;
      if (at < 30) ::usleep(1000);
    }
    if (fd >= 0) ::close(fd);
  });
  void (*before)(int) = std::signal(SIGPIPE, SIG_IGN);
  const Outcome o = readAll(fifo, GzipInflater::Fastest, true, &events);
  writer.join();
  std::signal(SIGPIPE, before);
  EXPECT_EQ(o.serials, serialsOf(events, events.size()));
  EXPECT_EQ(o.text, "EOF");
}

}  // namespace
