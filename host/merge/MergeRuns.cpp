// Which runs of a batch directory are merged: those whose status.json says
// "done", in the order of their index.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include <nlohmann/json.hpp>

#include "Merge.h"
#include "RecordFile.h"
#include "RunRecord.h"

namespace merge {

namespace {

// The number that ends `text` before `end`, and where its digits begin; -1 when none does.
long long trailingNumber(const std::string& text, size_t end, size_t& begin) {
  begin = end;
  while (begin > 0 && std::isdigit(static_cast<unsigned char>(text[begin - 1]))) --begin;
  if (begin == end || end - begin > 18) return -1;
  return std::stoll(text.substr(begin, end - begin));
}

bool isDirectory(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

// The run's status, or false with `why` when it has none that says it finished.
bool readStatus(const std::string& dir, const std::string& name, Run& run, std::string& why) {
  const std::string path = dir + "/" + name + "/status.json";
  std::string damage;
  const nlohmann::json status = readRecordFile(path, damage);
  if (status.is_null() || !damage.empty()) {
    // Named from status.json on: the run's directory leads the message.
    why = damage.empty() ? "no status.json (not run, or not finished)" : damage.substr(dir.size() + name.size() + 2);
    return false;
  }
  RunRecord record;
  if (!fromJson(status, record, why)) return false;
  if (record.state != RunState::Done) {
    why = std::string("state ") + stateName(record.state);
    if (!record.reason.empty()) why += ": " + record.reason;
    return false;
  }
  const auto recorded = status.find("name");
  if (recorded != status.end() && (!recorded->is_string() || *recorded != name)) {
    why = "status.json names another run (" + recorded->dump() + ")";
    return false;
  }
  run.name = name;
  run.file = record.run;
  run.index = record.index;
  numbersOfName(name, run.number, run.subrun);
  return true;
}

}  // namespace

void numbersOfName(const std::string& name, long long& number, long long& subrun) {
  size_t begin = 0;
  number = trailingNumber(name, name.size(), begin);
  subrun = -1;
  if (number >= 0 && begin >= 3 && name.compare(begin - 3, 3, "sub") == 0) {
    size_t runBegin = 0;
    const long long run = trailingNumber(name, begin - 3, runBegin);
    if (run >= 0) {
      subrun = number;
      number = run;
    }
  }
}

bool finishedRuns(const std::string& dir, std::vector<Run>& runs, std::string& error) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) {
    error = dir + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.empty() || name[0] == '.' || name == "merged") continue;
    if (isDirectory(dir + "/" + name)) names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  // Runs of the manifest that never got a directory are named too.
  std::string damage;
  const nlohmann::json batch = readRecordFile(dir + "/batch.json", damage);
  if (!damage.empty()) std::cerr << "tarn merge: " << damage << "; the runs it lists are not checked\n";
  const auto listed = batch.is_object() ? batch.find("runs") : batch.end();
  if (batch.is_object() && listed != batch.end() && listed->is_array())
    for (const nlohmann::json& r : *listed) {
      const auto name = r.is_object() ? r.find("name") : r.end();
      if (r.is_object() && name != r.end() && name->is_string() &&
          !std::binary_search(names.begin(), names.end(), name->get<std::string>()))
        std::cerr << "tarn merge: " << dir << "/" << name->get<std::string>() << ": no directory (not run); skipped\n";
    }
  for (const std::string& name : names) {
    Run run;
    std::string why;
    if (readStatus(dir, name, run, why))
      runs.push_back(run);
    else
      std::cerr << "tarn merge: " << dir << "/" << name << ": " << why << "; skipped\n";
  }
  std::stable_sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.index < b.index; });
  return true;
}

}  // namespace merge
