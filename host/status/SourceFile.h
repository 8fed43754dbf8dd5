// Which run file each source node reads now, as the source tells the host
// (a C name, so that a plug-in finds it at run time and still loads in hosts
// without it); the runner's progress line and the live page show it.
#pragma once

#include <string>

extern "C" {
__attribute__((visibility("default"))) void tarn_source_file(const char* node, const char* path);
}

// The file the node named last, or "" when it named none.
__attribute__((visibility("default"))) std::string sourceFile(const std::string& node);
