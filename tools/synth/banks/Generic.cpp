// Banks of the plain MIDAS types. Module banks get files of their own.
#include <cstring>

#include "../Bytes.h"
#include "MidasSynth.h"

namespace synth {

namespace {

Bank make(const std::string& name, uint32_t type) {
  Bank b;
  b.name = name;
  b.type = type;
  return b;
}

}  // namespace

Bank wordBank(const std::string& name, const std::vector<uint16_t>& values) {
  Bank b = make(name, TID_WORD);
  for (uint16_t v : values) put16(b.data, v);
  return b;
}

Bank shortBank(const std::string& name, const std::vector<int16_t>& values) {
  Bank b = make(name, TID_SHORT);
  for (int16_t v : values) put16(b.data, uint16_t(v));
  return b;
}

Bank dwordBank(const std::string& name, const std::vector<uint32_t>& values) {
  Bank b = make(name, TID_DWORD);
  for (uint32_t v : values) put32(b.data, v);
  return b;
}

Bank intBank(const std::string& name, const std::vector<int32_t>& values) {
  Bank b = make(name, TID_INT);
  for (int32_t v : values) put32(b.data, uint32_t(v));
  return b;
}

Bank boolBank(const std::string& name, const std::vector<bool>& values) {
  Bank b = make(name, TID_BOOL);
  for (bool v : values) put32(b.data, v ? 1 : 0);
  return b;
}

Bank floatBank(const std::string& name, const std::vector<float>& values) {
  Bank b = make(name, TID_FLOAT);
  for (float v : values) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    put32(b.data, bits);
  }
  return b;
}

Bank doubleBank(const std::string& name, const std::vector<double>& values) {
  Bank b = make(name, TID_DOUBLE);
  for (double v : values) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    put64(b.data, bits);
  }
  return b;
}

Bank byteBank(const std::string& name, uint32_t type, const std::vector<uint8_t>& bytes) {
  Bank b = make(name, type);
  b.data = bytes;
  return b;
}

Bank stringBank(const std::string& name, const std::string& text) {
  Bank b = make(name, TID_STRING);
  b.data.assign(text.begin(), text.end());
  b.data.push_back(0);
  return b;
}

}  // namespace synth
