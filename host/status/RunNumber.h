// The run number of a MIDAS run file: the serial number of its begin-of-run
// event, read from the file itself (any compression), so the runner and the
// live page can show it whatever the source plug-in sends.
#pragma once

#include <string>

// -1 when the file cannot be read or does not begin with a begin-of-run event.
long runNumberOf(const std::string& path);
