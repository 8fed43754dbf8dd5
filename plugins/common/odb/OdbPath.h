// ODB paths ("/Equipment/Trigger/Settings/Gains[2]") turned into the XPath
// expression that finds the key in an ODB dump, and the integer reading that
// indices and key texts share.
#pragma once

#include <string>

struct OdbPath {
  std::string path;          // as given, less one enclosing pair of double quotes
  std::string xpath{"/odb"}; // "/odb", then one step per segment translated
  bool wholeArray = false;   // the key segment ended in "[*]"
  int index = 0;             // 0, or the element's index as written plus 1
  int segments = 0;          // segments translated into `xpath`
};

// The longest segment a path may hold; a longer one ends the translation.
constexpr size_t kOdbSegmentLimit = 126;

// Directories are the segments followed by "/", the last one is the key
// ("key", or "keyarray" when it ends in "]"). Empty segments are skipped.
// Names are put into the expression as they are.
OdbPath translateOdbPath(const std::string& path);

// The integer that starts `text`, read as atoi reads it (leading white space,
// an optional sign, digits up to the first non-digit, 0 when none) but held
// at the limits of the type instead of overflowing. A null text reads as 0.
long long odbLeadingInteger(const char* text);
