#include "Hdf5Group.h"

#include <cstring>

#include "Hdf5Layout.h"

using h5out::Column;

namespace h5group {

namespace {

// One list of the property's elements into `values`; the count so far goes to `ends`.
template <class T>
bool list(Group& g, const std::vector<T>& v, int64_t& count, Column& ends, std::string& error) {
  count += int64_t(v.size());
  return g.values.append(v.data(), v.size(), error) && ends.append(&count, 1, error);
}

}  // namespace

Layout layoutOf(tarn_type t, hid_t boolean, bool unsignedElements) {
  if (unsignedElements && t == TARN_SHORT_V) return {H5T_NATIVE_UINT16, 1};
  if (unsignedElements && t == TARN_INT_V) return {H5T_NATIVE_UINT32, 1};
  switch (t) {
    case TARN_UINT8: case TARN_BITFIELD: return {H5T_NATIVE_UINT8, 0};
    case TARN_INT8: case TARN_CHAR: return {H5T_NATIVE_INT8, 0};
    case TARN_UINT16: return {H5T_NATIVE_UINT16, 0};
    case TARN_SHORT: return {H5T_NATIVE_INT16, 0};
    case TARN_UINT32: return {H5T_NATIVE_UINT32, 0};
    case TARN_INT: return {H5T_NATIVE_INT32, 0};
    case TARN_BOOL: return {boolean, 0};
    case TARN_FLOAT: return {H5T_NATIVE_FLOAT, 0};
    case TARN_DOUBLE: return {H5T_NATIVE_DOUBLE, 0};
    case TARN_UINT64: return {H5T_NATIVE_UINT64, 0};
    case TARN_CSTRING: case TARN_STRING: return {H5T_NATIVE_UINT8, 1};
    case TARN_SHORT_V: return {H5T_NATIVE_INT16, 1};
    case TARN_INT_V: return {H5T_NATIVE_INT32, 1};
    case TARN_UINT64_V: return {H5T_NATIVE_UINT64, 1};
    case TARN_BOOL_V: return {boolean, 1};
    case TARN_FLOAT_V: return {H5T_NATIVE_FLOAT, 1};
    case TARN_DOUBLE_V: return {H5T_NATIVE_DOUBLE, 1};
    case TARN_STRING_V: return {H5T_NATIVE_UINT8, 2};
    case TARN_SHORT_VV: return {H5T_NATIVE_INT16, 2};
    default: return {-1, 0};
  }
}

std::string typeLabel(tarn_type t, bool unsignedElements) {
  if (unsignedElements && t == TARN_SHORT_V) return "vector<uint16>";
  if (unsignedElements && t == TARN_INT_V) return "vector<uint32>";
  return tarn_type_label(t);
}

std::string groupName(const std::string& property) {
  std::string out = property.empty() || property == "." ? "_" + property : property;
  for (char& c : out)
    if (c == '/') c = '_';
  return out;
}

bool append(Group& g, const void* v, int64_t event, std::string& error) {
  bool ok = true;
  switch (g.type) {
    case TARN_CSTRING: {
      const char* text = static_cast<const char*>(v);
      const size_t n = std::strlen(text);
      g.valueCount += int64_t(n);
      ok = g.values.append(text, n, error) && g.offsets.append(&g.valueCount, 1, error);
      break;
    }
    case TARN_STRING: {
      const std::string& s = *static_cast<const std::string*>(v);  // NULs kept
      g.valueCount += int64_t(s.size());
      ok = g.values.append(s.data(), s.size(), error) && g.offsets.append(&g.valueCount, 1, error);
      break;
    }
    case TARN_SHORT_V: ok = list(g, *static_cast<const std::vector<short>*>(v), g.valueCount, g.offsets, error); break;
    case TARN_INT_V: ok = list(g, *static_cast<const std::vector<int>*>(v), g.valueCount, g.offsets, error); break;
    case TARN_UINT64_V: ok = list(g, *static_cast<const std::vector<uint64_t>*>(v), g.valueCount, g.offsets, error); break;
    case TARN_FLOAT_V: ok = list(g, *static_cast<const std::vector<float>*>(v), g.valueCount, g.offsets, error); break;
    case TARN_DOUBLE_V: ok = list(g, *static_cast<const std::vector<double>*>(v), g.valueCount, g.offsets, error); break;
    case TARN_BOOL_V: {
      const std::vector<bool>& b = *static_cast<const std::vector<bool>*>(v);
      g.bits.assign(b.begin(), b.end());
      ok = list(g, g.bits, g.valueCount, g.offsets, error);
      break;
    }
    case TARN_STRING_V:
      for (const std::string& s : *static_cast<const std::vector<std::string>*>(v)) {
        g.valueCount += int64_t(s.size());
        ok = ok && g.values.append(s.data(), s.size(), error) && g.innerOffsets.append(&g.valueCount, 1, error);
      }
      g.innerCount += int64_t(static_cast<const std::vector<std::string>*>(v)->size());
      ok = ok && g.offsets.append(&g.innerCount, 1, error);
      break;
    case TARN_SHORT_VV:
      for (const std::vector<short>& inner : *static_cast<const std::vector<std::vector<short>>*>(v))
        ok = ok && list(g, inner, g.valueCount, g.innerOffsets, error);
      g.innerCount += int64_t(static_cast<const std::vector<std::vector<short>>*>(v)->size());
      ok = ok && g.offsets.append(&g.innerCount, 1, error);
      break;
    default: {
      // One value; a bool is stored as its byte 0 or 1.
      unsigned char one[8];
      std::memcpy(one, v, h5layout::scalarBytes(g.type));
      if (g.type == TARN_BOOL) one[0] = *static_cast<const bool*>(v) ? 1 : 0;
      ok = g.values.append(one, 1, error);
    }
  }
  return ok && g.event.append(&event, 1, error);
}

}  // namespace h5group
