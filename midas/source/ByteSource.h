// Where the run-file reader gets its bytes: a mapped file, blocks read from a
// descriptor, or a decoder of one compressed format. The reader frames events
// over it; the source knows nothing of events.
#pragma once

#include <cstddef>
#include <string>

// Why a source gave fewer bytes than asked.
enum class SourceStop {
  None,    // it gave all that was asked
  End,     // no more bytes: the stream ended where a file may end
  Cut,     // no more bytes, but the input stopped inside a compressed unit
  Failed,  // a read or decoding error, named by the source's error
  // No more bytes for now: the reader was asked to stop waiting (the run is
  // being stopped). Nothing is lost; asked again, the source goes on.
  Interrupted,
};

class ByteSource {
 public:
  // The most a reader may ask for at once: the largest event with its header.
  static const size_t kMaxPeek = 0x100000 + 16;

  virtual ~ByteSource() = default;
  // Makes at least `count` of the next bytes readable and writable at *data,
  // contiguous, without handing them out. Returns how many are there: more
  // than `count` where the source holds more, fewer when it stopped (see
  // stop()) or when `count` is above kMaxPeek and the source holds less. A source asked again after it stopped gives the
  // bytes that arrived since, if any: a file may grow while it is read.
  virtual size_t peek(size_t count, char** data) = 0;
  // Hands out the first `count` bytes of the last peek. The bytes of that peek
  // stay where they are until the next peek.
  virtual void skip(size_t count) = 0;
  // False when the bytes of the last peek could not really be read (the pages
  // of a mapped file failed under the reader); the error is then set. Asked
  // after the bytes were used.
  virtual bool intact() { return true; }
  // Asks that later peeks of up to `most` bytes (above kMaxPeek) be held
  // whole, for a reader that takes large blocks from where they lie. A hint:
  // a source that cannot, still caps them at kMaxPeek.
  virtual void holdPeeksUpTo(size_t most) { (void)most; }

  SourceStop stop() const { return fStop; }
  // For Failed: 0 or less for the source's own errors, else an errno value.
  int errorNumber() const { return fErrorNumber; }
  const std::string& errorText() const { return fErrorText; }

 protected:
  void stopped(SourceStop why) { fStop = why; }
  void failed(int number, std::string text) {
    fStop = SourceStop::Failed;
    fErrorNumber = number;
    fErrorText = std::move(text);
  }
  void going() { fStop = SourceStop::None; }
  // Stops as `other` did: a source that hands over to another.
  void stoppedAs(const ByteSource& other) {
    fStop = other.fStop;
    fErrorNumber = other.fErrorNumber;
    fErrorText = other.fErrorText;
  }

 private:
  SourceStop fStop = SourceStop::None;
  int fErrorNumber = 0;
  std::string fErrorText;
};
