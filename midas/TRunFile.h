// Reads a MIDAS run file, plain or compressed (gzip, lz4, bzip2, zstd: told
// by the file's first bytes), one event at a time. Errors are kept as a
// number and a text instead of being raised.
#pragma once

#include <memory>
#include <string>

#include "source/Interruption.h"
#include "source/OpenSource.h"

class TMidasEvent;

class TRunFile {
 public:
  TRunFile();
  ~TRunFile();
  TRunFile(const TRunFile&) = delete;
  TRunFile& operator=(const TRunFile&) = delete;

  // Opens `filename` read-only. How its bytes are read is chosen at the first
  // read, from what they begin with.
  bool Open(const char* filename);
  // Reads the next event into `event`. False at the end of the file (error
  // number 0, "EOF") or on any error; the event must not be used then.
  bool Read(TMidasEvent* event);
  // Reads like Read, but the data of an event are left where the reader
  // holds them instead of being copied out: they stay valid until the next
  // read, Open or Close of this reader. Begin-of-run, end-of-run and message
  // events are copied all the same, their areas ending in a NUL.
  bool ReadInPlace(TMidasEvent* event);
  void Close();

  // Following: the end of what the file holds now is no end of the file. A
  // read that reaches it, even inside an event, takes nothing and fails with
  // Waiting() true; asked again, it reads on where it stopped once the file
  // has grown. Only errors that are not the end still fail as usual.
  void SetFollow(bool follow) { fFollow = follow; }
  // Whether the last read failed only because the file holds no more yet.
  bool Waiting() const { return fWaiting; }
  // Empty while the open file is still the one at its name and never shrank
  // since it was opened; else why the file cannot be followed any more.
  std::string Changed();

  // Whether compressed files opened after this are decoded on a thread of
  // their own, ahead of the reads (on by default). It is used only where it
  // can help: with two usable cores or more, and unless the environment has
  // TARN_DECODE_THREAD=0.
  void SetDecodeThread(bool on) { fDecodeThread = on; }

  // Whether plain files opened after this are mapped (the default) or read
  // by read() into a buffer of the reader's: the better for a reader that
  // copies out every byte it keeps.
  void SetMapping(bool on) { fMapPlainFile = on; }

  // Any thread: ends the read that waits (for a decoder, for a pipe's bytes)
  // at once, and fails every wait until ClearInterrupt(). Such a read takes
  // nothing and fails with Interrupted() true; the next goes on from there.
  void Interrupt() { fInterruption.raise(); }
  void ClearInterrupt() { fInterruption.clear(); }
  bool Interrupted() const { return fInterrupted; }

  // Which inflate reads gzip files opened after this; the fastest unless the
  // environment has TARN_GZIP_INFLATE=zlib.
  void SetGzipInflater(GzipInflater inflater) { fInflater = inflater; }

  const char* GetFilename() const { return fFilename.c_str(); }
  // 0 for end of file, -1 for the reader's own errors, else an errno value.
  int GetLastErrno() const { return fLastErrno; }
  const char* GetLastError() const { return fLastError.c_str(); }

 private:
  bool read(TMidasEvent* event, bool inPlace);
  bool stoppedShort(size_t got, bool eventStarted);
  bool shortRead(size_t got, bool eventStarted);
  bool interrupted();
  SourceOptions sourceOptions();
  bool sourceFailed();
  bool wait();
  bool resumable() const;
  void setError(int number, const std::string& text);

  std::string fFilename;
  int fLastErrno;
  std::string fLastError;
  int fFile;
  GzipInflater fInflater;
  bool fFollow = false;
  bool fWaiting = false;
  bool fDecodeThread = true;
  bool fMapPlainFile = true;
  bool fInterrupted = false;
  Interruption fInterruption;  // outlives every source, which may wait on it
  unsigned long long fLargestSize = 0;  // of the open file, as last seen
  std::unique_ptr<ByteSource> fSource;  // chosen at the first read; goes before fInterruption
};
