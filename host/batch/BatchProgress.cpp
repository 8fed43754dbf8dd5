#include "BatchProgress.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Batch.h"

BatchProgress::BatchProgress(const Batch& batch, const std::vector<int>& todo, bool s)
    : shown(s), total(batch.runs.size()), since(Clock::now()) {
  done = static_cast<int>(batch.runs.size() - todo.size());  // done before
  for (int k : todo) {
    struct stat st;
    const std::string& input = batch.runs[k].input;
    uint64_t size = !input.empty() && ::stat(input.c_str(), &st) == 0 ? st.st_size : 0;
    // A run of sub-run files reads them all.
    for (size_t f = 1; f < batch.runs[k].inputs.size(); ++f)
      if (::stat(batch.runs[k].inputs[f].c_str(), &st) == 0) size += st.st_size;
    sizes[k] = size;
    char* real = size ? ::realpath(input.c_str(), nullptr) : nullptr;
    if (real) paths[k] = real;
    std::free(real);
    bytesTotal += size;
  }
}

void BatchProgress::started(int index, pid_t pid) { going[index] = Going{pid, Clock::now()}; }

void BatchProgress::finished(int index, const std::string& state) {
  going.erase(index);
  ++(state == "done" ? done : state == "interrupted" ? interrupted : failed);
  bytesFinished += sizes[index];
}

uint64_t bytesMapped(pid_t pid, const std::string& path) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::string line;
  uint64_t furthest = 0;
  while (std::getline(maps, line)) {
    // START-END PERMS OFFSET DEV INODE PATH
    unsigned long long start = 0, end = 0, offset = 0;
    int pathAt = 0;
    if (std::sscanf(line.c_str(), "%llx-%llx %*s %llx %*s %*s %n", &start, &end, &offset, &pathAt) < 3 ||
        pathAt == 0 || line.compare(size_t(pathAt), std::string::npos, path) != 0 || end < start)
      continue;
    furthest = std::max<uint64_t>(furthest, offset + (end - start));
  }
  return furthest;
}

// What the run's process has read of its input, at most the file's size:
// through read(2) (compressed runs, pipes) or through a mapping (plain runs).
uint64_t BatchProgress::bytesRead(int index, const Going& g) const {
  const uint64_t size = sizes.at(index);
  uint64_t bytes = 0;
  std::ifstream io("/proc/" + std::to_string(g.pid) + "/io");
  std::string key;
  unsigned long long value = 0;
  while (io >> key >> value)
    if (key == "rchar:") bytes = value;
  auto path = paths.find(index);
  if (path != paths.end()) bytes = std::max(bytes, bytesMapped(g.pid, path->second));
  return std::min(bytes, size);
}

void BatchProgress::draw(const std::map<int, uint64_t>& events) {
  if (!shown) return;
  const Clock::time_point now = Clock::now();
  double rate = 0;
  uint64_t bytes = bytesFinished;
  for (const auto& g : going) {
    double seconds = std::chrono::duration<double>(now - g.second.since).count();
    auto e = events.find(g.first);
    if (e != events.end() && seconds > 0) rate += e->second / seconds;
    bytes += bytesRead(g.first, g.second);
  }
  const double elapsed = std::chrono::duration<double>(now - since).count();
  char left[64] = "";
  if (bytes > 0 && bytesTotal > bytes) {
    long s = static_cast<long>(elapsed * (bytesTotal - bytes) / bytes + 0.5);
    std::snprintf(left, sizeof left, ", %ldh%02ldm%02lds left", s / 3600, s / 60 % 60, s % 60);
  }
  std::string stopped = interrupted ? ", " + std::to_string(interrupted) + " interrupted" : "";
  std::fprintf(stderr, "\r\033[Ktarn batch: %d/%zu done, %zu running, %d failed%s, %.0f events/s%s",
               done, total, going.size(), failed, stopped.c_str(), rate, left);
  std::fflush(stderr);
  drawn = true;
}

void BatchProgress::clear() {
  if (!drawn) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn = false;
}
