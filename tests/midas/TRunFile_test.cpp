#include "TRunFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <thread>

#include "MidasSynth.h"
#include "MidasTestData.h"
#include "TarnTest.h"

using midastest::Bytes;

namespace {

std::string writeRun(const tarntest::TempDir& dir, const std::string& name,
                     const std::vector<synth::Event>& events, bool swapped = false,
                     synth::Damage damage = synth::Damage::None) {
  std::string error, path = dir.path() + "/" + name;
  EXPECT_TRUE(synth::writeRun(path, events, swapped, damage, error)) << error;
  return path;
}

std::vector<synth::Event> run(uint32_t events, bool bank32 = false, bool swapped = false) {
  synth::RunSpec shape;
  shape.events = events;
  shape.bank32 = bank32;
  shape.swapped = swapped;
  return synth::makeRun(shape);
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool isText(const synth::Event& e) { return e.id >= 0x8000 && e.id <= 0x8002; }

// Reads every event, checks it against what was written, then the clean end.
// In place, only the text areas are sure to end in a NUL.
void expectRun(TRunFile& f, const std::vector<synth::Event>& events, bool inPlace = false) {
  TMidasEvent e;
  auto next = [&] { return inPlace ? f.ReadInPlace(&e) : f.Read(&e); };
  for (const synth::Event& want : events) {
    ASSERT_TRUE(next()) << f.GetLastError();
    EXPECT_EQ(e.GetEventId(), want.id);
    EXPECT_EQ(e.GetTriggerMask(), want.triggerMask);
    EXPECT_EQ(e.GetSerialNumber(), want.serial);
    EXPECT_EQ(e.GetTimeStamp(), want.timeStamp);
    const Bytes area = synth::encodeDataArea(want, false);
    ASSERT_EQ(e.GetDataSize(), area.size());
    EXPECT_EQ(0, std::memcmp(e.GetData(), area.data(), area.size()));
    if (!inPlace || isText(want)) {
      EXPECT_EQ(e.GetData()[area.size()], 0);  // text stays text
    }
  }
  EXPECT_FALSE(next());
  EXPECT_EQ(f.GetLastErrno(), 0);
  EXPECT_STREQ(f.GetLastError(), "EOF");
}

TEST(TRunFile, ReadsPlainGzipAndSwappedRuns) {
  tarntest::TempDir dir;
  for (bool bank32 : {false, true})
    for (bool swapped : {false, true})
      for (const char* name : {"run00042.mid", "run00042.mid.gz"}) {
        SCOPED_TRACE(std::string(name) + (bank32 ? " bank32" : "") + (swapped ? " swapped" : ""));
        const std::vector<synth::Event> events = run(20, bank32, swapped);
        const std::string path = writeRun(dir, name, events, swapped);
        // In place first: bytes turned where the reader holds them must not
        // reach the file, or the second reading would turn them back.
        for (bool inPlace : {true, false}) {
          TRunFile f;
          ASSERT_TRUE(f.Open(path.c_str())) << f.GetLastError();
          EXPECT_EQ(path, f.GetFilename());
          expectRun(f, events, inPlace);  // the ODB dumps of begin and end of run stay text
        }
      }
}

TEST(TRunFile, TheFormIsToldByTheFirstBytesWhateverTheName) {
  tarntest::TempDir dir;
  const std::vector<synth::Event> events = run(2);
  const std::string gz = fileBytes(writeRun(dir, "run.mid.gz", events));
  for (const char* other : {"run.gzip", "run.mid", "runXgz"}) {
    SCOPED_TRACE(other);
    TRunFile f;
    ASSERT_TRUE(f.Open(dir.write(other, gz).c_str()));
    expectRun(f, events);
  }
  // A plain run under a gzip name reads as it always did.
  TRunFile f;
  ASSERT_TRUE(f.Open(dir.write("plain.mid.gz", fileBytes(writeRun(dir, "plain.mid", events))).c_str()));
  expectRun(f, events);
  // A one-character name is read plain.
  writeRun(dir, "z", events);
  char cwd[4096];
  ASSERT_TRUE(::getcwd(cwd, sizeof cwd) && ::chdir(dir.path().c_str()) == 0);
  TRunFile z;
  EXPECT_TRUE(z.Open("z"));
  expectRun(z, events);
  ASSERT_EQ(::chdir(cwd), 0);
}

TEST(TRunFile, FailuresGiveTheirNumberAndText) {
  tarntest::TempDir dir;
  TRunFile f;
  EXPECT_FALSE(f.Open((dir.path() + "/missing.mid").c_str()));
  EXPECT_EQ(f.GetLastErrno(), ENOENT);
  EXPECT_STREQ(f.GetLastError(), std::strerror(ENOENT));
  EXPECT_FALSE(f.Open(dir.path().c_str()));  // a directory is no run file
  EXPECT_EQ(f.GetLastErrno(), EISDIR);
  TMidasEvent e;
  EXPECT_FALSE(f.Read(&e));  // nothing open: an error, not a crash
  EXPECT_NE(f.GetLastErrno(), 0);

  struct Case { synth::Damage damage; int number; const char* text; };
  for (const Case& c : {Case{synth::Damage::ZeroSize, -1, "Invalid event size"},
                        Case{synth::Damage::OversizeData, -1, "Invalid event size"},
                        Case{synth::Damage::TruncatedHeader, -1, "Unexpected end of file inside an event"},
                        Case{synth::Damage::TruncatedData, -1, "Unexpected end of file inside an event"}})
    for (const char* name : {"bad.mid", "bad.mid.gz"}) {
      SCOPED_TRACE(std::string(name) + " " + c.text);
      const std::vector<synth::Event> events = run(2);
      ASSERT_TRUE(f.Open(writeRun(dir, name, events, false, c.damage).c_str()));
      for (size_t i = 0; i + 1 < events.size(); ++i) ASSERT_TRUE(f.Read(&e));
      EXPECT_FALSE(f.Read(&e));
      EXPECT_EQ(f.GetLastErrno(), c.number);
      EXPECT_STREQ(f.GetLastError(), c.text);
    }
  for (bool gz : {false, true}) {
    ASSERT_TRUE(f.Open(gz ? writeRun(dir, "empty.mid.gz", {}).c_str() : dir.write("empty", "").c_str()));
    EXPECT_FALSE(f.Read(&e));
    EXPECT_EQ(f.GetLastErrno(), 0);
    EXPECT_STREQ(f.GetLastError(), "EOF");
  }
  // A gzip stream cut short is zlib's to report.
  std::ifstream in(writeRun(dir, "long.mid.gz", run(200)), std::ios::binary);
  std::string gz((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_TRUE(f.Open(dir.write("cut.mid.gz", gz.substr(0, gz.size() / 2)).c_str()));
  while (f.Read(&e)) {
  }
  EXPECT_NE(f.GetLastErrno(), 0);
  EXPECT_STRNE(f.GetLastError(), std::strerror(0));
}

TEST(TRunFile, TheLargestEventIsReadWhole) {
  synth::Event big;  // one 32-bit BYTE bank filling 1048576 bytes
  big.id = 5;
  midastest::put(big.raw, 1048576 - 8, 4);
  midastest::put(big.raw, 0x11, 4);
  big.raw.insert(big.raw.end(), {'B', 'I', 'G', '0'});
  midastest::put(big.raw, synth::TID_BYTE, 4);
  midastest::put(big.raw, 1048576 - 20, 4);
  big.raw.resize(1048576, 0x5a);
  tarntest::TempDir dir;
  for (const char* name : {"big.mid", "big.mid.gz"}) {
    TRunFile f;
    ASSERT_TRUE(f.Open(writeRun(dir, name, {big}).c_str()));
    TMidasEvent e;
    ASSERT_TRUE(f.Read(&e)) << f.GetLastError();
    int len, type;
    void* data;
    ASSERT_EQ(e.FindBank("BIG0", &len, &type, &data), 1);
    EXPECT_EQ(len, 1048576 - 20);
  }
}

int openDescriptors() {
  int n = 0;
  DIR* d = ::opendir("/proc/self/fd");
  while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
  ::closedir(d);
  return n;
}

// The threads a reader of a compressed run adds while it reads, and after.
std::pair<int, int> threadsAdded(const std::string& path, bool wanted) {
  const int before = midastest::decoderThreads();
  int during = 0;
  {
    TRunFile f;
    f.SetDecodeThread(wanted);
    EXPECT_TRUE(f.Open(path.c_str()));
    TMidasEvent e;
    EXPECT_TRUE(f.ReadInPlace(&e)) << f.GetLastError();
    during = midastest::decoderThreads();
  }
  return {during - before, midastest::decoderThreads() - before};
}

// A decoder's thread only where a second core can run it, gone with the reader.
TEST(TRunFile, ACompressedRunIsDecodedAheadOnlyWithASecondUsableCore) {
  tarntest::TempDir dir;
  const std::string path = writeRun(dir, "run.mid.zst", run(50));
  cpu_set_t all;
  ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
  const char* env = std::getenv("TARN_DECODE_THREAD");
  const bool allowed = !(env && std::string(env) == "0") && CPU_COUNT(&all) > 1;
  EXPECT_EQ(threadsAdded(path, true), std::make_pair(allowed ? 1 : 0, 0));
  EXPECT_EQ(threadsAdded(path, false), std::make_pair(0, 0));
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
    if (CPU_ISSET(cpu, &all)) {
      CPU_SET(cpu, &one);
      break;
    }
  ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(threadsAdded(path, true), std::make_pair(0, 0));
  ASSERT_EQ(::sched_setaffinity(0, sizeof all, &all), 0);
}

TEST(TRunFile, OpeningAgainClosesTheFormerFile) {
  tarntest::TempDir dir;
  const std::vector<synth::Event> a = run(2), b = run(3);
  const std::string pa = writeRun(dir, "a.mid", a), pb = writeRun(dir, "b.mid.gz", b);
  const int before = openDescriptors();
  {
    TRunFile f;
    ASSERT_TRUE(f.Open(pa.c_str()));
    ASSERT_TRUE(f.Open(pb.c_str()));
    EXPECT_EQ(openDescriptors(), before + 1);
    expectRun(f, b);
    ASSERT_TRUE(f.Open(pa.c_str()));
    expectRun(f, a);
    f.Close();
    EXPECT_STREQ(f.GetFilename(), "");
    EXPECT_EQ(openDescriptors(), before);
    f.Close();
  }
  EXPECT_EQ(openDescriptors(), before);
}

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// `count` copies of one event holding a single bank of `bytes` bytes of `fill`.
std::vector<synth::Event> sameBigEvents(size_t count, size_t bytes, uint8_t fill) {
  synth::Event big;
  big.bank32 = true;
  big.banks = {synth::byteBank("BIG0", synth::TID_BYTE, Bytes(bytes, fill))};
  return std::vector<synth::Event>(count, big);
}

TEST(TRunFile, MemoryDoesNotGrowWithTheLengthOfTheFile) {
  tarntest::TempDir dir;
  // Plain and through a decoder, whose block must not grow either.
  for (const std::string name : {"long.mid", "long.mid.gz", "long.mid.lz4", "long.mid.zst"}) {
    const std::string path = writeRun(dir, name, sameBigEvents(100, 512 * 1024, 1));
    for (bool inPlace : {false, true}) {
      SCOPED_TRACE(name + (inPlace ? " in place" : " copied"));
      TRunFile f;
      ASSERT_TRUE(f.Open(path.c_str()));
      TMidasEvent e;
      auto next = [&] { return inPlace ? f.ReadInPlace(&e) : f.Read(&e); };
      ASSERT_TRUE(next());
      const long start = residentKiB();
      int n = 1;
      while (next()) ++n;
      EXPECT_EQ(n, 100);
      EXPECT_LT(residentKiB() - start, 8 * 1024);
    }
  }
}

// Events of many sizes, so that headers and data fall across every boundary of
// the reader's blocks, with events near, at and above a block's size and the
// largest one allowed among them.
std::vector<synth::Event> unevenRun() {
  std::vector<synth::Event> events;
  auto add = [&](size_t bytes) {
    synth::Event e;
    e.id = uint16_t(1 + events.size() % 3);
    e.serial = uint32_t(events.size());
    e.timeStamp = 1700000000u + e.serial;
    e.bank32 = true;
    Bytes data(bytes);
    for (size_t j = 0; j < bytes; ++j) data[j] = uint8_t(e.serial * 31 + j);
    e.banks = {synth::byteBank("VARY", synth::TID_BYTE, data)};
    events.push_back(e);
  };
  for (int k = 0; k < 300; ++k) add(1 + size_t(k) * 7919 % 5000);
  for (size_t big : {size_t(256 * 1024 - 30), size_t(256 * 1024 - 20), size_t(300 * 1024),
                     size_t(1048576 - 20 - 4)}) {  // the last fills the largest data area
    add(big);
    for (int k = 0; k < 40; ++k) add(1 + size_t(k) * 104729 % 3000);
  }
  return events;
}

TEST(TRunFile, EventsOfEverySizeCrossBlockBoundariesWhole) {
  tarntest::TempDir dir;
  const std::vector<synth::Event> events = unevenRun();
  for (const char* name : {"uneven.mid", "uneven.mid.gz"})
    for (bool inPlace : {false, true}) {
      SCOPED_TRACE(std::string(name) + (inPlace ? " in place" : ""));
      const std::string path = writeRun(dir, name, events);
      TRunFile f;
      ASSERT_TRUE(f.Open(path.c_str()));
      TMidasEvent e;
      ASSERT_TRUE(f.Read(&e) && f.ReadInPlace(&e));
      // Opened again halfway: nothing read ahead of the former file is left over.
      ASSERT_TRUE(f.Open(path.c_str()));
      expectRun(f, events, inPlace);
    }
}

TEST(TRunFile, AFileCutAnywhereGivesTheWholeEventsBeforeTheCut) {
  tarntest::TempDir dir;
  const std::vector<synth::Event> events = unevenRun();
  std::ifstream in(writeRun(dir, "whole.mid", events), std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<size_t> ends;  // where each event ends in the file
  size_t at = 0;
  for (const synth::Event& e : events) ends.push_back(at += synth::encodeEvent(e).size());
  ASSERT_EQ(at, whole.size());
  const size_t block = 256 * 1024;
  size_t bigStart = 0;  // the largest event: most of it is read past any block
  for (size_t i = 1; i < events.size(); ++i)
    if (ends[i] - ends[i - 1] > 1000000) bigStart = ends[i - 1];
  ASSERT_GT(bigStart, 0u);
  for (size_t cut : {block - 3, block, block + 3, block + 9, 3 * block + 1, bigStart + 8,
                     bigStart + 16 + 10, bigStart + 16 + block + 100, ends[299], ends[299] + 15,
                     ends[299] + 16}) {  // nothing of the data area
    for (bool inPlace : {false, true}) {
      SCOPED_TRACE("cut at " + std::to_string(cut) + (inPlace ? " in place" : ""));
      const size_t wholeEvents = size_t(std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
      TRunFile f;
      ASSERT_TRUE(f.Open(dir.write("cut.mid", whole.substr(0, cut)).c_str()));
      TMidasEvent e;
      size_t n = 0;
      while (inPlace ? f.ReadInPlace(&e) : f.Read(&e)) {
        ASSERT_LT(n, events.size());
        EXPECT_EQ(e.GetSerialNumber(), events[n].serial);
        ++n;
      }
      EXPECT_EQ(n, wholeEvents);
      const bool onAnEnd = std::binary_search(ends.begin(), ends.end(), cut);
      EXPECT_EQ(f.GetLastErrno(), onAnEnd ? 0 : -1);
      EXPECT_STREQ(f.GetLastError(), onAnEnd ? "EOF" : "Unexpected end of file inside an event");
    }
  }
}

TEST(TRunFile, AFileThatGrowsIsFollowedAsItIsWritten) {
  tarntest::TempDir dir;
  const std::vector<synth::Event> events = run(40);
  const std::string whole = fileBytes(writeRun(dir, "whole.mid", events));
  size_t half = 0;  // the end of the 20th event
  for (size_t i = 0; i < 20; ++i) half += synth::encodeEvent(events[i]).size();
  const std::string path = dir.write("growing.mid", whole.substr(0, half));
  for (bool inPlace : {false, true}) {
    SCOPED_TRACE(inPlace ? "in place" : "copied");
    TRunFile f;
    ASSERT_TRUE(f.Open(path.c_str()));
    TMidasEvent e;
    auto next = [&] { return inPlace ? f.ReadInPlace(&e) : f.Read(&e); };
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(next()) << i;
    EXPECT_FALSE(next());
    EXPECT_STREQ(f.GetLastError(), "EOF");
    // The rest arrives: reading goes on where it stopped.
    std::ofstream(path, std::ios::binary | std::ios::app) << whole.substr(half);
    size_t n = 0;
    while (next()) EXPECT_EQ(e.GetSerialNumber(), events[20 + n++].serial);
    EXPECT_EQ(n, events.size() - 20);
    EXPECT_EQ(f.GetLastErrno(), 0) << f.GetLastError();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << whole.substr(0, half);
  }
}

// Another program cuts the file short while it is being read: the pages of it
// the reader has mapped are gone. Using the event in hand must not end the
// process, and the reader must not pass the loss off as an ordinary end.
TEST(TRunFile, AFileCutShortUnderTheReaderIsReportedNotACrash) {
  tarntest::TempDir dir;
  const std::string path = writeRun(dir, "cut-under.mid", sameBigEvents(20, 64 * 1024, 7));
  TRunFile f;
  ASSERT_TRUE(f.Open(path.c_str()));
  TMidasEvent e;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(f.ReadInPlace(&e));
  int len = 0, type = 0;
  void* data = nullptr;
  ASSERT_EQ(e.FindBank("BIG0", &len, &type, &data), 1);
  ASSERT_EQ(::truncate(path.c_str(), 100), 0);
  long sum = 0;  // reads pages the file no longer has
  for (int i = 0; i < len; ++i) sum += static_cast<const unsigned char*>(data)[i];
  EXPECT_EQ(sum, 0);
  EXPECT_FALSE(f.ReadInPlace(&e));
  EXPECT_EQ(f.GetLastErrno(), -1);
  EXPECT_STREQ(f.GetLastError(), "Run file was cut short while being read");
  // What is left is read as an ordinary file of 100 bytes would be.
  EXPECT_FALSE(f.ReadInPlace(&e));
  EXPECT_EQ(f.GetLastErrno(), 0);
}

// Bus errors that are not the reader's still end the process as they would
// without it, and a closed reader leaves no handler behind.
TEST(TRunFileDeathTest, OtherBusErrorsStillEndTheProcess) {
  tarntest::TempDir dir;
  const std::string path = writeRun(dir, "guarded.mid", run(3));
  EXPECT_EXIT(
      {
        TRunFile f;
        f.Open(path.c_str());
        std::raise(SIGBUS);
        std::_Exit(0);
      },
      // Killed by it, or (under a sanitizer, whose handler was there first) stopped by that.
      [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); }, "");
  struct sigaction before, now;
  ASSERT_EQ(::sigaction(SIGBUS, nullptr, &before), 0);
  {
    TRunFile f;
    ASSERT_TRUE(f.Open(path.c_str()));
  }
  ASSERT_EQ(::sigaction(SIGBUS, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, before.sa_handler);
}

TEST(TRunFile, APipeThatDeliversInSlicesIsReadWhole) {
  tarntest::TempDir dir;
  const std::vector<synth::Event> events = run(50, true);
  std::ifstream in(writeRun(dir, "slices.mid", events), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    for (size_t at = 0; fd >= 0 && at < bytes.size(); at += 97) {
      const size_t n = std::min<size_t>(97, bytes.size() - at);
      if (::write(fd, bytes.data() + at, n) != ssize_t(n)) break;
      if (at % (97 * 16) == 0) ::usleep(200);  // let the reader find the pipe empty now and then
    }
    if (fd >= 0) ::close(fd);
  });
  // Whatever the reader does, the writer must finish: it gets EPIPE, not a
  // signal, once the reading end is closed.
  void (*before)(int) = std::signal(SIGPIPE, SIG_IGN);
  {
    TRunFile f;
    const bool opened = f.Open(fifo.c_str());
    EXPECT_TRUE(opened) << f.GetLastError();
    if (opened) {
      expectRun(f, events);
    } else {
      const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // lets the writer's open return
      if (fd >= 0) ::close(fd);
    }
  }
  writer.join();
  std::signal(SIGPIPE, before);
}

}  // namespace
