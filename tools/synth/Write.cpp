// Writing run files, plain or through zlib, and damaging their last event.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <zlib.h>

#include "Bytes.h"
#include "MidasSynth.h"

namespace synth {

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string gzMessage(gzFile f, int code) {
  int err = code;
  const char* text = f ? gzerror(f, &err) : nullptr;
  if (err == Z_ERRNO || !text || !*text) return std::strerror(errno);
  return text;
}

}  // namespace

std::vector<uint8_t> damageEvent(std::vector<uint8_t> encoded, Damage damage) {
  if (encoded.size() < 16) return encoded;
  const uint32_t size = uint32_t(encoded[12]) | uint32_t(encoded[13]) << 8 |
                        uint32_t(encoded[14]) << 16 | uint32_t(encoded[15]) << 24;
  switch (damage) {
    case Damage::None:
      break;
    case Damage::TruncatedHeader:
      encoded.resize(8);
      break;
    case Damage::TruncatedData:
      encoded.resize(16 + size / 2);
      break;
    case Damage::ZeroSize:
      encoded.resize(16);
      set32(encoded, 12, 0);
      break;
    case Damage::OversizeData:
      set32(encoded, 12, 1048577);
      break;
    default:
      return damageBanks(std::move(encoded), damage);
  }
  return encoded;
}

RunWriter::~RunWriter() {
  if (plain) std::fclose(static_cast<FILE*>(plain));
  if (gz) gzclose(static_cast<gzFile>(gz));
}

bool RunWriter::open(const std::string& name, std::string& error) {
  if (plain || gz) {
    error = "already open: " + path;
    return false;
  }
  path = name;
  errno = 0;
  if (endsWith(name, ".gz")) {
    // gzopen's own header carries no time stamp or file name: the output
    // depends on the data alone.
    gz = gzopen(name.c_str(), "wb");
    if (!gz) {
      error = name + ": " + (errno ? std::strerror(errno) : "cannot open for gzip");
      return false;
    }
  } else {
    plain = std::fopen(name.c_str(), "wb");
    if (!plain) {
      error = name + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool RunWriter::write(const std::vector<uint8_t>& bytes, std::string& error) {
  if (bytes.empty()) return plain || gz;
  errno = 0;
  if (plain) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), static_cast<FILE*>(plain)) == bytes.size())
      return true;
    error = path + ": " + std::strerror(errno);
    return false;
  }
  if (gz) {
    // gzwrite takes an unsigned count; write large pieces in parts.
    size_t done = 0;
    while (done < bytes.size()) {
      const unsigned n = unsigned(std::min<size_t>(bytes.size() - done, 1u << 30));
      const int w = gzwrite(static_cast<gzFile>(gz), bytes.data() + done, n);
      if (w <= 0) {
        error = path + ": " + gzMessage(static_cast<gzFile>(gz), w);
        return false;
      }
      done += size_t(w);
    }
    return true;
  }
  error = "not open";
  return false;
}

bool RunWriter::flush(std::string& error) {
  errno = 0;
  if (plain && std::fflush(static_cast<FILE*>(plain)) != 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  if (gz) {
    const int rc = gzflush(static_cast<gzFile>(gz), Z_SYNC_FLUSH);
    if (rc != Z_OK) {
      error = path + ": " + gzMessage(static_cast<gzFile>(gz), rc);
      return false;
    }
  }
  return plain || gz;
}

bool RunWriter::close(std::string& error) {
  errno = 0;
  if (plain) {
    const int rc = std::fclose(static_cast<FILE*>(plain));
    plain = nullptr;
    if (rc != 0) {
      error = path + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }
  if (gz) {
    const int rc = gzclose(static_cast<gzFile>(gz));
    gz = nullptr;
    if (rc != Z_OK) {
      error = path + ": " + (rc == Z_ERRNO ? std::strerror(errno) : zError(rc));
      return false;
    }
    return true;
  }
  error = "not open";
  return false;
}

bool writeRun(const std::string& path, const std::vector<Event>& events, bool swapped,
              Damage damage, std::string& error) {
  if (damage != Damage::None && events.empty()) {
    error = "no event to damage";
    return false;
  }
  RunWriter out;
  if (!out.open(path, error)) return false;
  for (size_t i = 0; i < events.size(); ++i) {
    std::vector<uint8_t> bytes;
    try {
      bytes = encodeEvent(events[i], swapped);
    } catch (const std::invalid_argument& e) {
      error = "event " + std::to_string(i) + ": " + e.what();
      return false;
    }
    if (i + 1 == events.size()) bytes = damageEvent(std::move(bytes), damage);
    if (!out.write(bytes, error)) return false;
  }
  return out.close(error);
}

}  // namespace synth
