// batch.json and each run's status.json: written under a temporary name and
// renamed, so a reader (or a later batch) never meets half a record.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "AtomicFile.h"
#include "Batch.h"
#include "RecordFile.h"

using nlohmann::json;

bool writeFileAtomically(const std::string& path, const std::string& text, std::string& error,
                         bool durable) {
  AtomicFile file(path);
  if (file.open()) {
    std::FILE* out = file.stream();
    if (out) std::fwrite(text.data(), 1, text.size(), out);
    if (file.commit(durable ? AtomicFile::Sync::Disk : AtomicFile::Sync::None)) return true;
  }
  error = "cannot write " + file.error();
  return false;
}

std::string recordText(const json& j, int indent) {
  return j.dump(indent, ' ', false, json::error_handler_t::replace);
}

bool isUtf8(const std::string& text) {
  try {
    json(text).dump();
    return true;
  } catch (const json::type_error&) {
    return false;
  }
}

bool writeManifest(const Batch& batch, std::string& error) {
  json runs = json::array();
  for (const BatchRun& r : batch.runs)
    runs.push_back({{"index", r.index}, {"name", r.name}, {"run", r.run}});
  json manifest = {{"graph", batch.graph}, {"settings", batch.settings}, {"runs", runs},
                   {"out", batch.out},     {"cwd", batch.cwd}};
  if (batch.byRun) {
    manifest["by_run"] = true;
    for (size_t k = 0; k < batch.runs.size(); ++k) manifest["runs"][k]["files"] = batch.runs[k].files;
  }
  return writeFileAtomically(batch.out + "/batch.json", recordText(manifest, 1) + "\n", error);
}

static json readJson(const std::string& path) {
  std::string damage;
  json value = readRecordFile(path, damage);  // a discarded value on a bad file
  if (!damage.empty()) std::fprintf(stderr, "tarn batch: %s\n", damage.c_str());
  return value;
}

bool readManifest(const std::string& dir, Batch& batch, std::string& error) {
  json m = readJson(dir + "/batch.json");
  if (!m.is_object()) {
    error = "no readable batch manifest " + dir + "/batch.json";
    return false;
  }
  try {
    batch.graph = m.at("graph").get<std::string>();
    batch.settings = m.at("settings").get<std::vector<std::string>>();
    batch.out = m.value("out", dir);
    batch.cwd = m.value("cwd", std::string());
    batch.runs.clear();
    batch.byRun = m.value("by_run", false);
    for (const json& r : m.at("runs")) {
      BatchRun run;
      run.run = r.at("run").get<std::string>();
      run.name = r.value("name", std::string());  // a run of sub-runs is named for the run
      if (batch.byRun) run.files = r.value("files", std::vector<std::string>{run.run});
      batch.runs.push_back(run);
    }
  } catch (const json::exception& e) {
    error = dir + "/batch.json: " + e.what();
    return false;
  }
  return true;
}

bool readStatus(const Batch& batch, const BatchRun& run, RunRecord& record) {
  std::string why;
  return fromJson(readJson(runDirectory(batch, run) + "/status.json"), record, why);
}

bool writeStatus(const Batch& batch, const BatchRun& run, const RunRecord& record) {
  std::string error;
  // Not synced: the rename keeps a half record from ever being read, and the
  // run's results were synced by their writers before it. A record lost with
  // the machine only means the run is done again. A sync would cost each run
  // about as much as the rest of the batch's own work.
  if (writeFileAtomically(runDirectory(batch, run) + "/status.json", recordText(toJson(record)) + "\n", error,
                          false))
    return true;
  std::fprintf(stderr, "tarn batch: %s\n", error.c_str());
  return false;
}
