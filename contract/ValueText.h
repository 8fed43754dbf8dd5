// The text form of one value, as a strand event shows it.
#pragma once

#include <ostream>

// Scalars with the stream's default formatting (bool as 1 or 0), texts as they
// are, vectors as "%4s " per element, a strand event as an end of line followed
// by its own text form; types without a text form write nothing.
void tarn_write_value(std::ostream& out, int type, const void* value);
