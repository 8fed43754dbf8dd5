// Stand-in for the producer of VF48 events: decodes the VF48 banks of each
// MIDAS event into WaveEvents, analyses them, sends each on "vf_event" and
// then, for the time aligner, a strand event with the module's channels and
// hit times.
//
// Banks: "VF" and two decimal digits hold one module in the standard layout,
// the digits giving its module number; "VM" and two digits hold one module in
// the MERIDAX layout, whose channel headers carry the module number.
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "BankWalk.h"
#include "Plugin.h"
#include "StrandEvent.h"
#include "TMidasEvent.h"
#include "TarnBase.h"
#include "WaveEvent.h"

namespace {

// Global channel numbers hold 48 channels per module; a higher channel would
// read as a channel of the next module.
const int kModuleChannels = 48;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The first sample at or above half the pulse's height over the software
// pedestal; false when the channel has no pulse (the analysis' threshold of
// 20 over the pedestal).
bool halfHeightTime(const VFChannel& c, uint64_t* time) {
  const float height = float(c.GetMaxValue()) - c.GetPedestal();
  if (!(height > 20.0f)) return false;
  const float half = c.GetPedestal() + height / 2.0f;
  const std::vector<unsigned short>& w = c.GetWaveForm();
  for (size_t i = 0; i <= c.GetMaxPosition() && i < w.size(); ++i)
    if (float(w[i]) >= half) {
      *time = i;
      return true;
    }
  return false;
}

}  // namespace

class WaveDecoder : public TarnBase {
 public:
  explicit WaveDecoder(std::string& n) : TarnBase(nullptr, "NoName") {
    name = n;
    description = "Decode VF48 banks (VFnn, MERIDAX VMnn) into WaveEvents";
    inputs.push_back(Input("event", static_cast<Handler>(&WaveDecoder::decode), TARN_OBJECT,
                           "Midas event from LiveSource or -File"));
    outputs.push_back(Output("vf_event", TARN_OBJECT, "WaveEvent, one per VF48 bank"));
    outputs.push_back(
        Output("fevent", TARN_STRANDEVENT, "Channels and hit times of each WaveEvent"));
    std::cout << name << " instantiated" << std::endl;
  }

  ~WaveDecoder() override { std::cout << name << " deleted" << std::endl; }

  void Init() override {
    event["Channel"] = StrandProperty(TARN_SHORT_V, StrandBinning(768.0, 0.0, 768), &channels);
    event["Time"] = StrandProperty(TARN_UINT64_V, StrandBinning(4096.0, 0.0, 4096), &times);
    event["WFTime"] = StrandProperty(TARN_UINT64_V, StrandBinning(4096.0, 0.0, 4096), &wfTimes);
    event["WFCFDTime"] =
        StrandProperty(TARN_UINT64_V, StrandBinning(4096.0, 0.0, 4096), &cfdTimes);
    event["Timerange"] =
        StrandProperty(TARN_UINT64_V, StrandBinning(281474976710656.0, 0.0, 1000), &range);
    event.SetBinnings();
  }

  void decode(void* v) {
    if (!v) return;
    forEachBank(*static_cast<TMidasEvent*>(v),
                [&](const char* bank, uint32_t, const char* data, uint32_t size) {
                  if ((bank[0] != 'V' || (bank[1] != 'F' && bank[1] != 'M')) ||
                      !isDigit(bank[2]) || !isDigit(bank[3]))
                    return;
                  decodeBank(std::string(bank, 4), data, size);
                });
  }

 private:
  void report(const std::string& bank, const std::string& what) {
    std::cout << name << ": bank " << bank << ": " << what << std::endl;
  }

  void decodeBank(const std::string& bank, const char* data, uint32_t size) {
    // Only whole words are decoded, from a copy: the bank may end in part of
    // a word and need not be 4-byte aligned.
    const uint32_t n = size / 4;
    if (size % 4)
      report(bank, std::to_string(size) + " bytes, the last " + std::to_string(size % 4) +
                       " are not a whole word and are ignored");
    words.resize(n);
    if (n) std::memcpy(words.data(), data, size_t(n) * 4);

    WaveEvent* e = new WaveEvent;
    if (bank[1] == 'F') e->SetModuleNr((bank[2] - '0') * 10 + (bank[3] - '0'));
    const unsigned used = n ? e->DecodeFromData(words.data(), int(n)) : 0;
    // Without its header first and its trailer last the event's triggers are
    // not known: both could read 0 and the event would pass as good.
    if (n == 0 || words[0] >> 28 != 0x8 || used == 0 || words[used - 1] >> 28 != 0xE) {
      report(bank, "no complete event (header first, trailer last), not sent");
      e->release();
      return;
    }
    if (used < n) report(bank, std::to_string(n - used) + " words after the trailer ignored");
    e->Analyze();
    const bool good = e->IsGood();
    if (!good)
      report(bank, "bad event: " + std::to_string(e->GetErrorCount()) +
                       " unexpected words, triggers " + std::to_string(e->GetHeaderTrigger()) +
                       " and " + std::to_string(e->GetTrailerTrigger()));
    const bool known = good && fill(*e);
    SendOutput(0, e);
    e->release();
    if (known) {
      SendOutput(1, &event);
      event.Reset();
    }
  }

  // The strand event's lists for a good event; false when its module is not
  // known (a MERIDAX bank without a module in its channel headers).
  bool fill(const WaveEvent& e) {
    channels.clear();
    times.clear();
    wfTimes.clear();
    cfdTimes.clear();
    range.clear();
    const int module = e.GetModuleNr();
    if (module < 0) return false;
    size_t longest = 0;
    for (const VFChannel* c : e.GetChannels()) {
      const size_t samples = c->GetWaveForm().size();
      if (samples > longest) longest = samples;
      if (c->GetChannel() >= kModuleChannels) continue;
      channels.push_back(static_cast<short>(module * kModuleChannels + c->GetChannel()));
      // A time of 0 is none: no CFD word, or no pulse found.
      if (c->GetCfdTime() != 0) times.push_back(c->GetCfdTime());
      if (c->GetTrigPosition() != 0 && c->GetTrigPosition() < samples)
        wfTimes.push_back(c->GetTrigPosition());
      uint64_t t = 0;
      if (halfHeightTime(*c, &t)) cfdTimes.push_back(t);
    }
    range.push_back(e.GetTimeStamp());
    range.push_back(e.GetTimeStamp() + longest);
    return true;
  }

  StrandEvent event;
  std::vector<short> channels;   // "Channel": module * 48 + channel
  std::vector<uint64_t> times;   // "Time": the module's CFD times
  std::vector<uint64_t> wfTimes;  // "WFTime": software start of pulse
  std::vector<uint64_t> cfdTimes;  // "WFCFDTime": software half-height time
  std::vector<uint64_t> range;   // "Timerange": time stamp, time stamp + samples
  std::vector<uint32_t> words;   // the bank being decoded
};

TARN_PLUGIN(WaveDecoder)
