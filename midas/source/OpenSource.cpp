#include "OpenSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

#include "BlockSource.h"
#include "DecoderSource.h"
#include "Interruption.h"
#include "MappedFileSource.h"
#include "ThreadedSource.h"

namespace {

bool begins(const unsigned char* bytes, size_t n, std::initializer_list<unsigned char> magic) {
  if (n < magic.size()) return false;
  size_t i = 0;
  for (unsigned char m : magic)
    if (bytes[i++] != m) return false;
  return true;
}

}  // namespace

RunForm formOf(const unsigned char* b, size_t n) {
  if (begins(b, n, {0x1f, 0x8b})) return RunForm::Gzip;
  if (begins(b, n, {0x04, 0x22, 0x4d, 0x18})) return RunForm::Lz4;
  if (begins(b, n, {'B', 'Z', 'h'}) && n >= 4 && b[3] >= '1' && b[3] <= '9') return RunForm::Bzip2;
  if (begins(b, n, {0x28, 0xb5, 0x2f, 0xfd})) return RunForm::Zstd;
  return RunForm::Plain;
}

bool haveIsal() {
#ifdef TARN_HAVE_ISAL
  return true;
#else
  return false;
#endif
}

namespace {

std::unique_ptr<DecoderSource> decoderFor(RunForm form, GzipInflater inflater,
                                          std::unique_ptr<ByteSource> input) {
  (void)inflater;  // without ISA-L, zlib is the only inflate
  switch (form) {
    case RunForm::Gzip:
#ifdef TARN_HAVE_ISAL
      if (inflater == GzipInflater::Fastest) return makeIsalSource(std::move(input));
#endif
      return makeZlibSource(std::move(input));
    case RunForm::Lz4:
      return makeLz4Source(std::move(input));
    case RunForm::Bzip2:
      return makeBzip2Source(std::move(input));
    case RunForm::Zstd:
      return makeZstdSource(std::move(input));
    case RunForm::Plain:
      break;
  }
  return nullptr;
}

// The source of `form` over `input`: a decoder, on a thread of its own where asked.
std::unique_ptr<ByteSource> sourceFor(RunForm form, const SourceOptions& options,
                                      std::unique_ptr<ByteSource> input) {
  if (form == RunForm::Plain) return input;
  std::unique_ptr<DecoderSource> decoder = decoderFor(form, options.inflater, std::move(input));
  if (options.decodeThread && options.interruption) {
    std::unique_ptr<ByteSource> ahead = ThreadedSource::start(decoder, *options.interruption);
    if (ahead) return ahead;
  }
  return std::unique_ptr<ByteSource>(std::move(decoder));
}

// A pipe's first bytes cannot be read twice: they stay in the blocks that the
// chosen source reads on from. They are waited for at the first peek, which
// ends, Interrupted, like every later wait: a run being stopped is not held
// by a pipe that has no writer yet, or has sent too little to tell its form.
class FormWaitSource : public ByteSource {
 public:
  FormWaitSource(std::unique_ptr<BlockSource> blocks, const SourceOptions& options)
      : fBlocks(std::move(blocks)), fOptions(options) {
    fBlocks->wakeOn(options.interruption);
  }
  size_t peek(size_t count, char** data) override {
    if (!fChosen) {
      const size_t n = fBlocks->peek(4, data);
      if (n < 4 && fBlocks->stop() == SourceStop::Interrupted) {
        stoppedAs(*fBlocks);
        return 0;
      }
      const RunForm form = formOf(reinterpret_cast<const unsigned char*>(*data), n);
      fChosen = sourceFor(form, fOptions, std::move(fBlocks));
    }
    const size_t n = fChosen->peek(count, data);
    stoppedAs(*fChosen);
    return n;
  }
  void skip(size_t count) override {
    if (fChosen) fChosen->skip(count);
  }
  bool intact() override { return !fChosen || fChosen->intact(); }

 private:
  std::unique_ptr<BlockSource> fBlocks;  // until the form is chosen
  SourceOptions fOptions;
  std::unique_ptr<ByteSource> fChosen;
};

}  // namespace

std::unique_ptr<ByteSource> openSource(int fd, const SourceOptions& options, bool* empty) {
  *empty = false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    return std::unique_ptr<ByteSource>(new FormWaitSource(std::unique_ptr<BlockSource>(new BlockSource(fd)), options));
  // Looked at without moving the file's offset: every source starts at 0.
  unsigned char magic[4] = {0, 0, 0, 0};
  ssize_t got;
  do {
    got = ::pread(fd, magic, sizeof magic, 0);
  } while (got < 0 && errno == EINTR);
  if (got == 0) {
    *empty = true;
    return nullptr;
  }
  const RunForm form = formOf(magic, got > 0 ? size_t(got) : 0);
  if (form == RunForm::Plain && !options.mapPlainFile) return std::unique_ptr<ByteSource>(new BlockSource(fd));
  if (form == RunForm::Plain) return std::unique_ptr<ByteSource>(new MappedFileSource(fd));
  // A compressed run's bytes are read(), not mapped: the decoder passes over
  // each once, and mapping a page costs more than copying it (four times as
  // much on a virtual machine); the kernel reads ahead of a sequential reader.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return sourceFor(form, options, std::unique_ptr<ByteSource>(new BlockSource(fd)));
}
