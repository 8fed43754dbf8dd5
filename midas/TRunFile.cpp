#include "TRunFile.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "TMidasEvent.h"

namespace {

// Their data areas go out as C text, so they get a copy with a NUL after it.
bool isTextEvent(uint16_t id) { return id == 0x8000 || id == 0x8001 || id == 0x8002; }

const char* kCut = "Unexpected end of file inside an event";

GzipInflater inflaterFromEnvironment() {
  const char* v = std::getenv("TARN_GZIP_INFLATE");
  return v && std::strcmp(v, "zlib") == 0 ? GzipInflater::Zlib : GzipInflater::Fastest;
}

// A decoder's thread helps only where another core can run it: the process
// may be held to one by its affinity mask (taskset, a batch slot).
bool decodeThreadCanHelp() {
  const char* v = std::getenv("TARN_DECODE_THREAD");
  if (v && std::strcmp(v, "0") == 0) return false;
  cpu_set_t cores;
  CPU_ZERO(&cores);
  return ::sched_getaffinity(0, sizeof cores, &cores) != 0 || CPU_COUNT(&cores) > 1;
}

}  // namespace

TRunFile::TRunFile() : fLastErrno(0), fFile(-1), fInflater(inflaterFromEnvironment()) {}

TRunFile::~TRunFile() { Close(); }

bool TRunFile::Open(const char* filename) {
  if (fFile >= 0) Close();
  fFilename = filename ? filename : "";
  // A FIFO's open() would wait for its writer where no Stop can end the
  // wait: it is opened at once and stays non-blocking, its reads polled first.
  fFile = ::open(fFilename.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fFile < 0) {
    setError(errno, std::strerror(errno));
    return false;
  }
  struct stat st = {};
  const bool known = ::fstat(fFile, &st) == 0;
  if (!known || !S_ISFIFO(st.st_mode)) ::fcntl(fFile, F_SETFL, ::fcntl(fFile, F_GETFL) & ~O_NONBLOCK);
  // A directory opens read-only but is no run file: let the search go on.
  if (known && S_ISDIR(st.st_mode)) {
    ::close(fFile);
    fFile = -1;
    setError(EISDIR, std::strerror(EISDIR));
    return false;
  }
  fLargestSize = static_cast<unsigned long long>(st.st_size);
  return true;
}

void TRunFile::setError(int number, const std::string& text) {
  fLastErrno = number;
  fLastError = text;
}

// The source stopped before the bytes asked for; `got` of them are there.
// Only a stop before any byte of an event is the file's end.
bool TRunFile::shortRead(size_t got, bool eventStarted) {
  fSource->skip(got);
  switch (fSource->stop()) {
    case SourceStop::Failed:
      return sourceFailed();
    case SourceStop::End:
      if (got == 0 && !eventStarted) {
        setError(0, "EOF");
        return false;
      }
      break;
    default:  // a compressed stream cut short, wherever it falls
      break;
  }
  setError(-1, kCut);
  return false;
}

// The source stopped short of an event: a pause (interrupted, or a followed
// file that may grow) takes nothing; anything else ends the file.
bool TRunFile::stoppedShort(size_t got, bool eventStarted) {
  if (fSource->stop() == SourceStop::Interrupted) return interrupted();
  if (fFollow && resumable()) return wait();
  return shortRead(got, eventStarted);
}

bool TRunFile::interrupted() {
  fInterrupted = true;
  setError(EINTR, std::strerror(EINTR));
  return false;
}

SourceOptions TRunFile::sourceOptions() {
  SourceOptions o;
  o.inflater = fInflater;
  o.decodeThread = fDecodeThread && decodeThreadCanHelp();
  o.mapPlainFile = fMapPlainFile;
  o.interruption = &fInterruption;
  return o;
}

// A follow reader met the end of what is there: nothing is taken, so the
// next read starts at the same event.
bool TRunFile::wait() {
  fWaiting = true;
  setError(EAGAIN, "Waiting for more data");
  return false;
}

// Sizes are compared with the largest seen, not with what was read: a
// compressed file's bytes read are not known here, and any shrinking loses data.
std::string TRunFile::Changed() {
  if (fFile < 0) return std::string();
  struct stat open, named;
  if (::fstat(fFile, &open) != 0) return std::strerror(errno);
  if (::stat(fFilename.c_str(), &named) != 0) return "Run file was removed while being followed";
  if (named.st_ino != open.st_ino || named.st_dev != open.st_dev)
    return "Run file was replaced while being followed";
  const unsigned long long size = static_cast<unsigned long long>(open.st_size);
  if (size < fLargestSize) return "Run file was truncated while being followed";
  fLargestSize = size;
  return std::string();
}

bool TRunFile::sourceFailed() {
  setError(fSource->errorNumber() > 0 ? fSource->errorNumber() : -1, fSource->errorText());
  return false;
}

// Whether the source stopped only for want of bytes that may yet come.
bool TRunFile::resumable() const {
  return fSource->stop() == SourceStop::End || fSource->stop() == SourceStop::Cut;
}

bool TRunFile::Read(TMidasEvent* event) { return read(event, false); }

bool TRunFile::ReadInPlace(TMidasEvent* event) { return read(event, true); }

bool TRunFile::read(TMidasEvent* event, bool inPlace) {
  event->Clear();
  fWaiting = false;
  fInterrupted = false;
  if (!fSource) {
    if (fFile < 0) {
      setError(EBADF, std::strerror(EBADF));
      return false;
    }
    // A growing file's first bytes may not yet tell its form (a lone 0x1f).
    struct stat st;
    if (fFollow && ::fstat(fFile, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < 4) return wait();
    bool empty = false;
    fSource = openSource(fFile, sourceOptions(), &empty);
    if (empty && fFollow) return wait();
    if (empty) {  // nothing to tell the form by yet; asked again later
      setError(0, "EOF");
      return false;
    }
  }
  const size_t headerSize = sizeof(MidasEventHeader);
  char* at = nullptr;
  size_t got = fSource->peek(headerSize, &at);
  if (got < headerSize) return stoppedShort(got, false);
  std::memcpy(event->GetEventHeader(), at, headerSize);
  if (!fSource->intact()) return sourceFailed();
  if (!event->IsGoodSize()) {
    fSource->skip(headerSize);
    setError(-1, "Invalid event size");
    return false;
  }
  const size_t size = event->GetDataSize();
  if (got < headerSize + size) {
    // Mostly the whole event was there. Else the header stays untaken until
    // the whole event can be taken at once: a pause loses nothing.
    got = fSource->peek(headerSize + size, &at);
    if (got < headerSize + size) return stoppedShort(got, true);
  }
  char* data = at + headerSize;
  fSource->skip(headerSize + size);
  if (inPlace && !isTextEvent(event->GetEventId())) {
    event->SetData(static_cast<unsigned>(size), data);  // turns the bytes as Read does
  } else {
    std::memcpy(event->GetData(), data, size);
    event->SwapBytes(false);
  }
  if (!fSource->intact()) {
    event->Clear();
    return sourceFailed();
  }
  return true;
}

void TRunFile::Close() {
  fLargestSize = 0;
  fWaiting = false;
  fSource.reset();  // unmaps before the descriptor goes
  if (fFile >= 0) ::close(fFile);
  fFile = -1;
  fFilename.clear();
}
