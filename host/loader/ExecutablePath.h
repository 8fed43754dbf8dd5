// Where the running program lives, so that it finds what was built or
// installed with it wherever that tree is.
#pragma once

#include <string>

// The directory of the running executable, symbolic links resolved; empty when
// the system does not say.
std::string executableDirectory();
// The running executable itself, the same way; empty when the system does not say.
std::string executablePath();
