// Where RunFile would find a run file given by name.
#pragma once

#include <string>

// The name as given, then in MIDASDATA; then the other gzip form of both;
// then the name (less a final ".gz") with each other compressed ending, here
// and in MIDASDATA. Empty when none is a file.
std::string findRunFile(const std::string& name);
