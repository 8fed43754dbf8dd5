// Texts kept inside a PNG (tEXt chunks): a plot carries its axis label, so
// that a plot drawn later from its table (a merge of many runs) says the same.
#pragma once

#include <string>

namespace hist {

// Puts a tEXt chunk KEY=TEXT before the IEND chunk that ends the PNG file
// `path`. False (the file left as it was) when it does not end in IEND or
// cannot be read and written in place (a device).
bool addPngText(const std::string& path, const std::string& key, const std::string& text);

// The text of the first tEXt chunk named `key` in the PNG file `path`; false when there is none.
bool readPngText(const std::string& path, const std::string& key, std::string& text);

}  // namespace hist
