// Feeds recorded MIDAS run files into the graph: one file, or a list of them,
// read event by event when the host starts the node.
#pragma once

#include <fstream>
#include <string>

#include "GrowthWait.h"
#include "TRunFile.h"
#include "TarnBase.h"

class RunFile : public TarnBase {
 public:
  explicit RunFile(std::string& name);
  ~RunFile() override;

  void setSteps(void* value);         // int*
  void setInterval(void* value);      // float*
  void setFilename(void* value);      // std::string*
  void setListfilename(void* value);  // std::string*
  void setFollow(void* value);        // bool*
  void setThread(void* value);        // bool*

  void Start() override;
  void Stop() override;
  void Reset() override;

 private:
  bool openFile(const std::string& name);
  void nextFile();
  void pause() const;
  bool awaitGrowth();
  void reportDamage(const std::string& what);

  int steps;
  double interval;
  TRunFile reader;
  std::ifstream listFile;
  std::string dataDir;
  bool fileOpen;
  bool endOfRunSent;  // of the open file: a followed file ends there
  bool anyOpened = false;  // a Start with nothing ever opened read nothing at all
  bool fileReported = false;  // the open file was named to the host once read from
  GrowthWait growth;
};
