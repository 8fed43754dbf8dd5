// The live server's JSON text: nlohmann's, with any bytes of a name that are
// not UTF-8 replaced by U+FFFD, so that every answer is valid JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace live {

// Key order as built; NaN and infinities (which JSON lacks) as null.
std::string jsonText(const nlohmann::ordered_json& value);

}  // namespace live
