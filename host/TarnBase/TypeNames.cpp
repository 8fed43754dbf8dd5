// Names of the value types, for text forms and port listings.
#include "tarn_type.h"

const char* tarn_printed_name(int type) {
  switch (type) {
    case TARN_UINT16: return "uint16";
    case TARN_SHORT: return "short";
    case TARN_UINT32: return "uint32";
    case TARN_INT: return "int";
    case TARN_BOOL: return "bool";
    case TARN_FLOAT: return "float";
    case TARN_DOUBLE: return "double";
    case TARN_UINT64: return "uint64";
    case TARN_CSTRING: return "c-string";
    case TARN_STRING: return "string";
    case TARN_SHORT_V: return "vector<short>";
    case TARN_INT_V: return "vector<int>";
    case TARN_UINT64_V: return "vector<uint64>";
    case TARN_FLOAT_V: return "vector<float>";
    case TARN_DOUBLE_V: return "vector<double>";
    case TARN_STRING_V: return "vector<string>";
    case TARN_STRANDEVENT: return "StrandEvent: ";
    default: return "";
  }
}

const char* tarn_type_label(int type) {
  switch (type) {
    case TARN_NONE: return "none";
    case TARN_UINT8: return "uint8";
    case TARN_INT8: return "int8";
    case TARN_CHAR: return "char";
    case TARN_BITFIELD: return "bitfield";
    case TARN_ARRAY: return "array";
    case TARN_STRUCT: return "struct";
    case TARN_KEY: return "key";
    case TARN_LINK: return "link";
    case TARN_OBJECT: return "object";
    case TARN_BOOL_V: return "vector<bool>";
    case TARN_SHORT_VV: return "vector<vector<short>>";
    case TARN_STRANDEVENT: return "StrandEvent";
    default: {
      const char* printed = tarn_printed_name(type);
      return *printed ? printed : "unknown";
    }
  }
}

bool tarn_types_compatible(int from, int to) {
  return from == to || from == TARN_OBJECT || to == TARN_OBJECT;
}
