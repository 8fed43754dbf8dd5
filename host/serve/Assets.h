// The files of the live page, built into tarn: nothing is read from disk.
#pragma once

#include <cstddef>
#include <string>

namespace live {

struct Asset {
  const char* path;  // as requested, e.g. "/live.js"
  const char* type;  // Content-Type
  const unsigned char* data;
  size_t size;
};

// The asset served at `path`, or null.
const Asset* findAsset(const std::string& path);

}  // namespace live
