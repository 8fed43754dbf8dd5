// Writing run files, plain or compressed, and damaging their last event.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "AtomicFile.h"
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

// A file not closed is discarded: an earlier one of its name stays.
RunWriter::~RunWriter() {
  packer.reset();
  file.reset();  // the stream is the file's own; its end closes and removes it
}

bool RunWriter::open(const std::string& name, std::string& error, uint64_t memberBytes,
                     bool growing) {
  if (file) {
    error = "already open: " + path;
    return false;
  }
  path = name;
  file.reset(new AtomicFile(name));
  if (!(growing ? file->openGrowing() : file->open()) || !(out = file->stream())) {
    error = file->error();
    file.reset();
    return false;
  }
  packer = compressorFor(name, out);
  // A growing plain file gets each event in one write: through a stdio buffer
  // a large event reached it in two, and a reader could find half of one.
  if (growing && !packer) std::setvbuf(out, nullptr, _IONBF, 0);
  memberSize = memberBytes;
  inMember = members = 0;
  return true;
}

// The reason of a failed write: the one the file kept, else errno's.
static std::string writeReason(const AtomicFile& file) {
  return std::strerror(file.writeError() ? file.writeError() : errno ? errno : EIO);
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
                           : std::fwrite(bytes.data() + done, 1, take, out) == take;
    if (!ok) {
      error = path + ": " + (packer && !file->writeError() ? error : writeReason(*file));
      return false;
    }
    done += take;
    inMember += take;
    if (packer && memberSize > 0 && inMember == memberSize) {
      if (!packer->endMember(error)) {
        error = path + ": " + (file->writeError() ? writeReason(*file) : error);
        return false;
      }
      inMember = 0;
      ++members;
    }
  }
  return true;
}

bool RunWriter::flush(std::string& error) {
  if (!file) {
    error = "not open";
    return false;
  }
  errno = 0;
  if (packer && !packer->flush(error)) {
    error = path + ": " + (file->writeError() ? writeReason(*file) : error);
    return false;
  }
  if (std::fflush(out) != 0) {
    error = path + ": " + writeReason(*file);
    return false;
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
  if (!ok) error = path + ": " + (file->writeError() ? writeReason(*file) : error);
  packer.reset();
  out = nullptr;  // commit() closes it
  if (ok && !file->commit()) {
    error = file->error();
    ok = false;
  }
  file.reset();
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
