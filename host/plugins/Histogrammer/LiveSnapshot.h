// A histogram as the runner's live page shows it.
#pragma once

#include <string>

#include "Histogram.h"
#include "LiveBoard.h"

namespace hist {

LiveBoard::Snapshot liveSnapshot(const Histogram& h, const std::string& node,
                                 const std::string& property, const std::string& unit);

}  // namespace hist
