// Reading back what the synthesiser wrote.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace synthtest {

using Bytes = std::vector<uint8_t>;

inline Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline Bytes gunzip(const std::string& path) {
  Bytes out;
  gzFile f = gzopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t buf[4096];
  int n;
  while ((n = gzread(f, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
  gzclose(f);
  return out;
}

inline uint32_t get32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

}  // namespace synthtest
