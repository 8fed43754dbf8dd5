#include "OdbTypeName.h"

namespace {

const char* const kTypeNames[] = {"NULL",  "BYTE",   "SBYTE",  "CHAR",   "WORD",     "SHORT",  "DWORD",
                                  "INT",   "BOOL",   "FLOAT",  "DOUBLE", "BITFIELD", "STRING", "ARRAY",
                                  "STRUCT", "KEY",   "LINK",   "INT64",  "UINT64"};

}  // namespace

const char* odbTypeName(long long id) {
  if (id < 0 || id >= static_cast<long long>(sizeof kTypeNames / sizeof kTypeNames[0])) return nullptr;
  return kTypeNames[id];
}
