// Reads a MIDAS run file, plain or gzip-compressed, one event at a time.
// Errors are kept as a number and a text instead of being raised.
#pragma once

#include <zlib.h>

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
  void Close();

  const char* GetFilename() const { return fFilename.c_str(); }
  // 0 for end of file, -1 for the reader's own errors, else an errno value.
  int GetLastErrno() const { return fLastErrno; }
  const char* GetLastError() const { return fLastError.c_str(); }

 private:
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
};
