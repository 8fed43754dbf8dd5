#include "RepeatedLines.h"

namespace live {

RepeatedLines::RepeatedLines(size_t kept) : keptBytes(kept) {}

bool RepeatedLines::add(const std::string& line) {
  // Empty lines separate what plug-ins print; they are never counted away.
  auto seen = line.empty() ? index.end() : index.find(line);
  if (seen != index.end()) {
    ++seen->second->more;
    return false;
  }
  entries.push_back(Entry{line, 0});
  if (!line.empty()) index[line] = std::prev(entries.end());
  bytes += line.size() + 1;
  while (bytes > keptBytes && entries.size() > 1) {
    const Entry& oldest = entries.front();
    bytes -= oldest.line.size() + 1;
    auto at = index.find(oldest.line);
    if (at != index.end() && at->second == entries.begin()) index.erase(at);
    entries.pop_front();
  }
  return true;
}

std::string RepeatedLines::moreLikeIt(uint64_t more) {
  std::string digits = std::to_string(more), grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return "... and " + grouped + " more like it";
}

std::string RepeatedLines::text() const {
  std::string all;
  for (const Entry& e : entries) {
    all += e.line + "\n";
    if (e.more) all += moreLikeIt(e.more) + "\n";
  }
  return all;
}

std::string RepeatedLines::repeats() const {
  std::string all;
  for (const Entry& e : entries)
    if (e.more) all += e.line + "\n" + moreLikeIt(e.more) + "\n";
  return all;
}

}  // namespace live
