// Turns one raw chunk into the bytes HDF5's filters would store for it, so
// chunks can be compressed off the library's thread and written directly.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace h5out {

struct Compression {
  enum Method {
    Fast,  // shuffle + deflate at a fast level (ISA-L when built with it, else zlib 1)
    Zlib,  // shuffle + deflate by zlib at `level`
    None,  // no filters
  };
  Method method = Fast;
  int level = 1;  // the deflate level recorded in the file's filter
};

// "fast", "small" (zlib 6), "none", or "zlib1" to "zlib9"; false for anything else.
bool parseCompression(const std::string& text, Compression& out);

// Compresses chunks; one per thread, since it keeps its working buffers.
class ChunkCoder {
 public:
  ChunkCoder();
  ~ChunkCoder();
  ChunkCoder(const ChunkCoder&) = delete;
  ChunkCoder& operator=(const ChunkCoder&) = delete;

  // `raw` (a whole number of elements of `elementSize` bytes) shuffled and
  // deflated into `out` as a zlib stream, or copied without filters. False
  // only when memory runs out.
  bool encode(Compression c, const std::vector<unsigned char>& raw, size_t elementSize,
              std::vector<unsigned char>& out);

 private:
  struct Fast;
  std::unique_ptr<Fast> fast;
  std::vector<unsigned char> shuffled;
};

// Byte k of every element together, element by element, as HDF5's shuffle
// filter lays them out; `in` holds n elements of `size` bytes.
void shuffle(const unsigned char* in, size_t n, size_t size, unsigned char* out);

}  // namespace h5out
