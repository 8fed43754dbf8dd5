// The shape shared by the module unpackers that fill a strand event: the
// ports ("StrandEvent", "event", "bank" in, "fevent" out), the adoption of an
// alternative strand event, the bank name, the bank lookup and the
// registration of properties. Each unpacker adds its word format, its
// properties (in Init) and its sending rule (in unpack).
#pragma once

#include <string>

#include "StrandEvent.h"
#include "TarnBase.h"

class TMidasEvent;

class StrandUnpacker : public TarnBase {
 public:
  ~StrandUnpacker() override;

  // Handlers of the three inputs.
  void setStrandEvent(void* event);  // StrandEvent*: fill that event from now on, then Init()
  void decode(void* event);          // TMidasEvent*: unpack(), its result is the plug-in's own
  void setBankName(void* name);      // std::string*

 protected:
  // Declares the ports and announces the instance. `module` names the module
  // in the output's description ("Decoded V1190 StrandEvent").
  StrandUnpacker(std::string& name, const std::string& description, const std::string& module);

  // Unpacks one event into the strand event in use and sends it as the
  // module's rule says. Returns 0, or the unpacker's own failure code.
  virtual int unpack(TMidasEvent& event) = 0;

  // The bank named by "bank": its element count as the event's lookup gives
  // it (0 when missing), and in `words` how many whole 32-bit words the bank's
  // bytes hold, so that decoding never reads past the bank whatever its type.
  int locateBank(TMidasEvent& event, const void** data, int* words) const;

  // Puts a property showing `value` into the strand event in use, replacing
  // one of the same name.
  void registerProperty(const std::string& property, tarn_type type, const StrandBinning& binning,
                        void* value);

  StrandEvent* strandEvent;  // the event in use: our own, or one adopted from "StrandEvent"
  std::string bankName;

 private:
  StrandEvent* ownEvent;
};
