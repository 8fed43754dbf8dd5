// The names a run file given by name is looked for under, in the order they
// are tried: RunFile opens the first that opens, the host's tools the first
// that is a file, so both read the same file.
#pragma once

#include <string>
#include <vector>

// The name as given, then in `dataDir`; then the other gzip form of both;
// then the name (less a final ".gz") with each other compressed ending, here
// and in `dataDir`. `dataDir` is MIDASDATA as set, possibly empty.
std::vector<std::string> runFileNames(const std::string& name, const std::string& dataDir);
