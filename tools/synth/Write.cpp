// Writing run files, plain or compressed, and damaging their last event.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "Bytes.h"
#include "Compress.h"
#include "MidasSynth.h"

namespace synth {

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

RunWriter::RunWriter() = default;

RunWriter::~RunWriter() {
  packer.reset();
  if (file) std::fclose(static_cast<FILE*>(file));
}

bool RunWriter::open(const std::string& name, std::string& error, uint64_t memberBytes) {
  if (file) {
    error = "already open: " + path;
    return false;
  }
  path = name;
  errno = 0;
  file = std::fopen(name.c_str(), "wb");
  if (!file) {
    error = name + ": " + std::strerror(errno);
    return false;
  }
  packer = compressorFor(name, static_cast<FILE*>(file));
  memberSize = memberBytes;
  inMember = members = 0;
  return true;
}

bool RunWriter::write(const std::vector<uint8_t>& bytes, std::string& error) {
  if (!file) {
    error = "not open";
    return false;
  }
  errno = 0;
  size_t done = 0;
  while (done < bytes.size()) {
    size_t take = bytes.size() - done;
    if (packer && memberSize > 0 && take > memberSize - inMember) take = size_t(memberSize - inMember);
    const bool ok = packer ? packer->write(bytes.data() + done, take, error)
                           : std::fwrite(bytes.data() + done, 1, take, static_cast<FILE*>(file)) == take;
    if (!ok) {
      error = path + ": " + (packer ? error : std::strerror(errno));
      return false;
    }
    done += take;
    inMember += take;
    if (packer && memberSize > 0 && inMember == memberSize) {
      if (!packer->endMember(error)) {
        error = path + ": " + error;
        return false;
      }
      inMember = 0;
      ++members;
    }
  }
  return true;
}

bool RunWriter::close(std::string& error) {
  if (!file) {
    error = "not open";
    return false;
  }
  errno = 0;
  // An empty run is still one (empty) member, as a compressor's tool writes it.
  bool ok = !packer || (inMember == 0 && members > 0) || packer->endMember(error);
  if (!ok) error = path + ": " + error;
  packer.reset();
  const int rc = std::fclose(static_cast<FILE*>(file));
  file = nullptr;
  if (ok && rc != 0) {
    error = path + ": " + std::strerror(errno);
    ok = false;
  }
  return ok;
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
