#include "TRunFile.h"

#include <fcntl.h>
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

}  // namespace

TRunFile::TRunFile() : fLastErrno(0), fFile(-1), fInflater(inflaterFromEnvironment()) {}

TRunFile::~TRunFile() { Close(); }

bool TRunFile::Open(const char* filename) {
  if (fFile >= 0) Close();
  fFilename = filename ? filename : "";
  fFile = ::open(fFilename.c_str(), O_RDONLY | O_CLOEXEC);
  if (fFile < 0) {
    setError(errno, std::strerror(errno));
    return false;
  }
  // A directory opens read-only but is no run file: let the search go on.
  struct stat st;
  if (::fstat(fFile, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fFile);
    fFile = -1;
    setError(EISDIR, std::strerror(EISDIR));
    return false;
  }
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

bool TRunFile::sourceFailed() {
  setError(fSource->errorNumber() > 0 ? fSource->errorNumber() : -1, fSource->errorText());
  return false;
}

bool TRunFile::Read(TMidasEvent* event) { return read(event, false); }

bool TRunFile::ReadInPlace(TMidasEvent* event) { return read(event, true); }

bool TRunFile::read(TMidasEvent* event, bool inPlace) {
  event->Clear();
  if (!fSource) {
    if (fFile < 0) {
      setError(EBADF, std::strerror(EBADF));
      return false;
    }
    bool empty = false;
    fSource = openSource(fFile, fInflater, &empty);
    if (empty) {  // nothing to tell the form by yet; asked again later
      setError(0, "EOF");
      return false;
    }
  }
  const size_t headerSize = sizeof(MidasEventHeader);
  char* at = nullptr;
  size_t got = fSource->peek(headerSize, &at);
  if (got < headerSize) return shortRead(got, false);
  std::memcpy(event->GetEventHeader(), at, headerSize);
  if (!fSource->intact()) return sourceFailed();
  if (!event->IsGoodSize()) {
    fSource->skip(headerSize);
    setError(-1, "Invalid event size");
    return false;
  }
  const size_t size = event->GetDataSize();
  char* data = at + headerSize;
  if (got >= headerSize + size) {
    fSource->skip(headerSize + size);  // mostly: the whole event was there
  } else {
    fSource->skip(headerSize);
    got = fSource->peek(size, &data);
    if (got < size) return shortRead(got, true);
    fSource->skip(size);
  }
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
  fSource.reset();  // unmaps before the descriptor goes
  if (fFile >= 0) ::close(fFile);
  fFile = -1;
  fFilename.clear();
}
