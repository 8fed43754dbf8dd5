#include "Sis3320Unpacker.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <vector>

#include "Plugin.h"
#include "BankWalk.h"
#include "TMidasEvent.h"

Sis3320Unpacker::Sis3320Unpacker(std::string& n) : TarnBase(nullptr, "NoName"), channel(1) {
  name = n;
  description = "Decode Struck SIS3320 Midas events";
  inputs.push_back(Input("channel", static_cast<Handler>(&Sis3320Unpacker::setChan), TARN_INT,
                         "Selected channel"));
  inputs.push_back(Input("event", static_cast<Handler>(&Sis3320Unpacker::decode), TARN_OBJECT,
                         "Midas event to decode"));
  outputs.push_back(Output("signal", TARN_SHORT_V, "Signal as vector<short>"));
  std::cout << name << " instantiated" << std::endl;
}

Sis3320Unpacker::~Sis3320Unpacker() {
  std::cout << name << " deleted" << std::endl;
}

void Sis3320Unpacker::setChan(void* value) {
  if (value) channel = *static_cast<const int*>(value);
}

void Sis3320Unpacker::decode(void* value) {
  if (!value) return;
  const TMidasEvent& event = *static_cast<const TMidasEvent*>(value);
  forEachBank(event, [this](const char* bankName, uint32_t, const char* data, uint32_t size) {
    if (bankName[0] != 'S' || bankName[1] != 'I' || bankName[2] != 'S') return;
    // Signed as on the acquisition's platform, whatever the signedness of char here.
    if (static_cast<signed char>(bankName[3]) - '0' != channel) return;
    // Whole samples only: an odd last byte is not part of one.
    std::vector<uint16_t> samples(size / 2);
    if (!samples.empty()) std::memcpy(samples.data(), data, samples.size() * 2);
    SendOutput(0, &samples);
  });
}

TARN_PLUGIN(Sis3320Unpacker)
