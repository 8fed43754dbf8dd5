#include "ChannelPicker.h"

#include <iostream>
#include <vector>

#include "Plugin.h"
#include "WaveEvent.h"

ChannelPicker::ChannelPicker(std::string& n) : TarnBase(nullptr, "NoName"), module(-1), channel(-1) {
  name = n;
  description = "Extract data from WaveEvents";
  inputs.push_back(Input("vf_event", static_cast<Handler>(&ChannelPicker::split), TARN_OBJECT,
                         "WaveEvent from WaveDecoder"));
  inputs.push_back(Input("module", static_cast<Handler>(&ChannelPicker::setMnr), TARN_INT,
                         "Selected module (-1 for all)"));
  inputs.push_back(Input("channel", static_cast<Handler>(&ChannelPicker::setCnr), TARN_INT,
                         "Selected channel (-1 for all)"));
  outputs.push_back(Output("module", TARN_INT, "Module number from event"));
  outputs.push_back(Output("channel", TARN_INT, "Channel number from event"));
  outputs.push_back(Output("height", TARN_DOUBLE, "Firmware pulseheight"));
  outputs.push_back(Output("pos", TARN_INT, "Firmware pulse position/time"));
  outputs.push_back(Output("charge", TARN_INT, "Firmware \"charge\" (MWD)"));
  outputs.push_back(Output("signal", TARN_SHORT_V, "Signal as vector<short>"));
  outputs.push_back(Output("dataV", TARN_DOUBLE_V, "Height and pos as vector"));
  std::cout << name << " instantiated" << std::endl;
}

ChannelPicker::~ChannelPicker() { std::cout << name << " deleted" << std::endl; }

void ChannelPicker::setMnr(void* value) {
  if (value) module = *static_cast<const int*>(value);
}

void ChannelPicker::setCnr(void* value) {
  if (value) channel = *static_cast<const int*>(value);
}

void ChannelPicker::split(void* value) {
  const WaveEvent* e = static_cast<const WaveEvent*>(value);
  if (!e || !e->IsGood()) return;
  if (module != -1 && e->GetModuleNr() != module) return;

  // A copy of the list: receivers run between the channels.
  std::vector<const VFChannel*> picked;
  if (channel >= 0) {
    if (const VFChannel* c = e->GetChannelWithNumber(static_cast<unsigned>(channel)))
      picked.push_back(c);
  } else {
    picked.assign(e->GetChannels().begin(), e->GetChannels().end());
  }

  for (const VFChannel* c : picked) {
    int moduleNr = e->GetModuleNr();
    SendOutput(0, &moduleNr);
    int number = c->GetChannel();
    SendOutput(1, &number);
    double height = c->GetPulseheight();
    SendOutput(2, &height);
    int pos = c->GetPMaxtime();
    SendOutput(3, &pos);
    int charge = c->GetCharge();
    SendOutput(4, &charge);
    // The port carries signed 16-bit lists; the samples are unsigned, so they
    // go out as a list of the port's own type rather than a reinterpreted one.
    const std::vector<unsigned short>& wave = c->GetWaveForm();
    std::vector<short> signal(wave.begin(), wave.end());
    SendOutput(5, &signal);
    std::vector<double> data{height, static_cast<double>(pos)};
    SendOutput(6, &data);
  }
}

TARN_PLUGIN(ChannelPicker)
