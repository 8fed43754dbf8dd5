// Where RunFile would find a run file given by name.
#pragma once

#include <string>

// The first of RunFile's names for `name` (with MIDASDATA as the data
// directory) that is a file; empty when none is.
std::string findRunFile(const std::string& name);
