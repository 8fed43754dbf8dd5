// bzip2 streams, one after another (as pbzip2 and bzip2 -c >> write them).
#include <bzlib.h>

#include <cstring>

#include "DecoderSource.h"

namespace {

class Bzip2Source : public DecoderSource {
 public:
  explicit Bzip2Source(std::unique_ptr<ByteSource> input) : DecoderSource(std::move(input)) {
    std::memset(&fStream, 0, sizeof fStream);
  }
  ~Bzip2Source() override {
    if (fReady) BZ2_bzDecompressEnd(&fStream);
  }

 private:
  // Each stream needs a fresh decompressor: the library has no reset.
  Step startUnit(const char*, size_t, bool, Start*) override {
    if (fReady) BZ2_bzDecompressEnd(&fStream);
    std::memset(&fStream, 0, sizeof fStream);
    fReady = BZ2_bzDecompressInit(&fStream, 0, 0) == BZ_OK;
    if (fReady) return Step::Going;
    failed(-1, "bzip2: out of memory");
    return Step::Failed;
  }

  Step step(const char* in, size_t n, size_t* used, char* out, size_t room, size_t* made) override {
    fStream.next_in = const_cast<char*>(in);
    fStream.avail_in = static_cast<unsigned>(n);
    fStream.next_out = out;
    fStream.avail_out = static_cast<unsigned>(room);
    const int rc = BZ2_bzDecompress(&fStream);
    *used = n - fStream.avail_in;
    *made = room - fStream.avail_out;
    if (rc == BZ_STREAM_END) return Step::UnitEnd;
    if (rc == BZ_OK) return Step::Going;
    failed(-1, std::string("bzip2: ") + words(rc));
    return Step::Failed;
  }

  // The bzip2 tool's words for each fault.
  static const char* words(int rc) {
    switch (rc) {
      case BZ_DATA_ERROR:
        return "data integrity (CRC) error in data";
      case BZ_DATA_ERROR_MAGIC:
        return "bad magic number (file not created by bzip2)";
      case BZ_MEM_ERROR:
        return "out of memory";
      default:
        return "internal error";
    }
  }

  bz_stream fStream;
  bool fReady = false;
};

}  // namespace

std::unique_ptr<DecoderSource> makeBzip2Source(std::unique_ptr<ByteSource> input) {
  return std::unique_ptr<DecoderSource>(new Bzip2Source(std::move(input)));
}
