// What every decoder of a compressed run file shares: the compressed input
// (mapped, or read in blocks from a pipe), the decoded bytes kept in one large block (so that events
// are taken where they lie in it), and the walk over the stream's units
// (gzip members, lz4 and zstd frames, bzip2 streams) one after another.
// Each format is one small class that says how to start a unit and how to
// take one step of its library.
#pragma once

#include <memory>

#include "ByteSource.h"

class DecoderSource : public ByteSource {
 public:
  // Decoded bytes made per library call, by default: large enough that a
  // call's cost is small, small enough that they are still in the cache when
  // the events in them are read.
  static const size_t kStep = 256 * 1024;

  // `step`: the decoded bytes asked of the library per call.
  explicit DecoderSource(std::unique_ptr<ByteSource> input, size_t step = kStep);
  size_t peek(size_t count, char** data) override;
  void skip(size_t count) override { fBegin += count; }
  // Decodes the next bytes of the stream into [out, out + room), for a
  // reader that keeps decoded bytes in blocks of its own instead of peeking:
  // how many were made, 0 once the stream stopped (stop() says why; asked
  // again, it goes on where a growing file allows). Not mixed with peek.
  size_t decode(char* out, size_t room);

 protected:
  enum class Start { Unit, Trailing };  // Trailing: what follows is ignored
  enum class Step { Going, UnitEnd, Failed };
  // Prepares the library for a unit whose first bytes are [in, in + n), n
  // being 1 or 2; `first` for the stream's first unit. Failed when the
  // library cannot start (the error set with failed()).
  virtual Step startUnit(const char* in, size_t n, bool first, Start* start) = 0;
  // Decodes from [in, in + n) (n may be 0 at the input's end) into
  // [out, out + room); sets how many bytes it used and made. UnitEnd when the
  // unit ended; Failed (with failed()) on a library error.
  virtual Step step(const char* in, size_t n, size_t* used, char* out, size_t room,
                    size_t* made) = 0;
  // How many input bytes the next step would take whole (without a copy of
  // its own); 1 when it takes any.
  virtual size_t inputWanted() const { return 1; }
  // How many first bytes startUnit needs to tell a unit from trailing bytes.
  virtual size_t unitMagicSize() const { return 1; }

 private:
  bool inputPaused();
  size_t noProgress();

  std::unique_ptr<ByteSource> fInput;
  size_t fInputHeld = 0;  // input bytes peeked but not used
  size_t fStep;
  size_t fCapacity;
  std::unique_ptr<char[]> fBuffer;  // made at the first peek: unused when decode() is called
  size_t fBegin = 0;  // [fBegin, fEnd) of fBuffer are decoded but not handed out
  size_t fEnd = 0;
  bool fInUnit = false;
  bool fHungry = false;     // the last step could not go on with the input held
  bool fTrailing = false;   // the rest of the input is ignored
  bool fBroken = false;     // a failure, kept for every later peek
  size_t fUnits = 0;        // units ended
};

// The decoders, each in a file of its own (ISA-L's only where the build found it).
std::unique_ptr<DecoderSource> makeZlibSource(std::unique_ptr<ByteSource> input);
std::unique_ptr<DecoderSource> makeIsalSource(std::unique_ptr<ByteSource> input);
std::unique_ptr<DecoderSource> makeLz4Source(std::unique_ptr<ByteSource> input);
std::unique_ptr<DecoderSource> makeBzip2Source(std::unique_ptr<ByteSource> input);
std::unique_ptr<DecoderSource> makeZstdSource(std::unique_ptr<ByteSource> input);
