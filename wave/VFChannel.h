// One channel of a VF48 readout: the samples of its waveform, the values the
// module computed for it, and the results of the software analysis.
#pragma once

#include <cstdint>
#include <vector>

class VFChannel {
 public:
  VFChannel();                              // channel 255, no samples
  explicit VFChannel(unsigned char number);  // room for 512 samples

  // Channel 255, CFD time and charge 0; samples and other values stay.
  void Clear(const char* option);
  void AddData(unsigned short sample) { waveForm.push_back(sample); }

  void SetCfdTime(unsigned int value) { cfdTime = value; }
  void SetCharge(int value) { charge = value; }
  void SetPulseheight(int value) { pulseheight = value; }
  void SetPMaxtime(int value) { pMaxtime = value; }
  void SetPulsewidth(int value) { pulsewidth = value; }
  void SetHWPedestal(float value) { hwPedestal = value; }

  int16_t GetChannel() const { return channel; }
  uint32_t GetCfdTime() const { return cfdTime; }
  int GetCharge() const { return charge; }
  int GetPMaxtime() const { return pMaxtime; }
  int GetPulsewidth() const { return pulsewidth; }
  float GetHWPedestal() const { return hwPedestal; }
  // The module's pulse height less its pedestal, truncated toward zero.
  int GetPulseheight() const;
  const std::vector<unsigned short>& GetWaveForm() const { return waveForm; }
  const std::vector<uint32_t>& GetWindowSums() const { return windowSums; }

  // Software analysis of the samples; the getters below give its results
  // (0 before the first call).
  void Analyze();
  uint32_t GetIntegral() const { return integral; }
  int GetSignalIntegral() const;
  float GetPedestal() const { return pedestal; }
  uint16_t GetTrigPosition() const { return trigPosition; }
  uint16_t GetMaxPosition() const { return maxPosition; }
  uint16_t GetMaxValue() const { return maxValue; }

  void Print(const char* option) const;

 private:
  uint8_t channel;
  uint32_t cfdTime = 0;
  int32_t charge = 0;
  int32_t pulseheight = 0;
  int32_t pMaxtime = 0;
  int32_t pulsewidth = 0;
  float hwPedestal = 0.0f;
  std::vector<unsigned short> waveForm;
  std::vector<uint32_t> windowSums;
  uint32_t integral = 0;
  float pedestal = 0.0f;
  uint16_t trigPosition = 0;
  uint16_t maxPosition = 0;
  uint16_t maxValue = 0;
};
