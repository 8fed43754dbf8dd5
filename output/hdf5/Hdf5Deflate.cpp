#include "Hdf5Deflate.h"

#include <zlib.h>

#include <cstring>

#ifdef TARN_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace h5out {

bool parseCompression(const std::string& text, Compression& out) {
  if (text == "fast") out = {Compression::Fast, 1};
  else if (text == "small") out = {Compression::Zlib, 6};
  else if (text == "none") out = {Compression::None, 0};
  else if (text.size() == 5 && text.compare(0, 4, "zlib") == 0 && text[4] >= '1' && text[4] <= '9')
    out = {Compression::Zlib, text[4] - '0'};
  else return false;
  return true;
}

namespace {

// With the size known, the compiler unrolls the inner loop.
template <size_t Size>
void shuffleAs(const unsigned char* in, size_t n, unsigned char* out) {
  for (size_t k = 0; k < n; ++k)
    for (size_t b = 0; b < Size; ++b) out[b * n + k] = in[k * Size + b];
}

}  // namespace

void shuffle(const unsigned char* in, size_t n, size_t size, unsigned char* out) {
  switch (size) {
    case 1: std::memcpy(out, in, n); return;
    case 2: return shuffleAs<2>(in, n, out);
    case 4: return shuffleAs<4>(in, n, out);
    case 8: return shuffleAs<8>(in, n, out);
  }
  for (size_t b = 0; b < size; ++b)
    for (size_t k = 0; k < n; ++k) out[b * n + k] = in[k * size + b];
}

namespace {

// A zlib stream of `n` bytes at `level`; zlib's bound always fits, stored blocks included.
bool zlibDeflate(const unsigned char* in, size_t n, int level, std::vector<unsigned char>& out) {
  uLongf size = compressBound(uLong(n));
  out.resize(size);
  if (compress2(out.data(), &size, in, uLong(n), level) != Z_OK) return false;  // out of memory
  out.resize(size);
  return true;
}

}  // namespace

#ifdef TARN_HAVE_ISAL
struct ChunkCoder::Fast {
  std::vector<unsigned char> levelBuffer = std::vector<unsigned char>(ISAL_DEF_LVL1_DEFAULT);
  isal_zstream stream;
};

ChunkCoder::ChunkCoder() : fast(new Fast) {}
#else
struct ChunkCoder::Fast {};

ChunkCoder::ChunkCoder() {}
#endif

ChunkCoder::~ChunkCoder() = default;

bool ChunkCoder::encode(Compression c, const std::vector<unsigned char>& raw, size_t elementSize,
                        std::vector<unsigned char>& out) {
  if (c.method == Compression::None) {
    out = raw;
    return true;
  }
  const size_t n = raw.size();
  shuffled.resize(n);
  shuffle(raw.data(), n / elementSize, elementSize, shuffled.data());
  if (c.method == Compression::Zlib) return zlibDeflate(shuffled.data(), n, c.level, out);
#ifdef TARN_HAVE_ISAL
  // Room for data that does not compress; should it still not fit, zlib
  // writes it, whose bound holds stored blocks.
  out.resize(n + n / 16 + 1024);
  isal_zstream& s = fast->stream;
  // The init does not set every field the deflate reads (valgrind shows it).
  std::memset(&s, 0, sizeof s);
  isal_deflate_stateless_init(&s);
  s.level = 1;
  s.level_buf = fast->levelBuffer.data();
  s.level_buf_size = uint32_t(fast->levelBuffer.size());
  s.gzip_flag = IGZIP_ZLIB;
  s.end_of_stream = 1;
  s.flush = NO_FLUSH;
  s.next_in = shuffled.data();
  s.avail_in = uint32_t(n);
  s.next_out = out.data();
  s.avail_out = uint32_t(out.size());
  if (isal_deflate_stateless(&s) == COMP_OK) {
    out.resize(s.total_out);
    return true;
  }
#endif
  return zlibDeflate(shuffled.data(), n, 1, out);
}

}  // namespace h5out
