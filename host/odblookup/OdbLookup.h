// Looking inside a parsed ODB dump from the host side (tarn odb, and any
// binding): the same document the plug-ins query, walked by name so that a
// path may also match by case, as MIDAS's own ODB tools allow.
#pragma once

#include <libxml/tree.h>

#include <string>
#include <vector>

#include "OdbDocument.h"

struct OdbItem {
  xmlNode* node = nullptr;  // a dir, key or keyarray element (or the root)
  int index = -1;           // an element of an array: its index; -1: the whole key
};

// Resolves "/Dir/Key", "Key[i]": each name exactly, else by the one name that
// matches it without regard to case. False with `error` naming the path (and
// the ambiguity, if that was it).
bool odbResolve(const OdbDocument& dump, const std::string& path, OdbItem& item, std::string& error);

bool odbIsDirectory(const xmlNode* node);  // the root or a dir
std::string odbName(const xmlNode* node);
std::string odbType(const xmlNode* node);  // the MIDAS type name; empty for directories
// The entries of a directory: its dir, key and keyarray elements in order.
std::vector<xmlNode*> odbEntries(const xmlNode* dir);
// A key's values as text: one for a key, each element of a keyarray.
std::vector<std::string> odbValues(const xmlNode* key);
