// The MIDAS type ids by name, as ODB dumps and banks number them.
#pragma once

// "INT" for 7, and so on from "NULL" (0) to "UINT64" (18); null for an id no type has.
const char* odbTypeName(long long id);
