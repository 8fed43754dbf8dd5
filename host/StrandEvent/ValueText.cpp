// The text form of one value of any port type.
#include "ValueText.h"

#include <cstdint>
#include <iomanip>
#include <string>
#include <vector>

#include "StrandEvent.h"

namespace {

template <typename T>
void writeVector(std::ostream& out, const void* value) {
  for (const auto& element : *static_cast<const std::vector<T>*>(value))
    out << std::setw(4) << element << " ";
}

}  // namespace

void tarn_write_value(std::ostream& out, int type, const void* value) {
  if (!value) return;
  switch (type) {
    // 8-bit integers are numbers here, not characters.
    case TARN_UINT8:
    case TARN_BITFIELD: out << static_cast<unsigned>(*static_cast<const uint8_t*>(value)); break;
    case TARN_INT8: out << static_cast<int>(*static_cast<const int8_t*>(value)); break;
    case TARN_CHAR: out << *static_cast<const char*>(value); break;
    case TARN_UINT16: out << *static_cast<const uint16_t*>(value); break;
    case TARN_SHORT: out << *static_cast<const int16_t*>(value); break;
    case TARN_UINT32: out << *static_cast<const uint32_t*>(value); break;
    case TARN_INT: out << *static_cast<const int32_t*>(value); break;
    case TARN_BOOL: out << (*static_cast<const bool*>(value) ? 1 : 0); break;
    case TARN_FLOAT: out << *static_cast<const float*>(value); break;
    case TARN_DOUBLE: out << *static_cast<const double*>(value); break;
    case TARN_UINT64: out << *static_cast<const uint64_t*>(value); break;
    case TARN_CSTRING: out << static_cast<const char*>(value); break;
    case TARN_STRING: out << *static_cast<const std::string*>(value); break;
    case TARN_SHORT_V: writeVector<short>(out, value); break;
    case TARN_INT_V: writeVector<int>(out, value); break;
    case TARN_UINT64_V: writeVector<uint64_t>(out, value); break;
    case TARN_BOOL_V: writeVector<bool>(out, value); break;
    case TARN_FLOAT_V: writeVector<float>(out, value); break;
    case TARN_DOUBLE_V: writeVector<double>(out, value); break;
    case TARN_STRING_V: writeVector<std::string>(out, value); break;
    case TARN_STRANDEVENT:
      out << "\n" << const_cast<StrandEvent*>(static_cast<const StrandEvent*>(value))->str();
      break;
    default: break;
  }
}
