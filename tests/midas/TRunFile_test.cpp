#include "TRunFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "MidasSynth.h"
#include "TMidasEvent.h"
#include "TarnTest.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string writeRun(const tarntest::TempDir& dir, const std::string& name,
                     const std::vector<synth::Event>& events, bool swapped = false,
                     synth::Damage damage = synth::Damage::None) {
  const std::string path = dir.path() + "/" + name;
  std::string error;
  EXPECT_TRUE(synth::writeRun(path, events, swapped, damage, error)) << error;
  return path;
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int openDescriptors() {
  int n = 0;
  DIR* d = ::opendir("/proc/self/fd");
  while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
  ::closedir(d);
  return n;
}

// Reads every event and checks each against what was written.
void expectRun(TRunFile& f, const std::vector<synth::Event>& events) {
  TMidasEvent e;
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE("event " + std::to_string(i));
    ASSERT_TRUE(f.Read(&e)) << f.GetLastError();
    const synth::Event& want = events[i];
    EXPECT_EQ(e.GetEventId(), want.id);
    EXPECT_EQ(e.GetTriggerMask(), want.triggerMask);
    EXPECT_EQ(e.GetSerialNumber(), want.serial);
    EXPECT_EQ(e.GetTimeStamp(), want.timeStamp);
    const Bytes area = synth::encodeDataArea(want, false);
    ASSERT_EQ(e.GetDataSize(), area.size());
    EXPECT_EQ(0, std::memcmp(e.GetData(), area.data(), area.size()));
    EXPECT_EQ(e.GetData()[area.size()], 0);  // spare zero byte
  }
  EXPECT_FALSE(f.Read(&e));
  EXPECT_EQ(f.GetLastErrno(), 0);
  EXPECT_STREQ(f.GetLastError(), "EOF");
}

TEST(TRunFile, ReadsPlainGzipAndSwappedRunsEventByEvent) {
  tarntest::TempDir dir;
  for (bool bank32 : {false, true}) {
    for (bool swapped : {false, true}) {
      for (const char* name : {"run00042.mid", "run00042.mid.gz"}) {
        SCOPED_TRACE(std::string(name) + (bank32 ? " bank32" : "") + (swapped ? " swapped" : ""));
        synth::RunSpec spec;
        spec.run = 42;
        spec.events = 25;
        spec.bank32 = bank32;
        spec.swapped = swapped;
        const std::vector<synth::Event> run = synth::makeRun(spec);
        const std::string path = writeRun(dir, name, run, swapped);
        TRunFile f;
        ASSERT_TRUE(f.Open(path.c_str())) << f.GetLastError();
        EXPECT_STREQ(f.GetFilename(), path.c_str());
        expectRun(f, run);
      }
    }
  }
}

TEST(TRunFile, BeginOfRunXmlIsLeftAsTextAndTerminated) {
  tarntest::TempDir dir;
  std::vector<synth::Event> run = {synth::beginOfRun(7, 100), synth::endOfRun(7, 200, 0)};
  const std::string path = writeRun(dir, "bor.mid", run, true);
  TRunFile f;
  ASSERT_TRUE(f.Open(path.c_str()));
  TMidasEvent e;
  ASSERT_TRUE(f.Read(&e));
  EXPECT_EQ(e.GetEventId(), 0x8000);
  EXPECT_EQ(e.GetSerialNumber(), 7u);
  EXPECT_EQ(std::string(e.GetData()), std::string(run[0].raw.begin(), run[0].raw.end()));
  EXPECT_EQ(std::strncmp(e.GetData(), "<?xml", 5), 0);
  ASSERT_TRUE(f.Read(&e));
  EXPECT_EQ(e.GetEventId(), 0x8001);
  EXPECT_EQ(std::strncmp(e.GetData(), "<?xml", 5), 0);
}

TEST(TRunFile, OnlyANameEndingInGzIsReadThroughZlib) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.events = 3;
  const std::vector<synth::Event> run = synth::makeRun(spec);
  const std::string gz = writeRun(dir, "run.mid.gz", run);
  ASSERT_EQ(fileBytes(gz).substr(0, 2), "\x1f\x8b");
  // The same compressed bytes under other names are taken as they are.
  for (const char* other : {"run.gzip", "run.mid.g", "run.mid"}) {
    SCOPED_TRACE(other);
    const std::string p = dir.write(other, fileBytes(gz));
    TRunFile f;
    ASSERT_TRUE(f.Open(p.c_str()));
    TMidasEvent e;
    EXPECT_FALSE(f.Read(&e) && e.GetEventId() == run[0].id && e.GetDataSize() > 0 &&
                 e.GetSerialNumber() == run[0].serial);
  }
  // Renamed to end in "gz" without a dot it is still decompressed.
  const std::string p = dir.write("runXgz", fileBytes(gz));
  TRunFile f;
  ASSERT_TRUE(f.Open(p.c_str()));
  expectRun(f, run);

  // A name shorter than two characters is read plain.
  const std::string plain = writeRun(dir, "z", run);
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  TRunFile s;
  const bool opened = s.Open("z");
  EXPECT_TRUE(opened);
  if (opened) expectRun(s, run);
  ASSERT_EQ(::chdir(cwd), 0);
  (void)plain;
}

TEST(TRunFile, OpenFailuresKeepTheSystemError) {
  tarntest::TempDir dir;
  TRunFile f;
  EXPECT_FALSE(f.Open((dir.path() + "/missing.mid").c_str()));
  EXPECT_EQ(f.GetLastErrno(), ENOENT);
  EXPECT_STREQ(f.GetLastError(), std::strerror(ENOENT));
  // A directory is no run file.
  EXPECT_FALSE(f.Open(dir.path().c_str()));
  EXPECT_EQ(f.GetLastErrno(), EISDIR);
  EXPECT_STREQ(f.GetLastError(), std::strerror(EISDIR));
  TMidasEvent e;
  EXPECT_FALSE(f.Read(&e));  // nothing open: an error, not a crash
  EXPECT_NE(f.GetLastErrno(), 0);
}

TEST(TRunFile, EmptyFileEndsAtOnceAndCloseForgetsTheName) {
  tarntest::TempDir dir;
  for (bool gz : {false, true}) {
    const std::string p = gz ? writeRun(dir, "empty.mid.gz", {}) : dir.write("empty.mid", "");
    TRunFile f;
    ASSERT_TRUE(f.Open(p.c_str()));
    TMidasEvent e;
    EXPECT_FALSE(f.Read(&e));
    EXPECT_EQ(f.GetLastErrno(), 0);
    EXPECT_STREQ(f.GetLastError(), "EOF");
    f.Close();
    EXPECT_STREQ(f.GetFilename(), "");
    f.Close();
  }
}

TEST(TRunFile, OpeningAgainClosesTheFirstFileOnce) {
  tarntest::TempDir dir;
  synth::RunSpec a, b;
  a.run = 1;
  b.run = 2;
  const std::vector<synth::Event> runA = synth::makeRun(a), runB = synth::makeRun(b);
  const std::string pa = writeRun(dir, "a.mid", runA), pb = writeRun(dir, "b.mid.gz", runB);
  const int before = openDescriptors();
  {
    TRunFile f;
    ASSERT_TRUE(f.Open(pa.c_str()));
    TMidasEvent e;
    ASSERT_TRUE(f.Read(&e));
    ASSERT_TRUE(f.Open(pb.c_str()));
    EXPECT_EQ(openDescriptors(), before + 1);
    expectRun(f, runB);
    ASSERT_TRUE(f.Open(pa.c_str()));
    EXPECT_EQ(openDescriptors(), before + 1);
    expectRun(f, runA);
  }
  EXPECT_EQ(openDescriptors(), before);
}

TEST(TRunFile, EventSizesAtAndBeyondTheLimit) {
  tarntest::TempDir dir;
  // The largest event: one 32-bit BYTE bank filling the whole area, built by hand.
  synth::Event big;
  big.id = 5;
  Bytes& a = big.raw;
  auto put32 = [&a](uint32_t v) {
    for (int i = 0; i < 4; ++i) a.push_back(uint8_t(v >> (8 * i)));
  };
  put32(1048576 - 8);
  put32(0x11);
  a.insert(a.end(), {'B', 'I', 'G', '0'});
  put32(synth::TID_BYTE);
  put32(1048576 - 20);
  a.resize(1048576, 0x5a);
  ASSERT_EQ(synth::encodeDataArea(big).size(), 1048576u);
  for (const char* name : {"big.mid", "big.mid.gz"}) {
    SCOPED_TRACE(name);
    TRunFile f;
    ASSERT_TRUE(f.Open(writeRun(dir, name, {big, big}).c_str()));
    expectRun(f, {big, big});
    ASSERT_TRUE(f.Open(writeRun(dir, name, {big}).c_str()));
    TMidasEvent e;
    ASSERT_TRUE(f.Read(&e));
    int len, type;
    void* data;
    ASSERT_EQ(e.FindBank("BIG0", &len, &type, &data), 1);
    EXPECT_EQ(len, 1048576 - 20);
  }
  // The synthesiser's oversize damage claims 1048577 bytes in the last header.
  synth::RunSpec spec;
  spec.events = 2;
  for (synth::Damage d : {synth::Damage::OversizeData, synth::Damage::ZeroSize}) {
    for (const char* name : {"bad.mid", "bad.mid.gz"}) {
      SCOPED_TRACE(name);
      const std::vector<synth::Event> run = synth::makeRun(spec);
      TRunFile f;
      ASSERT_TRUE(f.Open(writeRun(dir, name, run, false, d).c_str()));
      TMidasEvent e;
      for (size_t i = 0; i + 1 < run.size(); ++i) ASSERT_TRUE(f.Read(&e));
      EXPECT_FALSE(f.Read(&e));
      EXPECT_EQ(f.GetLastErrno(), -1);
      EXPECT_STREQ(f.GetLastError(), "Invalid event size");
    }
  }
}

TEST(TRunFile, TruncatedFilesEndWithAnErrorThatIsNotSuccess) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.events = 4;
  const std::vector<synth::Event> run = synth::makeRun(spec);
  for (synth::Damage d : {synth::Damage::TruncatedHeader, synth::Damage::TruncatedData}) {
    for (const char* name : {"cut.mid", "cut.mid.gz"}) {
      SCOPED_TRACE(std::string(name) + (d == synth::Damage::TruncatedData ? " data" : " header"));
      TRunFile f;
      ASSERT_TRUE(f.Open(writeRun(dir, name, run, false, d).c_str()));
      TMidasEvent e;
      for (size_t i = 0; i + 1 < run.size(); ++i) ASSERT_TRUE(f.Read(&e)) << f.GetLastError();
      EXPECT_FALSE(f.Read(&e));
      EXPECT_NE(f.GetLastErrno(), 0);
      EXPECT_STRNE(f.GetLastError(), "EOF");
      EXPECT_STRNE(f.GetLastError(), std::strerror(0));
      EXPECT_STRNE(f.GetLastError(), "");
      // The file stays open and keeps saying so.
      EXPECT_FALSE(f.Read(&e));
    }
  }
}

TEST(TRunFile, CorruptGzipStreamIsAnError) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.events = 50;
  std::string bytes = fileBytes(writeRun(dir, "ok.mid.gz", synth::makeRun(spec)));
  for (size_t i = bytes.size() / 3; i < bytes.size() / 2; ++i) bytes[i] = char(bytes[i] ^ 0x5a);
  const std::string p = dir.write("broken.mid.gz", bytes);
  TRunFile f;
  ASSERT_TRUE(f.Open(p.c_str()));
  TMidasEvent e;
  int n = 0;
  while (f.Read(&e) && n < 1000) ++n;
  EXPECT_LT(n, 52);
  EXPECT_NE(f.GetLastErrno(), 0);
  EXPECT_STRNE(f.GetLastError(), std::strerror(0));
}

TEST(TRunFile, GarbageNeverCrashes) {
  tarntest::TempDir dir;
  std::string junk;
  uint32_t x = 12345;
  for (int i = 0; i < 200000; ++i) {
    x = x * 1103515245u + 12345u;
    junk.push_back(char(x >> 16));
  }
  // Now and then a header with a plausible size, so that data areas get walked.
  for (size_t at = 0; at + 16 < junk.size(); at += 997) {
    uint32_t size = uint32_t(at % 300) + 1;
    std::memcpy(&junk[at + 12], &size, 4);
  }
  for (bool gz : {false, true}) {
    const std::string p = dir.path() + (gz ? "/junk.mid.gz" : "/junk.mid");
    if (gz) {
      gzFile g = gzopen(p.c_str(), "wb");
      gzwrite(g, junk.data(), unsigned(junk.size()));
      gzclose(g);
    } else {
      dir.write("junk.mid", junk);
    }
    TRunFile f;
    ASSERT_TRUE(f.Open(p.c_str()));
    TMidasEvent e;
    while (f.Read(&e)) {
      e.SetBankList();
      int len, type;
      void* data;
      e.FindBank("ABCD", &len, &type, &data);
      TMidasEvent copy(e);
      copy.SwapBytes(true);
    }
    EXPECT_NE(f.GetLastError(), std::string());
  }
}

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

TEST(TRunFile, MemoryDoesNotGrowWithTheLengthOfTheFile) {
  tarntest::TempDir dir;
  synth::Event big;
  big.bank32 = true;
  big.banks = {synth::byteBank("BIG0", synth::TID_BYTE, Bytes(512 * 1024, 1))};
  std::vector<synth::Event> many(100, big);  // 50 MiB
  const std::string p = writeRun(dir, "long.mid", many);
  TRunFile f;
  ASSERT_TRUE(f.Open(p.c_str()));
  TMidasEvent e;
  ASSERT_TRUE(f.Read(&e));
  const long start = residentKiB();
  int n = 1;
  while (f.Read(&e)) ++n;
  EXPECT_EQ(n, 100);
  EXPECT_LT(residentKiB() - start, 8 * 1024);
}

}  // namespace
