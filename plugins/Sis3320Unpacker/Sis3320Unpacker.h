// Sends the sampled waveform of one channel of a Struck SIS3320 digitiser:
// each bank SISc of an event whose channel c is the selected one goes out as
// a list of its 16-bit samples.
#pragma once

#include <string>

#include "TarnBase.h"

class Sis3320Unpacker : public TarnBase {
 public:
  explicit Sis3320Unpacker(std::string& name);
  ~Sis3320Unpacker() override;

  void setChan(void* value);  // int*
  void decode(void* value);   // TMidasEvent*

 private:
  int channel;  // the fourth character of the bank name minus '0'
};
