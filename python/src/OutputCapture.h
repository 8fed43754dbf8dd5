// What the plug-ins print while a graph runs: standard output goes to an
// unnamed file, whose whole content is kept and passed on to where standard
// output went before when the capture ends.
#pragma once

#include <string>

namespace tarnpy {

class OutputCapture {
 public:
  OutputCapture();   // nothing is captured (text() empty) when fd 1 cannot be moved
  ~OutputCapture();  // ends the capture if end() was not called
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  // Flushes, puts fd 1 back, passes the text on and returns it.
  std::string end();

 private:
  int saved = -1;
  int file = -1;
};

}  // namespace tarnpy
