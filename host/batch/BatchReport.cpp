// What a batch tells at its end and what `--status` shows, from the status
// files alone, so both read the same whichever engine ran the runs.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>

#include "Batch.h"


int summarise(const Batch& batch, int skipped) {
  int done = 0, damaged = 0, failed = 0, interrupted = 0, notRun = 0;
  for (const BatchRun& r : batch.runs) {
    RunRecord s;
    const std::string state = readStatus(batch, r, s) ? stateName(s.state) : "";
    if (state == "done") {
      ++done;
      // Done, as `tarn run` ends on a damaged file, but with events missing.
      if (!s.damage.empty()) {
        ++damaged;
        std::fprintf(stderr, "tarn batch: %s: damaged: %s\n", r.name.c_str(), s.damage.c_str());
      }
    } else if (state == "interrupted") {
      ++interrupted;
      std::fprintf(stderr, "tarn batch: %s: interrupted\n", r.name.c_str());
    } else if (state == "failed") {
      ++failed;
      const std::string log = runDirectory(batch, r) + "/stderr";
      std::fprintf(stderr, "tarn batch: %s: failed: %s%s\n", r.name.c_str(),
                   s.reason.c_str(),
                   ::access(log.c_str(), F_OK) == 0 ? (" (see " + log + ")").c_str() : "");
    } else {
      ++notRun;
      std::fprintf(stderr, "tarn batch: %s: not run%s\n", r.name.c_str(),
                   state.empty() ? "" : (" (" + state + ")").c_str());
    }
  }
  const std::string withDamage = damaged ? ", " + std::to_string(damaged) + " of them damaged" : "";
  std::fprintf(stderr, "tarn batch: %zu runs: %d done (%d of them before)%s, %d failed", batch.runs.size(),
               done, skipped, withDamage.c_str(), failed);
  if (interrupted) std::fprintf(stderr, ", %d interrupted", interrupted);
  if (notRun) std::fprintf(stderr, ", %d not run", notRun);
  std::fprintf(stderr, "; results in %s\n", batch.out.c_str());
  return done == static_cast<int>(batch.runs.size()) ? 0 : 1;
}

// A run recorded as going whose batch, on this machine, is gone: killed
// before it could say how the run ended.
static bool lost(const RunRecord& s) {
  char host[256] = "";
  ::gethostname(host, sizeof host - 1);
  return s.state == RunState::Running && s.host == host && s.pid > 0 &&
         ::kill(static_cast<pid_t>(s.pid), 0) != 0 && errno == ESRCH;
}

int printStatusTable(const std::string& dir) {
  Batch batch;
  std::string error;
  if (!readManifest(dir, batch, error)) {
    std::fprintf(stderr, "tarn batch: %s\n", error.c_str());
    return 2;
  }
  batch.out = dir;
  for (size_t k = 0; k < batch.runs.size(); ++k) {
    batch.runs[k].index = static_cast<int>(k);
    if (batch.runs[k].name.empty()) batch.runs[k].name = runName(batch.runs[k].run);
  }
  size_t width = 4;
  for (const BatchRun& r : batch.runs) width = std::max(width, r.name.size());
  std::printf("%-*s  %-11s  %10s  %9s  %9s  %s\n", static_cast<int>(width), "RUN", "STATE", "EVENTS",
              "SECONDS", "PEAK MiB", "REASON");
  std::map<std::string, int> counts;
  int damaged = 0;  // of the done ones
  for (const BatchRun& r : batch.runs) {
    RunRecord s;  // a run without a record shows zeros
    const bool recorded = readStatus(batch, r, s);
    const std::string state = !recorded ? "pending" : lost(s) ? "lost" : stateName(s.state);
    ++counts[state];
    const bool damage = state == "done" && !s.damage.empty();
    damaged += damage;
    std::printf("%-*s  %-11s  %10llu  %9.1f  %9.1f  %s\n", static_cast<int>(width), r.name.c_str(),
                damage ? "damaged" : state.c_str(), static_cast<unsigned long long>(s.events), s.seconds,
                s.maxRssKib / 1024.0, (damage ? s.damage : s.reason).c_str());
  }
  std::printf("%zu runs:", batch.runs.size());
  const char* sep = " ";
  for (const auto& c : counts) {
    std::printf("%s%d %s", sep, c.second, c.first.c_str());
    if (c.first == "done" && damaged) std::printf(" (%d damaged)", damaged);
    sep = ", ";
  }
  std::printf("\n");
  return 0;
}
