// ODB dumps in the JSON form of current MIDAS loggers, read into the same
// element tree that the XML form of the same database parses into, so that
// every lookup and type rule written for the XML form applies unchanged.
//
// The text is read once into a compact index; the elements of a directory
// are made when a lookup first reaches it, and a key's type and values when
// a lookup reaches the key, so that a dump of many MB costs one reading and
// the few elements its paths pass through.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <string>

// The deepest nesting of objects and arrays read; deeper text is refused,
// as the XML parser refuses documents nested beyond its own limit.
constexpr size_t kOdbJsonDepthLimit = 256;

// `text` (of `length` bytes) is untrusted. Gives a new document whose root
// element is `odb`, holding (as lookups reach them) `dir`, `key` and
// `keyarray` elements as MIDAS writes them in XML: types by name, numbers in
// decimal, flags as "y"/"n", array elements as `value` children. Null when
// the text is not one well-formed JSON object or nests too deeply. Freed
// with odbJsonFree only.
xmlDoc* odbJsonDocument(const char* text, size_t length);
void odbJsonFree(xmlDoc* doc);

// Makes the elements that `xpath` (as the ODB path translation writes it)
// passes through and selects; nothing for a document not made above.
void odbJsonPrepare(xmlDoc* doc, const std::string& xpath);
// Makes every element, for walking the whole tree.
void odbJsonComplete(xmlDoc* doc);
