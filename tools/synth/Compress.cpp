// Each form through its library's streaming interface, at the level of its
// command-line tool's default, with its checksums on. The headers carry no
// time stamp or name: equal input gives equal files.
#include "Compress.h"

#include <bzlib.h>
#include <lz4frame.h>
#include <zlib.h>
#include <zstd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace synth {

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Output of one library call, written out as it comes.
class Sink {
 public:
  explicit Sink(FILE* out) : fOut(out), fBuffer(1 << 20) {}
  char* data() { return fBuffer.data(); }
  size_t size() const { return fBuffer.size(); }
  bool put(const void* bytes, size_t n, std::string& error) {
    if (n == 0 || std::fwrite(bytes, 1, n, fOut) == n) return true;
    error = std::strerror(errno);
    return false;
  }

 private:
  FILE* fOut;
  std::vector<char> fBuffer;
};

class GzipWriter : public Compressor {
 public:
  explicit GzipWriter(FILE* out) : fSink(out) {}
  ~GzipWriter() override {
    if (fOpen) deflateEnd(&fZ);
  }
  bool write(const uint8_t* data, size_t n, std::string& error) override {
    if (!begin(error)) return false;
    fZ.next_in = const_cast<Bytef*>(data);
    fZ.avail_in = static_cast<uInt>(n);
    return pump(Z_NO_FLUSH, error);
  }
  bool flush(std::string& error) override { return !fOpen || pump(Z_SYNC_FLUSH, error); }
  bool endMember(std::string& error) override {
    if (!begin(error) || !pump(Z_FINISH, error)) return false;
    deflateEnd(&fZ);
    fOpen = false;
    return true;
  }

 private:
  bool begin(std::string& error) {
    if (fOpen) return true;
    std::memset(&fZ, 0, sizeof fZ);
    if (deflateInit2(&fZ, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      error = "cannot start gzip";
      return false;
    }
    fOpen = true;
    return true;
  }
  bool pump(int flush, std::string& error) {
    int rc;
    do {
      fZ.next_out = reinterpret_cast<Bytef*>(fSink.data());
      fZ.avail_out = static_cast<uInt>(fSink.size());
      rc = deflate(&fZ, flush);
      if (!fSink.put(fSink.data(), fSink.size() - fZ.avail_out, error)) return false;
    } while (fZ.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    return true;
  }
  Sink fSink;
  z_stream fZ;
  bool fOpen = false;
};

class Lz4Writer : public Compressor {
 public:
  explicit Lz4Writer(FILE* out) : fSink(out) {
    if (LZ4F_isError(LZ4F_createCompressionContext(&fContext, LZ4F_VERSION))) fContext = nullptr;
    std::memset(&fPrefs, 0, sizeof fPrefs);
    fPrefs.frameInfo.blockSizeID = LZ4F_max4MB;  // as the lz4 tool writes
    fPrefs.frameInfo.contentChecksumFlag = LZ4F_contentChecksumEnabled;
  }
  ~Lz4Writer() override {
    if (fContext) LZ4F_freeCompressionContext(fContext);
  }
  bool write(const uint8_t* data, size_t n, std::string& error) override {
    if (!begin(error)) return false;
    // The library wants room for a whole call's output: feed it in pieces.
    const size_t piece = 256 * 1024;
    for (size_t at = 0; at < n; at += piece) {
      const size_t take = n - at < piece ? n - at : piece;
      if (!put(LZ4F_compressUpdate(fContext, fOut.data(), fOut.size(), data + at, take, nullptr), error))
        return false;
    }
    return true;
  }
  bool flush(std::string& error) override {
    return !fOpen || put(LZ4F_flush(fContext, fOut.data(), fOut.size(), nullptr), error);
  }
  bool endMember(std::string& error) override {
    if (!begin(error)) return false;
    fOpen = false;
    return put(LZ4F_compressEnd(fContext, fOut.data(), fOut.size(), nullptr), error);
  }

 private:
  bool begin(std::string& error) {
    if (!fContext) {
      error = "cannot start lz4";
      return false;
    }
    if (fOpen) return true;
    if (fOut.empty()) fOut.resize(LZ4F_compressBound(256 * 1024, &fPrefs) + 64);
    fOpen = true;
    return put(LZ4F_compressBegin(fContext, fOut.data(), fOut.size(), &fPrefs), error);
  }
  bool put(size_t rc, std::string& error) {
    if (LZ4F_isError(rc)) {
      error = LZ4F_getErrorName(rc);
      return false;
    }
    return fSink.put(fOut.data(), rc, error);
  }
  Sink fSink;
  LZ4F_cctx* fContext = nullptr;
  LZ4F_preferences_t fPrefs;
  std::vector<char> fOut;
  bool fOpen = false;
};

class Bzip2Writer : public Compressor {
 public:
  explicit Bzip2Writer(FILE* out) : fSink(out) {}
  ~Bzip2Writer() override {
    if (fOpen) BZ2_bzCompressEnd(&fS);
  }
  bool write(const uint8_t* data, size_t n, std::string& error) override {
    if (!begin(error)) return false;
    fS.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
    fS.avail_in = static_cast<unsigned>(n);
    while (fS.avail_in > 0)
      if (!pump(BZ_RUN, error)) return false;
    return true;
  }
  bool flush(std::string& error) override {
    if (!fOpen) return true;
    do
      if (!pump(BZ_FLUSH, error)) return false;
    while (fLast == BZ_FLUSH_OK);
    return true;
  }
  bool endMember(std::string& error) override {
    if (!begin(error)) return false;
    while (!fDone)
      if (!pump(BZ_FINISH, error)) return false;
    BZ2_bzCompressEnd(&fS);
    fOpen = false;
    return true;
  }

 private:
  bool begin(std::string& error) {
    if (fOpen) return true;
    std::memset(&fS, 0, sizeof fS);
    if (BZ2_bzCompressInit(&fS, 9, 0, 0) != BZ_OK) {  // -9, the tool's default
      error = "cannot start bzip2";
      return false;
    }
    fOpen = true;
    fDone = false;
    return true;
  }
  bool pump(int action, std::string& error) {
    fS.next_out = fSink.data();
    fS.avail_out = static_cast<unsigned>(fSink.size());
    const int rc = BZ2_bzCompress(&fS, action);
    if (rc < 0) {
      error = "bzip2 error " + std::to_string(rc);
      return false;
    }
    fDone = rc == BZ_STREAM_END;
    fLast = rc;
    return fSink.put(fSink.data(), fSink.size() - fS.avail_out, error);
  }
  Sink fSink;
  bz_stream fS;
  bool fOpen = false;
  bool fDone = false;
  int fLast = BZ_RUN_OK;
};

class ZstdWriter : public Compressor {
 public:
  explicit ZstdWriter(FILE* out) : fSink(out), fContext(ZSTD_createCCtx()) {
    if (fContext) {
      ZSTD_CCtx_setParameter(fContext, ZSTD_c_compressionLevel, 3);  // the tool's default
      ZSTD_CCtx_setParameter(fContext, ZSTD_c_checksumFlag, 1);
    }
  }
  ~ZstdWriter() override { ZSTD_freeCCtx(fContext); }
  bool write(const uint8_t* data, size_t n, std::string& error) override {
    ZSTD_inBuffer in = {data, n, 0};
    while (in.pos < in.size)
      if (!pump(in, ZSTD_e_continue, error)) return false;
    return true;
  }
  bool flush(std::string& error) override {
    ZSTD_inBuffer in = {nullptr, 0, 0};
    return pump(in, ZSTD_e_flush, error);
  }
  bool endMember(std::string& error) override {
    ZSTD_inBuffer in = {nullptr, 0, 0};
    return pump(in, ZSTD_e_end, error);
  }

 private:
  // Until the call's work is done: its input taken, or the frame flushed or ended.
  bool pump(ZSTD_inBuffer& in, ZSTD_EndDirective how, std::string& error) {
    if (!fContext) {
      error = "cannot start zstd";
      return false;
    }
    size_t left;
    do {
      ZSTD_outBuffer out = {fSink.data(), fSink.size(), 0};
      left = ZSTD_compressStream2(fContext, &out, &in, how);
      if (ZSTD_isError(left)) {
        error = ZSTD_getErrorName(left);
        return false;
      }
      if (!fSink.put(fSink.data(), out.pos, error)) return false;
    } while (how == ZSTD_e_continue ? in.pos < in.size : left != 0);
    return true;
  }
  Sink fSink;
  ZSTD_CCtx* fContext;
};

}  // namespace

std::unique_ptr<Compressor> compressorFor(const std::string& path, FILE* out) {
  if (endsWith(path, ".gz")) return std::unique_ptr<Compressor>(new GzipWriter(out));
  if (endsWith(path, ".lz4")) return std::unique_ptr<Compressor>(new Lz4Writer(out));
  if (endsWith(path, ".bz2")) return std::unique_ptr<Compressor>(new Bzip2Writer(out));
  if (endsWith(path, ".zst")) return std::unique_ptr<Compressor>(new ZstdWriter(out));
  return nullptr;
}

}  // namespace synth
