// How a node of the stand-in host tells the runner that the run failed even
// though it went on to the end: a result file that could not be written. The
// runner then exits 1. The names are C so that a plug-in that must also load in
// other hosts can look them up at run time (dlsym) instead of requiring them.
#pragma once

#include <string>
#include <vector>

extern "C" {
// Counts one failure of this run; the node has already said what failed.
__attribute__((visibility("default"))) void tarn_run_failed(void);
// Counts one failure and keeps why, for the runner to name it on stderr as
// "NODE: REASON" (the node said it only where its own messages go, if at all).
__attribute__((visibility("default"))) void tarn_run_failed_because(const char* node, const char* reason);
// The failures counted since the process began.
__attribute__((visibility("default"))) unsigned tarn_run_failures(void);
// A source met a damaged run file (cut, a checksum error, an event that does
// not decode) and ended there as at the file's end: the run is not failed,
// but the runner keeps "NODE: REASON" for a batch to record.
__attribute__((visibility("default"))) void tarn_run_damaged(const char* node, const char* reason);
// A host plug-in could not take a setting and has said why on stderr: the
// runner stops before anything runs, as for a setting that does not convert.
__attribute__((visibility("default"))) void tarn_setting_rejected(void);
__attribute__((visibility("default"))) unsigned tarn_settings_rejected(void);
}

// "NODE: REASON" of each failure given with a reason, in order.
__attribute__((visibility("default"))) std::vector<std::string> runFailureReasons();
// "NODE: REASON" of each damage reported, in order.
__attribute__((visibility("default"))) std::vector<std::string> runDamage();
