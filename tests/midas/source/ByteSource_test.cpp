// The byte sources under the reader: a source that stopped is asked again and
// gives what arrived since (a file read as it is written).
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "MidasSynth.h"
#include "TarnTest.h"
#include "source/BlockSource.h"
#include "source/DecoderSource.h"
#include "source/MappedFileSource.h"
#include "source/OpenSource.h"
#include "source/ThreadedSource.h"

namespace {

// Everything the source gives now, in pieces of up to 100000 bytes.
std::string drain(ByteSource& s) {
  std::string out;
  for (;;) {
    char* at = nullptr;
    const size_t n = s.peek(100000, &at);
    const size_t take = n < 100000 ? n : 100000;
    out.append(at, take);
    s.skip(take);
    if (n < 100000 && s.stop() != SourceStop::None) return out;
  }
}

TEST(ByteSource, AStoppedSourceGivesWhatArrivedSinceWhenAskedAgain) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.events = 400;
  spec.modules = true;
  std::string plain;
  for (const synth::Event& e : synth::makeRun(spec)) {
    const std::vector<uint8_t> b = synth::encodeEvent(e);
    plain.append(b.begin(), b.end());
  }
  for (const std::string form : {".mid", ".mid.gz", ".mid.lz4", ".mid.bz2", ".mid.zst"})
    for (GzipInflater inflater : {GzipInflater::Fastest, GzipInflater::Zlib}) {
      SCOPED_TRACE(form + (inflater == GzipInflater::Zlib ? " zlib" : ""));
      std::string error;
      ASSERT_TRUE(synth::writeRun(dir.path() + "/whole" + form, synth::makeRun(spec), false,
                                  synth::Damage::None, error)) << error;
      const std::string whole = tarntest::contentOf(dir.path() + "/whole" + form);
      const std::string path = dir.write("growing" + form, "");
      const int fd = ::open(path.c_str(), O_RDONLY);
      ASSERT_GE(fd, 0);
      bool empty = false;
      EXPECT_EQ(openSource(fd, inflater, &empty), nullptr);  // nothing to tell the form by yet
      EXPECT_TRUE(empty);
      std::ofstream(path, std::ios::binary | std::ios::app) << whole.substr(0, whole.size() / 2);
      std::unique_ptr<ByteSource> s = openSource(fd, inflater, &empty);
      ASSERT_NE(s, nullptr);
      std::string got = drain(*s);
      // Asked again and again while the writer pauses: still a wait, never an error.
      for (int i = 0; i < 40; ++i) got += drain(*s);
      EXPECT_EQ(s->stop(), form == ".mid" ? SourceStop::End : SourceStop::Cut);
      EXPECT_LT(got.size(), plain.size());
      std::ofstream(path, std::ios::binary | std::ios::app) << whole.substr(whole.size() / 2);
      got += drain(*s);
      EXPECT_EQ(s->stop(), SourceStop::End);
      EXPECT_TRUE(got == plain) << got.size() << " of " << plain.size() << " bytes";
      s.reset();
      ::close(fd);
    }
}

// A gzip file that grows member by member may stop one byte into a member:
// too little to tell it from trailing garbage, so it must not be taken for that.
TEST(ByteSource, AGzipMemberBegunByOneByteIsReadOnOnceTheFileGrows) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.events = 200;
  std::string plain, error;
  synth::RunWriter writer;
  ASSERT_TRUE(writer.open(dir.path() + "/whole.mid.gz", error, 4000)) << error;
  for (const synth::Event& e : synth::makeRun(spec)) {
    const std::vector<uint8_t> b = synth::encodeEvent(e);
    plain.append(b.begin(), b.end());
    ASSERT_TRUE(writer.write(b, error)) << error;
  }
  ASSERT_TRUE(writer.close(error)) << error;
  const std::string whole = tarntest::contentOf(dir.path() + "/whole.mid.gz");
  const size_t second = whole.find("\x1f\x8b\x08", 1);
  ASSERT_NE(second, std::string::npos);
  for (GzipInflater inflater : {GzipInflater::Fastest, GzipInflater::Zlib}) {
    const std::string path = dir.write("growing.mid.gz", whole.substr(0, second + 1));
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    bool empty = false;
    std::unique_ptr<ByteSource> s = openSource(fd, inflater, &empty);
    ASSERT_NE(s, nullptr);
    std::string got = drain(*s);
    EXPECT_EQ(s->stop(), SourceStop::End);  // a file may end there: the byte is ignored so far
    std::ofstream(path, std::ios::binary | std::ios::app) << whole.substr(second + 1);
    got += drain(*s);
    EXPECT_EQ(s->stop(), SourceStop::End);
    EXPECT_TRUE(got == plain) << got.size() << " of " << plain.size() << " bytes";
    s.reset();
    ::close(fd);
  }
}

// A library that neither takes input nor makes output, whatever it is given.
class Stuck : public DecoderSource {
 public:
  using DecoderSource::DecoderSource;

 private:
  Step startUnit(const char*, size_t, bool, Start*) override { return Step::Going; }
  Step step(const char*, size_t, size_t* used, char*, size_t, size_t* made) override {
    *used = *made = 0;
    return Step::Going;
  }
};

// It is an error, never a reader that loops for ever, read() or mapped.
TEST(ByteSource, ADecoderThatMakesNoProgressIsAnError) {
  tarntest::TempDir dir;
  const std::string path = dir.write("stuck", std::string(3 << 20, 'x'));
  for (bool mapped : {false, true}) {
    SCOPED_TRACE(mapped ? "mapped" : "read");
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::unique_ptr<ByteSource> input;
    if (mapped)
      input.reset(new MappedFileSource(fd));
    else
      input.reset(new BlockSource(fd));
    Stuck stuck(std::move(input));
    char* at = nullptr;
    EXPECT_EQ(stuck.peek(16, &at), 0u);
    EXPECT_EQ(stuck.stop(), SourceStop::Failed);
    EXPECT_EQ(stuck.errorText(), "compressed stream: the decoder makes no progress");
    ::close(fd);
  }
}

// A reader that pauses lets the decoder fill its ring; each time the ring
// must be refilled, and nothing may be lost or repeated on the way.
TEST(ByteSource, ADecoderAheadOfAPausingReaderRefillsItsRing) {
  tarntest::TempDir dir;
  synth::RunSpec spec;
  spec.events = 1000;
  spec.modules = true;
  std::string plain, error;
  for (const synth::Event& e : synth::makeRun(spec)) {
    const std::vector<uint8_t> b = synth::encodeEvent(e);
    plain.append(b.begin(), b.end());
  }
  const std::string path = dir.path() + "/run.mid.zst";
  ASSERT_TRUE(synth::writeRun(path, synth::makeRun(spec), false, synth::Damage::None, error)) << error;
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  Interruption interruption;
  std::unique_ptr<DecoderSource> decoder = makeZstdSource(std::unique_ptr<ByteSource>(new MappedFileSource(fd)));
  std::unique_ptr<ByteSource> s = ThreadedSource::start(decoder, interruption, 4096, 4);
  ASSERT_NE(s, nullptr);
  auto slowly = std::async(std::launch::async, [&] {
    std::string got;
    char* at = nullptr;
    for (size_t n; (n = s->peek(1000, &at)) > 0;) {
      if (got.size() / 20000 != (got.size() + n) / 20000) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      got.append(at, n);
      s->skip(n);
    }
    return got;
  });
  if (slowly.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "the reader waits for ever on a decoder that is not woken";
    interruption.raise();  // ends the reader's wait
  }
  const std::string got = slowly.get();
  EXPECT_EQ(s->stop(), SourceStop::End);
  EXPECT_TRUE(got == plain) << got.size() << " of " << plain.size() << " bytes";
  s.reset();
  ::close(fd);
}

// The decoder wakes a waiting reader for a batch of blocks, not for each: the
// blocks it made must still reach the reader before it waits on a silent
// pipe, also when they end exactly where the decoder's block ends.
TEST(ByteSource, WholeBlocksMadeBeforeAPipeFallsSilentReachTheReader) {
  std::string plain(2 * ThreadedSource::kBlockSize, '\0');
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = char((i * 7919) >> 9);
  tarntest::TempDir dir;
  const std::string path = dir.path() + "/two-blocks.gz";
  gzFile g = gzopen(path.c_str(), "wb");
  ASSERT_TRUE(g && gzwrite(g, plain.data(), unsigned(plain.size())) == int(plain.size()) && gzclose(g) == Z_OK);
  const std::string gz = tarntest::contentOf(path);
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ASSERT_LT(gz.size(), 65536u);  // the pipe holds it all
  ASSERT_EQ(::write(p[1], gz.data(), gz.size()), ssize_t(gz.size()));  // then silence, the pipe held open
  Interruption interruption;
  SourceOptions options;
  options.decodeThread = true;
  options.interruption = &interruption;
  bool empty = false;
  std::unique_ptr<ByteSource> s = openSource(p[0], options, &empty);
  ASSERT_NE(s, nullptr);
  auto reader = std::async(std::launch::async, [&] {
    std::string got;
    char* at = nullptr;
    for (size_t n; got.size() < plain.size() && (n = s->peek(1, &at)) > 0; s->skip(n)) got.append(at, n);
    return got;
  });
  if (reader.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    ADD_FAILURE() << "the blocks made stay with the decoder while it waits for the pipe";
    interruption.raise();
  }
  EXPECT_TRUE(reader.get() == plain);
  s.reset();
  ::close(p[0]);
  ::close(p[1]);
}

}  // namespace
