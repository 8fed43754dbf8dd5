// Reads a MIDAS run file, plain or gzip-compressed, one event at a time.
// Errors are kept as a number and a text instead of being raised.
#pragma once

#include <zlib.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class TMidasEvent;

class TRunFile {
 public:
  TRunFile();
  ~TRunFile();
  TRunFile(const TRunFile&) = delete;
  TRunFile& operator=(const TRunFile&) = delete;

  // Opens `filename` read-only, through zlib when the name ends in "gz".
  bool Open(const char* filename);
  // Reads the next event into `event`. False at the end of the file (error
  // number 0, "EOF") or on any error; the event must not be used then.
  bool Read(TMidasEvent* event);
  // Reads like Read, but the data of an event from a plain file are left where
  // the reader holds them instead of being copied out: they stay valid until
  // the next read, Open or Close of this reader. Begin-of-run, end-of-run and
  // message events are copied all the same, their areas ending in a NUL.
  bool ReadInPlace(TMidasEvent* event);
  void Close();

  const char* GetFilename() const { return fFilename.c_str(); }
  // 0 for end of file, -1 for the reader's own errors, else an errno value.
  int GetLastErrno() const { return fLastErrno; }
  const char* GetLastError() const { return fLastError.c_str(); }

 private:
  bool read(TMidasEvent* event, bool inPlace);
  bool readMapped(TMidasEvent* event, bool inPlace);
  const char* view(uint64_t count, uint64_t* got);
  bool mapWindow(uint64_t begin, uint64_t end);
  void unmap();
  void prefetchAhead(uint64_t count) const;
  void stopMapping();
  bool mappedPagesFailed();
  bool tripped() const;
  long readBytes(void* buffer, unsigned count);
  long readBuffered(char* buffer, long count);
  void setReadError();

  std::string fFilename;
  int fLastErrno;
  std::string fLastError;
  int fFile;
  gzFile fGzFile;

  // Plain files are read in large blocks, not with two system calls per event:
  // bytes [fBufferBegin, fBufferEnd) of fBuffer are read but not yet handed out.
  std::unique_ptr<char[]> fBuffer;
  long fBufferBegin;
  long fBufferEnd;

  // Regular plain files are mapped a window at a time instead: their bytes
  // never pass through a read() copy. fPos is the file offset of the next
  // byte to hand out, fSize the file's length as last seen, and
  // [fMapOffset, fMapOffset + fMapLength) the part of the file at fMap.
  bool fMapped;
  int fGuard;
  const std::atomic<bool>* fTripped;  // the guard's mark for our window
  char* fMap;
  uint64_t fMapOffset;
  uint64_t fMapLength;
  uint64_t fPos;
  uint64_t fSize;
};
