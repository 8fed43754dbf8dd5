// The compressed forms a run file is written in, chosen by the name's ending,
// each written member by member (gzip members, lz4 and zstd frames, bzip2
// streams) so that readers meet files of several.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace synth {

class Compressor {
 public:
  virtual ~Compressor() = default;
  // Adds bytes to the member being written.
  virtual bool write(const uint8_t* data, size_t n, std::string& error) = 0;
  // Hands out all that was written so far, decodable, within the member.
  virtual bool flush(std::string& error) = 0;
  // Ends the member; a later write begins another.
  virtual bool endMember(std::string& error) = 0;
};

// A compressor writing to `out` (not owned) for a name ending in .gz, .lz4,
// .bz2 or .zst; null for any other name (written plain).
std::unique_ptr<Compressor> compressorFor(const std::string& path, FILE* out);

}  // namespace synth
