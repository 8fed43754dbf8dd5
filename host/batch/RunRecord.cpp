#include "RunRecord.h"

#include <signal.h>
#include <sys/wait.h>

using nlohmann::json;

namespace {
const char* const kNames[] = {"running", "done", "failed", "interrupted"};
}

const char* stateName(RunState state) { return kNames[static_cast<int>(state)]; }

json toJson(const RunRecord& r) {
  json j = {{"run", r.run},         {"name", r.name},       {"index", r.index},
            {"state", stateName(r.state)}, {"exit", r.exit}, {"signal", r.signal},
            {"seconds", r.seconds}, {"cpu_seconds", r.cpuSeconds}, {"max_rss_kib", r.maxRssKib},
            {"events", r.events},   {"reason", r.reason}};
  if (!r.damage.empty()) j["damage"] = r.damage;
  if (!r.host.empty()) j["host"] = r.host;
  if (r.pid) j["pid"] = r.pid;
  if (!r.inputs.is_null()) j["inputs"] = r.inputs;
  return j;
}

bool fromJson(const json& j, RunRecord& r, std::string& why) {
  if (!j.is_object()) {
    why = "status.json is not a JSON object";
    return false;
  }
  const auto state = j.find("state");
  const auto index = j.find("index");
  if (state == j.end() || !state->is_string() || index == j.end() || !index->is_number_integer()) {
    why = "status.json has no state or index";
    return false;
  }
  bool known = false;
  for (int k = 0; k < 4; ++k)
    if (*state == kNames[k]) {
      r.state = static_cast<RunState>(k);
      known = true;
    }
  if (!known) {
    why = "status.json has an unknown state " + state->dump();
    return false;
  }
  r.index = index->get<long long>();
  // The rest as far as it is there and of its type: an older or damaged record
  // still tells its state.
  auto text = [&](const char* key) {
    const auto v = j.find(key);
    return v != j.end() && v->is_string() ? v->get<std::string>() : std::string();
  };
  auto number = [&](const char* key, auto fallback) {
    const auto v = j.find(key);
    return v != j.end() && v->is_number() ? v->get<decltype(fallback)>() : fallback;
  };
  r.run = text("run");
  r.name = text("name");
  r.reason = text("reason");
  r.damage = text("damage");
  r.host = text("host");
  r.exit = number("exit", 0);
  r.signal = number("signal", 0);
  r.seconds = number("seconds", 0.0);
  r.cpuSeconds = number("cpu_seconds", 0.0);
  r.maxRssKib = number("max_rss_kib", 0LL);
  r.events = number("events", uint64_t{0});
  r.pid = number("pid", 0LL);
  const auto inputs = j.find("inputs");
  r.inputs = inputs != j.end() ? *inputs : json();
  return true;
}

RunState endedState(int wstatus, bool interruptSent) {
  const int exitCode = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 0;
  const int signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
  if (!signal && exitCode == 0) return RunState::Done;
  const bool stopped = interruptSent && (exitCode == 130 || exitCode == 143 || signal == SIGINT ||
                                         signal == SIGTERM);
  return stopped ? RunState::Interrupted : RunState::Failed;
}
