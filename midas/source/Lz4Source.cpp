// LZ4 frames (the lz4 tool's format), one after another.
#include <lz4frame.h>

#include "DecoderSource.h"

namespace {

class Lz4Source : public DecoderSource {
 public:
  // Decoded in the common steps: the library decodes linked blocks through
  // its own buffer and a copy whatever room it is given (the bytes handed out
  // may be turned in place, so they cannot serve as its window), and steps
  // that stay in the cache are faster than room for a whole 4 MiB block.
  explicit Lz4Source(std::unique_ptr<ByteSource> input)
      : DecoderSource(std::move(input)) {
    if (LZ4F_isError(LZ4F_createDecompressionContext(&fContext, LZ4F_VERSION))) fContext = nullptr;
  }
  ~Lz4Source() override {
    if (fContext) LZ4F_freeDecompressionContext(fContext);
  }

 private:
  Step startUnit(const char*, size_t, bool, Start*) override {
    if (fContext) return Step::Going;  // the context starts each frame by itself
    failed(-1, "lz4: out of memory");
    return Step::Failed;
  }

  Step step(const char* in, size_t n, size_t* used, char* out, size_t room, size_t* made) override {
    size_t outSize = room, inSize = n;
    const size_t hint = LZ4F_decompress(fContext, out, &outSize, in, &inSize, nullptr);
    *used = inSize;
    *made = outSize;
    if (LZ4F_isError(hint)) {
      failed(-1, std::string("lz4: ") + LZ4F_getErrorName(hint));
      return Step::Failed;
    }
    fHint = hint;
    return hint == 0 ? Step::UnitEnd : Step::Going;
  }

  // The rest of the block and the next block's header: given whole, the
  // library decodes from the input where it lies.
  size_t inputWanted() const override { return fHint < kMostWanted ? fHint : kMostWanted; }

  static const size_t kMostWanted = 8 * 1024 * 1024;
  size_t fHint = 1;
  LZ4F_dctx* fContext = nullptr;
};

}  // namespace

std::unique_ptr<DecoderSource> makeLz4Source(std::unique_ptr<ByteSource> input) {
  return std::unique_ptr<DecoderSource>(new Lz4Source(std::move(input)));
}
