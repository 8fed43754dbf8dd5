// The live page's answers: the page, its assets and the JSON API, as a pure
// function of method and decoded path over the current snapshots.
#pragma once

#include <functional>
#include <string>

#include "LiveBoard.h"
#include "RunState.h"

namespace live {

struct Answer {
  int status = 200;
  std::string type;  // Content-Type
  std::string body;  // sent unless the request was HEAD
};

class Site {
 public:
  // `output`, when given, returns the recent lines the plug-ins printed.
  Site(std::string graphJson, const RunState& run, LiveBoard& board,
       std::function<std::string()> output = nullptr);

  // GET and HEAD only (405 otherwise); 404 for any path not served.
  Answer answer(const std::string& method, const std::string& path) const;

 private:
  Answer status() const;
  Answer histogramList() const;
  Answer histogram(const std::string& node, const std::string& property) const;

  std::string graph;
  const RunState& run;
  LiveBoard& board;
  std::function<std::string()> output;
};

// The JSON of one histogram, as /api/histograms/NODE/PROPERTY gives it.
std::string histogramJson(const LiveHistogram& h);
// `text` with every byte but letters, digits and -._~ written as %XX.
std::string percentEncoded(const std::string& text);

}  // namespace live
