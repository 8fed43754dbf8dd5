#include "Sis3320Unpacker.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <vector>

#include "Plugin.h"
#include "TMidasEvent.h"

namespace {

// Calls f(bank name, data, data size in bytes) for each bank, in order. The
// header is read as bytes: the data area may lie at any alignment.
template <class BankT, class Next, class F>
void walkBanks(Next next, F f) {
  BankT* bank = nullptr;
  char* data = nullptr;
  for (;;) {
    const int size = next(&bank, &data);
    if (!bank) return;
    f(reinterpret_cast<const char*>(bank) + offsetof(BankT, fName), data,
      static_cast<size_t>(size));
  }
}

}  // namespace

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
  auto send = [this](const char* bankName, const char* data, size_t size) {
    if (bankName[0] != 'S' || bankName[1] != 'I' || bankName[2] != 'S') return;
    // Signed as on the acquisition's platform, whatever the signedness of char here.
    if (static_cast<signed char>(bankName[3]) - '0' != channel) return;
    // Whole samples only: an odd last byte is not part of one.
    std::vector<uint16_t> samples(size / 2);
    if (!samples.empty()) std::memcpy(samples.data(), data, samples.size() * 2);
    SendOutput(0, &samples);
  };
  if (event.IsBank32())
    walkBanks<Bank32_t>([&](Bank32_t** b, char** d) { return event.IterateBank32(b, d); }, send);
  else
    walkBanks<Bank_t>([&](Bank_t** b, char** d) { return event.IterateBank(b, d); }, send);
}

TARN_PLUGIN(Sis3320Unpacker)
