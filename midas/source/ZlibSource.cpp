// gzip through zlib's inflate: members one after another, as gzread reads
// them; anything after a member that is not another member is ignored.
#include <zlib.h>

#include "DecoderSource.h"
#include "GzipMember.h"

namespace {

class ZlibSource : public DecoderSource {
 public:
  explicit ZlibSource(std::unique_ptr<ByteSource> input) : DecoderSource(std::move(input)) {
    fZ.zalloc = Z_NULL;
    fZ.zfree = Z_NULL;
    fZ.opaque = Z_NULL;
    fZ.next_in = Z_NULL;
    fZ.avail_in = 0;
    fReady = inflateInit2(&fZ, 15 + 16) == Z_OK;  // 16: gzip wrapper only
  }
  ~ZlibSource() override {
    if (fReady) inflateEnd(&fZ);
  }

 private:
  Step startUnit(const char* in, size_t n, bool first, Start* start) override {
    if (!fReady) {
      failed(-1, gzipmember::kNoMemory);
      return Step::Failed;
    }
    *start = gzipmember::startsMember(in, n, first) ? Start::Unit : Start::Trailing;
    if (*start == Start::Unit && !first) inflateReset(&fZ);
    return Step::Going;
  }

  size_t unitMagicSize() const override { return 2; }

  Step step(const char* in, size_t n, size_t* used, char* out, size_t room, size_t* made) override {
    fZ.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
    fZ.avail_in = static_cast<uInt>(n);
    fZ.next_out = reinterpret_cast<Bytef*>(out);
    fZ.avail_out = static_cast<uInt>(room);
    const int rc = inflate(&fZ, Z_NO_FLUSH);
    *used = n - fZ.avail_in;
    *made = room - fZ.avail_out;
    switch (rc) {
      case Z_STREAM_END:
        return Step::UnitEnd;
      case Z_OK:
      case Z_BUF_ERROR:  // no progress without more input
        return Step::Going;
      case Z_MEM_ERROR:
        failed(-1, gzipmember::kNoMemory);
        return Step::Failed;
      default:
        failed(-1, std::string(gzipmember::kPrefix) + (fZ.msg ? fZ.msg : "stream error"));
        return Step::Failed;
    }
  }

  z_stream fZ;
  bool fReady;
};

}  // namespace

std::unique_ptr<DecoderSource> makeZlibSource(std::unique_ptr<ByteSource> input) {
  return std::unique_ptr<DecoderSource>(new ZlibSource(std::move(input)));
}
