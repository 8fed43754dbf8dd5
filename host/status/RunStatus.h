// How a node of the stand-in host tells the runner that the run failed even
// though it went on to the end: a result file that could not be written. The
// runner then exits 1. The names are C so that a plug-in that must also load in
// other hosts can look them up at run time (dlsym) instead of requiring them.
#pragma once

extern "C" {
// Counts one failure of this run; the node has already said what failed.
__attribute__((visibility("default"))) void tarn_run_failed(void);
// The failures counted since the process began.
__attribute__((visibility("default"))) unsigned tarn_run_failures(void);
}
