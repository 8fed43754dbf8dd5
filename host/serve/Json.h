// Appending JSON text: strings escaped, numbers in their shortest exact form.
#pragma once

#include <string>

namespace live {

void appendString(std::string& out, const std::string& text);
// Reads back as the same double; NaN and infinities (which JSON lacks) as null.
void appendNumber(std::string& out, double x);

}  // namespace live
