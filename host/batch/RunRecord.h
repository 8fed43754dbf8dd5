// A batch run's status record (DIR/NAME/status.json): what the batch writes
// as a run starts and ends, and what `--status`, a later batch and `tarn merge`
// read back.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

enum class RunState { Running, Done, Failed, Interrupted };

struct RunRecord {
  std::string run;   // the run file as given
  std::string name;  // its {name}
  long long index = 0;
  RunState state = RunState::Failed;
  int exit = 0, signal = 0;
  double seconds = 0, cpuSeconds = 0;
  long long maxRssKib = 0;
  uint64_t events = 0;
  std::string reason;
  std::string damage;      // what a damaged run file did to a run that went on ("" none)
  std::string host;        // "" when not known
  long long pid = 0;       // the batch's, while running; 0 otherwise
  nlohmann::json inputs;   // what a done run's result depends on; null otherwise
};

const char* stateName(RunState state);
nlohmann::json toJson(const RunRecord& record);
// False with `why` when `j` is no record: not an object, or without a known
// state or an integer index.
bool fromJson(const nlohmann::json& j, RunRecord& record, std::string& why);

// The state of a run whose process ended with `wstatus` (from wait): done only
// on exit status 0; a stop asked for (`interruptSent`) and obeyed is interrupted.
RunState endedState(int wstatus, bool interruptSent);
