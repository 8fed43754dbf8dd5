// Counts lines printed again and again (a warning of every event) instead of
// showing each one: a line is shown once, and its repeats become "... and
// 1,038 more like it" after it.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

namespace live {

class RepeatedLines {
 public:
  // At most `keptBytes` of distinct lines are remembered, the oldest let go
  // first: a line seen again after that is shown again.
  explicit RepeatedLines(size_t keptBytes);

  // Takes one line (without its end); true when it is shown, false when it
  // repeats one shown before and is only counted.
  bool add(const std::string& line);
  // The lines remembered, in order, each followed by its count of repeats.
  std::string text() const;
  // Only the lines that repeated, each with its count: what a terminal that
  // showed each line once has not seen.
  std::string repeats() const;

  static std::string moreLikeIt(uint64_t more);

 private:
  struct Entry {
    std::string line;
    uint64_t more = 0;
  };
  size_t keptBytes, bytes = 0;
  std::list<Entry> entries;
  std::unordered_map<std::string, std::list<Entry>::iterator> index;
};

}  // namespace live
