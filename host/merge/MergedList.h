// DIR/merged/.merged.json lists the files the last merge made there, so that
// the next one removes those it does not make again (a property whose runs now
// differ in binning, a run renamed) and never touches files others put there.
#pragma once

#include <set>
#include <string>

namespace merge {

constexpr const char* kMergedList = ".merged.json";

// The files (relative to `merged`) the list there names; empty when there is none.
std::set<std::string> readMergedList(const std::string& merged);

// Removes each regular file of `earlier` that `made` lacks, naming it on
// stdout, then writes the list of `made`. False (with a message on stderr) when
// either fails.
bool replaceMergedList(const std::string& merged, const std::set<std::string>& earlier,
                       const std::set<std::string>& made);

}  // namespace merge
