#include "PngText.h"

#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace hist {

namespace {

const unsigned char kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};

void putBig32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char((v >> shift) & 0xff));
}

uint32_t big32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

}  // namespace

bool addPngText(const std::string& path, const std::string& key, const std::string& text) {
  std::fstream png(path, std::ios::in | std::ios::out | std::ios::binary);
  char last[12];
  if (!png.seekg(-12, std::ios::end) || !png.read(last, sizeof last) || std::memcmp(last, kEnd, sizeof kEnd) != 0)
    return false;
  std::string body = "tEXt" + key;
  body.push_back('\0');
  body += text;
  std::string chunk;
  putBig32(chunk, uint32_t(body.size() - 4));
  chunk += body;
  putBig32(chunk, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
  chunk.append(reinterpret_cast<const char*>(kEnd), sizeof kEnd);
  const std::streamoff end = png.tellg();
  if (png.seekp(-12, std::ios::end) && png.write(chunk.data(), std::streamsize(chunk.size())) && png.flush())
    return true;
  // A full disk: the image ends where it ended, with the blocks it had.
  png.clear();
  png.seekp(end - 12);
  png.write(reinterpret_cast<const char*>(kEnd), sizeof kEnd);
  png.close();
  if (::truncate(path.c_str(), off_t(end)) != 0) {
    // The end is whole again; only bytes past it may stay, which readers pass over.
  }
  return false;
}

bool readPngText(const std::string& path, const std::string& key, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  const std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The 8-byte signature, then chunks of length, type, data and CRC.
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = big32(png, at);
    if (length > png.size() - at - 12) return false;
    const std::string type = png.substr(at + 4, 4);
    if (type == "tEXt") {
      const std::string data = png.substr(at + 8, length);
      const size_t nul = data.find('\0');
      if (nul != std::string::npos && data.compare(0, nul, key) == 0 && nul == key.size()) {
        text = data.substr(nul + 1);
        return true;
      }
    }
    if (type == "IEND") return false;
    at += 12 + size_t(length);
  }
  return false;
}

}  // namespace hist
