// zstd frames, one after another, their checksums checked.
#include <zstd.h>
#include <zstd_errors.h>

#include "DecoderSource.h"

namespace {

class ZstdSource : public DecoderSource {
 public:
  explicit ZstdSource(std::unique_ptr<ByteSource> input)
      : DecoderSource(std::move(input)), fStream(ZSTD_createDStream()) {}
  ~ZstdSource() override { ZSTD_freeDStream(fStream); }

 private:
  Step startUnit(const char*, size_t, bool, Start*) override {
    if (fStream) return Step::Going;  // the stream starts each frame by itself
    failed(-1, "zstd: out of memory");
    return Step::Failed;
  }

  Step step(const char* in, size_t n, size_t* used, char* out, size_t room, size_t* made) override {
    ZSTD_inBuffer input = {in, n, 0};
    ZSTD_outBuffer output = {out, room, 0};
    const size_t rc = ZSTD_decompressStream(fStream, &output, &input);
    *used = input.pos;
    *made = output.pos;
    if (ZSTD_isError(rc)) {
      // The library counts calls without input as no progress: an input
      // that is empty for now (a followed file, a pipe whose writer pauses)
      // is a wait, not an error. Given input, no progress stays an error.
      if (n == 0 && ZSTD_getErrorCode(rc) == ZSTD_error_noForwardProgress_inputEmpty) return Step::Going;
      failed(-1, std::string("zstd: ") + ZSTD_getErrorName(rc));
      return Step::Failed;
    }
    // 0: a frame ended and was flushed whole.
    return rc == 0 ? Step::UnitEnd : Step::Going;
  }

  ZSTD_DStream* fStream;
};

}  // namespace

std::unique_ptr<DecoderSource> makeZstdSource(std::unique_ptr<ByteSource> input) {
  return std::unique_ptr<DecoderSource>(new ZstdSource(std::move(input)));
}
