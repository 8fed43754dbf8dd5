// LZ4 frames (the lz4 tool's format), one after another.
#include <lz4frame.h>

#include <cstring>
#include <vector>

#include "DecoderSource.h"

namespace {

class Lz4Source : public DecoderSource {
 public:
  // Decoded in the common steps: the library decodes linked blocks through
  // its own buffer and a copy whatever room it is given (the bytes handed out
  // may be turned in place, so they cannot serve as its window), and steps
  // that stay in the cache are faster than room for a whole 4 MiB block.
  explicit Lz4Source(std::unique_ptr<ByteSource> input)
      : DecoderSource(holdingWholeBlocks(std::move(input))) {
    if (LZ4F_isError(LZ4F_createDecompressionContext(&fContext, LZ4F_VERSION))) fContext = nullptr;
  }
  ~Lz4Source() override {
    if (fContext) LZ4F_freeDecompressionContext(fContext);
  }

 private:
  // The largest block, its header and checksum and the next block's header
  // held whole by the input: the library then decodes from where they lie
  // instead of gathering them in a copy of its own.
  static std::unique_ptr<ByteSource> holdingWholeBlocks(std::unique_ptr<ByteSource> input) {
    input->holdPeeksUpTo(kLargestBlock + 64);
    return input;
  }

  Step startUnit(const char*, size_t, bool, Start*) override {
    fHint = LZ4F_HEADER_SIZE_MIN;
    fFlagsKnown = false;
    fBlockChecked = false;
    if (fContext) return Step::Going;  // the context starts each frame by itself
    failed(-1, "lz4: out of memory");
    return Step::Failed;
  }

  // The library is given at most what it asks for, the rest of one block
  // with its checksum and the next block's header: an error then loses none
  // of the blocks before it, which a call over several would.
  Step step(const char* in, size_t n, size_t* used, char* out, size_t room, size_t* made) override {
    if (fBlockChecked) return checkedStep(in, n, used, out, room, made);
    size_t outSize = room, inSize = n < fHint ? n : fHint;
    const Step s = decompress(in, &inSize, out, &outSize);
    *used = inSize;
    *made = outSize;
    return s;
  }

  // Blocks with checksums: the library hands out the bytes of a stored
  // (uncompressed) block before it reads the block's checksum, so each block
  // is decoded aside and handed out once the library has read its checksum.
  // Its hint is the rest of the block, the checksum and the next block's
  // header (4 bytes more for a compressed block gathered in pieces): given
  // all but the last 4, it takes all when it reached the checksum's end, and
  // it never reaches into the next block.
  Step checkedStep(const char* in, size_t n, size_t* used, char* out, size_t room, size_t* made) {
    *used = 0;
    if (fStagedBegin == fStagedEnd) fStagedBegin = fStagedEnd = fChecked = 0;
    if (fStagedBegin == fChecked) {
      const size_t header = LZ4F_BLOCK_HEADER_SIZE;
      const size_t most = fHint > header ? fHint - header : fHint;
      const size_t given = n < most ? n : most;
      const bool toTheChecksum = fHint > header && given == most;
      size_t inSize = given, outSize = fStaged.size() - fStagedEnd;
      const Step s = decompress(in, &inSize, fStaged.data() + fStagedEnd, &outSize);
      *used = inSize;
      if (s == Step::Failed) {
        *made = 0;
        return s;
      }
      fStagedEnd += outSize;
      if ((toTheChecksum && inSize == given) || s == Step::UnitEnd) fChecked = fStagedEnd;
    }
    *made = fChecked - fStagedBegin < room ? fChecked - fStagedBegin : room;
    std::memcpy(out, fStaged.data() + fStagedBegin, *made);
    fStagedBegin += *made;
    return fHint == 0 && fStagedBegin == fStagedEnd ? Step::UnitEnd : Step::Going;
  }

  Step decompress(const char* in, size_t* inSize, char* out, size_t* outSize) {
    const size_t hint = LZ4F_decompress(fContext, out, outSize, in, inSize, nullptr);
    if (LZ4F_isError(hint)) {
      failed(-1, std::string("lz4: ") + LZ4F_getErrorName(hint));
      return Step::Failed;
    }
    fHint = hint;
    if (!fFlagsKnown) learnFlags();
    return hint == 0 ? Step::UnitEnd : Step::Going;
  }

  // Once the library has read the frame's header, before any block of it.
  void learnFlags() {
    LZ4F_frameInfo_t info;
    size_t none = 0;
    if (LZ4F_isError(LZ4F_getFrameInfo(fContext, &info, nullptr, &none))) return;
    fFlagsKnown = true;
    fBlockChecked = info.blockChecksumFlag == LZ4F_blockChecksumEnabled;
    const size_t largest[] = {64 << 10, 256 << 10, 1 << 20, kLargestBlock};
    const int id = info.blockSizeID >= LZ4F_max64KB && info.blockSizeID <= LZ4F_max4MB ? info.blockSizeID - 4 : 0;
    if (fBlockChecked && fStaged.size() < largest[id]) fStaged.resize(largest[id]);
  }

  // The rest of the block and the next block's header: given whole, the
  // library decodes from the input where it lies.
  size_t inputWanted() const override { return fHint < kMostWanted ? fHint : kMostWanted; }

  static const size_t kMostWanted = 8 * 1024 * 1024;
  static const size_t kLargestBlock = 4 * 1024 * 1024;
  size_t fHint = LZ4F_HEADER_SIZE_MIN;
  bool fFlagsKnown = false;
  bool fBlockChecked = false;
  // A block's bytes: [fStagedBegin, fChecked) checked and not yet handed
  // out, [fChecked, fStagedEnd) made before its checksum was read.
  std::vector<char> fStaged;
  size_t fStagedBegin = 0, fChecked = 0, fStagedEnd = 0;
  LZ4F_dctx* fContext = nullptr;
};

}  // namespace

std::unique_ptr<DecoderSource> makeLz4Source(std::unique_ptr<ByteSource> input) {
  return std::unique_ptr<DecoderSource>(new Lz4Source(std::move(input)));
}
