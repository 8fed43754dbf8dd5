// Picks one value, or one whole array, out of each MIDAS ODB dump and sends it
// as a plain value whose port type follows the key's MIDAS type.
#pragma once

#include <libxml/tree.h>

#include <string>

#include "TarnBase.h"

class OdbDocument;

class OdbExtractor : public TarnBase {
 public:
  explicit OdbExtractor(std::string& name);
  ~OdbExtractor() override;

  void Init() override;

  // How a key's MIDAS type is sent: the port types and the text conversion.
  enum class Kind { Int, Dword, Float, Double, Bool, Text };

  void processODB(void* value);  // char*: the dump as XML or JSON text
  void setPath(void* value);     // std::string*: the ODB path of the key

 private:
  template <typename T, typename Convert>
  void sendEach(xmlDoc* doc, xmlNode* node, Convert convert);
  template <typename T, typename Convert>
  void sendList(const OdbDocument& dump, int count, Convert convert);
  void sendSingle(const OdbDocument& dump, xmlNode* key, Kind kind);
  void sendWholeArray(const OdbDocument& dump, xmlNode* key, Kind kind);
  // Says on standard output why this dump sends nothing.
  void skip(const std::string& why) const;

  std::string xpath;        // of the key
  std::string valueSuffix;  // "", "/value[n]" for one element, "/value[" for the whole array
  bool wholeArray;
  int index;
  void* value;  // what is being sent, during SendOutput only
};
