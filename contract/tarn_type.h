// Value types carried by ports and strand-event properties.
#pragma once

// The numbers are fixed: stored graphs and every plug-in rely on them.
enum tarn_type : int {
  TARN_NONE = 0,
  TARN_UINT8 = 1,
  TARN_INT8 = 2,
  TARN_CHAR = 3,
  TARN_UINT16 = 4,
  TARN_SHORT = 5,
  TARN_UINT32 = 6,
  TARN_INT = 7,
  TARN_BOOL = 8,
  TARN_FLOAT = 9,
  TARN_DOUBLE = 10,
  TARN_UINT64 = 11,
  TARN_BITFIELD = 12,
  TARN_CSTRING = 13,
  TARN_ARRAY = 14,
  TARN_STRUCT = 15,
  TARN_KEY = 16,
  TARN_LINK = 17,
  TARN_OBJECT = 18,  // agreed between sender and receiver; also a default-built property
  TARN_STRING = 19,
  TARN_SHORT_V = 20,
  TARN_INT_V = 21,
  TARN_UINT64_V = 22,
  TARN_BOOL_V = 23,
  TARN_FLOAT_V = 24,
  TARN_DOUBLE_V = 25,
  TARN_STRING_V = 26,
  TARN_SHORT_VV = 27,
  TARN_STRANDEVENT = 100,
};

// The name a strand event's text form shows for the type; "" where it shows none.
const char* tarn_printed_name(int type);

// A name for every type, for people reading port listings (never empty).
const char* tarn_type_label(int type);

// True when an output of type `from` may feed an input of type `to`.
bool tarn_types_compatible(int from, int to);
