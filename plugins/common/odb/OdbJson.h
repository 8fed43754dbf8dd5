// ODB dumps in the JSON form of current MIDAS loggers, read into the same
// element tree that the XML form of the same database parses into, so that
// every lookup and type rule written for the XML form applies unchanged.
#pragma once

#include <libxml/tree.h>

#include <cstddef>

// The deepest nesting of objects and arrays read; deeper text is refused,
// as the XML parser refuses documents nested beyond its own limit.
constexpr size_t kOdbJsonDepthLimit = 256;

// `text` (of `length` bytes) is untrusted. Gives a new document whose root
// element is `odb`, holding `dir`, `key` and `keyarray` elements as MIDAS
// writes them in XML (types by name, numbers in decimal, flags as "y"/"n",
// array elements as `value` children), or null when the text is not one
// well-formed JSON object or nests too deeply. The caller frees it.
xmlDoc* odbJsonDocument(const char* text, size_t length);

// The MIDAS name of a numeric type id ("INT" for 7); null for an id no type has.
const char* odbTypeName(long long id);
