#include "OpenSource.h"

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

}  // namespace

std::unique_ptr<ByteSource> openSource(int fd, const SourceOptions& options, bool* empty) {
  *empty = false;
  unsigned char magic[4] = {0, 0, 0, 0};
  size_t n = 0;
  std::unique_ptr<BlockSource> blocks;
  struct stat st;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular) {
    // Looked at without moving the file's offset: every source starts at 0.
    ssize_t got;
    do {
      got = ::pread(fd, magic, sizeof magic, 0);
    } while (got < 0 && errno == EINTR);
    n = got > 0 ? size_t(got) : 0;
    if (got == 0) {
      *empty = true;
      return nullptr;
    }
  } else {
    // A pipe's first bytes cannot be read twice: they stay in the blocks
    // that the chosen source reads on from.
    // The form is waited for whatever comes: once chosen, a wait for more
    // bytes ends when the reader is interrupted.
    blocks.reset(new BlockSource(fd));
    char* at = nullptr;
    n = blocks->peek(sizeof magic, &at);
    for (size_t i = 0; i < n && i < sizeof magic; ++i) magic[i] = static_cast<unsigned char>(at[i]);
    blocks->wakeOn(options.interruption);
  }
  // A regular file's compressed bytes are mapped too: the decoder reads
  // them where they lie, without a read() copy.
  const RunForm form = formOf(magic, n);
  std::unique_ptr<ByteSource> input;
  if (blocks)
    input = std::move(blocks);
  else if (form != RunForm::Plain)
    input.reset(new MappedFileSource(fd));
  if (form != RunForm::Plain) {
    std::unique_ptr<DecoderSource> decoder = decoderFor(form, options.inflater, std::move(input));
    if (options.decodeThread && options.interruption) {
      std::unique_ptr<ByteSource> ahead = ThreadedSource::start(decoder, *options.interruption);
      if (ahead) return ahead;
    }
    return std::unique_ptr<ByteSource>(std::move(decoder));
  }
  if (regular && !options.mapPlainFile) return std::unique_ptr<ByteSource>(new BlockSource(fd));
  if (regular) return std::unique_ptr<ByteSource>(new MappedFileSource(fd));
  return std::unique_ptr<ByteSource>(std::move(input));
}
