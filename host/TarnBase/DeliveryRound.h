// The round of the value being delivered on this thread: a source's send and
// every send it leads to, before the source sends again. A sink fed by two
// roads from one source (a MIDAS event and the strand event unpacked from it)
// matches what came in one round, whichever road the host served first.
#pragma once

#include <cstdint>

__attribute__((visibility("default"))) uint64_t currentDeliveryRound();
