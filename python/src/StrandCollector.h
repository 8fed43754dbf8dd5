// g.collect: a receiver of strand events, not a plug-in, that keeps every
// property as the HDF5 export lays it out (values, offsets, inner_offsets,
// event), in memory, for numpy.
#pragma once

#include <pybind11/pybind11.h>

#include <map>
#include <memory>
#include <string>

#include "GrowingBuffer.h"
#include "TarnBase.h"
#include "tarn_type.h"

namespace tarnpy {

class StrandCollector : public TarnBase {
 public:
  explicit StrandCollector(const std::string& output);
  // Every property as a tarn.Column; the buffers are numpy's afterwards. With the GIL.
  pybind11::dict columns();

 private:
  struct Property {
    tarn_type type = TARN_NONE;
    bool stopped = false;
    bool unsignedElements = false;  // a WORD or DWORD list under a signed list type
    GrowingBuffer values, offsets, innerOffsets, event;
    int64_t valueCount = 0, innerCount = 0;
  };
  void take(void* value);
  bool append(Property& p, const void* v);

  std::map<std::string, std::unique_ptr<Property>> properties;
  int64_t events = 0;
};

}  // namespace tarnpy
