// Unpacks the module banks of one set-up ("IO32", "TDC0", "ADC0", "MADC") from
// each MIDAS event into one strand event, pairs each ADC datum with a TDC time
// of its channel, and spreads the IO32 ADC time stamps over the ADC channels.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "BankLookup.h"
#include "Io32Bank.h"
#include "StrandEvent.h"
#include "TarnBase.h"

class TMidasEvent;

class CompositeUnpacker : public TarnBase {
 public:
  explicit CompositeUnpacker(std::string& name);
  ~CompositeUnpacker() override;

  void Init() override;

  // Handlers.
  void setStrandEvent(void* event);  // StrandEvent*: fill that event from now on
  void decode(void* event);          // TMidasEvent*

  // One module bank each: 0 when decoded, 1 when the bank is missing (or,
  // for IO32, shorter than three words). A missing bank changes nothing.
  int decodeIO32(TMidasEvent* event);
  int decodeV785(TMidasEvent* event);
  int decodeV1190(TMidasEvent* event);
  int decodeMDI2(TMidasEvent* event);

  static constexpr int kAdcChannels = 32;
  static constexpr int kTdcChannels = 128;

 private:
  void registerProperty(const std::string& property, tarn_type type, const StrandBinning& binning,
                        void* value);
  // The steps of the decode* functions on a bank already looked up.
  int unpackIO32(const BankWords& bank);
  int unpackV785(const BankWords& bank);
  int unpackV1190(const BankWords& bank);
  int unpackMDI2(const BankWords& bank);
  void matchAdcWithTdc();
  void spreadAdcTimes();

  StrandEvent* strandEvent;  // our own, or one adopted from "StrandEvent"
  StrandEvent* ownEvent;

  io32::Contents io32;

  std::vector<int16_t> tdcChannel, tdcTime;
  // Counts per channel. Wider than the lists' 16 bits so that a huge bank
  // cannot wrap them and make matching disagree with the lists.
  std::array<uint32_t, kTdcChannels> tdcCount{};

  std::vector<int16_t> adcChannel, adcValue;
  std::array<uint32_t, kAdcChannels> adcCount{};

  std::vector<int16_t> madcBus, madcSample, madcValue;
  std::vector<int16_t> madcOverflow;  // per sample number, since construction

  std::vector<int16_t> tdcMatched;  // one per ADC datum
  std::vector<int32_t> adcTimeMatched;

  // VF48 lists: shown, never filled here.
  std::vector<int16_t> vfModuleIndex, vfChannel, vfTime, vfPulseheight, vfCharge, vfWidth;
  std::vector<std::vector<int16_t>> vfSignal;
  std::vector<float> vfPedestal;
  std::vector<uint64_t> vfTimestamps;
};
