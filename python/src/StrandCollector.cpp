#include "StrandCollector.h"

#include <cstring>
#include <iostream>
#include <vector>

#include "Hdf5Layout.h"
#include "StrandEvent.h"
#include "UnsignedValues.h"

namespace py = pybind11;

namespace tarnpy {

namespace {

int depthOf(tarn_type t) {
  switch (t) {
    case TARN_CSTRING: case TARN_STRING: case TARN_SHORT_V: case TARN_INT_V: case TARN_UINT64_V:
    case TARN_BOOL_V: case TARN_FLOAT_V: case TARN_DOUBLE_V: return 1;
    case TARN_STRING_V: case TARN_SHORT_VV: return 2;
    default: return 0;
  }
}

// The numpy type of one element; none for types the export does not write either.
const char* elementDtype(tarn_type t) {
  switch (t) {
    case TARN_UINT8: case TARN_BITFIELD: case TARN_CSTRING: case TARN_STRING: case TARN_STRING_V: return "uint8";
    case TARN_INT8: case TARN_CHAR: return "int8";
    case TARN_UINT16: return "uint16";
    case TARN_SHORT: case TARN_SHORT_V: case TARN_SHORT_VV: return "int16";
    case TARN_UINT32: return "uint32";
    case TARN_INT: case TARN_INT_V: return "int32";
    case TARN_BOOL: case TARN_BOOL_V: return "bool";
    case TARN_FLOAT: case TARN_FLOAT_V: return "float32";
    case TARN_DOUBLE: case TARN_DOUBLE_V: return "float64";
    case TARN_UINT64: case TARN_UINT64_V: return "uint64";
    default: return nullptr;
  }
}

template <class T>
void list(GrowingBuffer& values, const std::vector<T>& v, int64_t& count, GrowingBuffer& ends) {
  values.append(v.data(), v.size() * sizeof(T));
  count += static_cast<int64_t>(v.size());
  ends.push(count);
}

}  // namespace

StrandCollector::StrandCollector(const std::string& output) : TarnBase(nullptr, "collect " + output) {
  inputs.push_back(Input("fevent", static_cast<Handler>(&StrandCollector::take), TARN_STRANDEVENT,
                         "StrandEvent to keep for Python"));
}

void StrandCollector::take(void* value) {
  StrandEvent* event = static_cast<StrandEvent*>(value);
  if (!event || event->layout) return;  // a layout event carries no values
  for (auto& entry : *event) {
    const StrandProperty& sp = entry.second;
    if (!sp.value || !elementDtype(sp.type)) continue;  // none in this event, or not a column's type
    std::unique_ptr<Property>& p = properties[entry.first];
    if (!p) {
      p.reset(new Property);
      p->type = sp.type;
      // As the HDF5 export does: such lists are the unsigned numbers they hold.
      p->unsignedElements = (sp.type == TARN_SHORT_V || sp.type == TARN_INT_V) && valuesUnsigned(sp.value);
      if (depthOf(sp.type) > 0) p->offsets.push<int64_t>(0);
      if (depthOf(sp.type) > 1) p->innerOffsets.push<int64_t>(0);
    }
    if (p->stopped) continue;
    if (p->type != sp.type) {
      // As the HDF5 export does: what was kept stays, the rest is not mixed in.
      p->stopped = true;
      std::cerr << GetName() << ": property " << entry.first << " changed type from " << tarn_type_label(p->type)
                << " to " << tarn_type_label(sp.type) << " at event " << events << "; not kept from here on\n";
      continue;
    }
    append(*p, sp.value);
  }
  ++events;
}

bool StrandCollector::append(Property& p, const void* v) {
  switch (p.type) {
    case TARN_CSTRING: {
      const char* text = static_cast<const char*>(v);
      p.values.append(text, std::strlen(text));
      p.valueCount += static_cast<int64_t>(std::strlen(text));
      p.offsets.push(p.valueCount);
      break;
    }
    case TARN_STRING: {
      const std::string& s = *static_cast<const std::string*>(v);  // NULs kept
      p.values.append(s.data(), s.size());
      p.valueCount += static_cast<int64_t>(s.size());
      p.offsets.push(p.valueCount);
      break;
    }
    case TARN_SHORT_V: list(p.values, *static_cast<const std::vector<short>*>(v), p.valueCount, p.offsets); break;
    case TARN_INT_V: list(p.values, *static_cast<const std::vector<int>*>(v), p.valueCount, p.offsets); break;
    case TARN_UINT64_V: list(p.values, *static_cast<const std::vector<uint64_t>*>(v), p.valueCount, p.offsets); break;
    case TARN_FLOAT_V: list(p.values, *static_cast<const std::vector<float>*>(v), p.valueCount, p.offsets); break;
    case TARN_DOUBLE_V: list(p.values, *static_cast<const std::vector<double>*>(v), p.valueCount, p.offsets); break;
    case TARN_BOOL_V: {
      const std::vector<bool>& b = *static_cast<const std::vector<bool>*>(v);
      list(p.values, std::vector<unsigned char>(b.begin(), b.end()), p.valueCount, p.offsets);
      break;
    }
    case TARN_STRING_V: {
      const auto& strings = *static_cast<const std::vector<std::string>*>(v);
      for (const std::string& s : strings) {
        p.values.append(s.data(), s.size());
        p.valueCount += static_cast<int64_t>(s.size());
        p.innerOffsets.push(p.valueCount);
      }
      p.innerCount += static_cast<int64_t>(strings.size());
      p.offsets.push(p.innerCount);
      break;
    }
    case TARN_SHORT_VV: {
      const auto& lists = *static_cast<const std::vector<std::vector<short>>*>(v);
      for (const std::vector<short>& inner : lists) list(p.values, inner, p.valueCount, p.innerOffsets);
      p.innerCount += static_cast<int64_t>(lists.size());
      p.offsets.push(p.innerCount);
      break;
    }
    default: {
      unsigned char one[8];
      std::memcpy(one, v, h5layout::scalarBytes(p.type));
      if (p.type == TARN_BOOL) one[0] = *static_cast<const bool*>(v) ? 1 : 0;
      p.values.append(one, h5layout::scalarBytes(p.type));
    }
  }
  p.event.push(events);
  return true;
}

py::dict StrandCollector::columns() {
  py::object column = py::module_::import("tarn").attr("Column");
  const py::dtype i64 = py::dtype::of<int64_t>();
  py::dict out;
  for (auto& entry : properties) {
    Property& p = *entry.second;
    const int depth = depthOf(p.type);
    const char* dtype = elementDtype(p.type);
    if (p.unsignedElements) dtype = p.type == TARN_SHORT_V ? "uint16" : "uint32";
    py::object values = p.values.release(py::dtype(dtype));
    py::object offsets = depth > 0 ? py::object(p.offsets.release(i64)) : py::none();
    py::object inner = depth > 1 ? py::object(p.innerOffsets.release(i64)) : py::none();
    out[py::str(entry.first)] = column(values, offsets, p.event.release(i64), inner);
  }
  return out;
}

}  // namespace tarnpy
