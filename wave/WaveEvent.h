// The readout of one VF48 module for one trigger, decoded: event words, time
// stamp, module number and one VFChannel per channel that sent data.
// Events passed between plug-ins are shared by reference count: a new event
// holds one reference for its creator; the last release() deletes it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "VFChannel.h"

class WaveEvent {
 public:
  // Entries of the per-channel result arrays (channel numbers 0 to 119).
  static const unsigned kArrayChannels = 120;

  WaveEvent();
  ~WaveEvent();
  WaveEvent(const WaveEvent&) = delete;
  WaveEvent& operator=(const WaveEvent&) = delete;

  // Deletes the channels and zeroes the event words; the reference count,
  // the per-channel arrays and the decoding state stay.
  void Clear(const char* option);
  // Keeps the pointer (not owned) and the number of 32-bit words.
  void SetData(void* data, int length);
  // Decodes at most `length` words, stopping after a trailer; returns the
  // number of words consumed. The layout is chosen from the module number at
  // the call: set (0 or more) standard, unset (negative) MERIDAX.
  unsigned int DecodeFromData(void* data, int length);
  // The event owns the channel from then on.
  void AddChannel(VFChannel* channel) { channels.push_back(channel); }

  const std::vector<VFChannel*>& GetChannels() const { return channels; }
  // First channel in list order with that number; null when none has it.
  VFChannel* GetChannelWithNumber(unsigned int number) const;

  int GetModuleNr() const { return moduleNr; }
  // Selects the standard layout for the next decode; negative unsets it.
  void SetModuleNr(int number) { moduleNr = number; }
  // timeStamp2 << 24 | timeStamp1: a 48-bit count.
  uint64_t GetTimeStamp() const;
  // Header and trailer trigger agree and no unexpected word was met.
  bool IsGood() const;
  // The header trigger; warns on standard error when the event is not good.
  unsigned int GetTrigger() const;

  void SetHeaderTrigger(unsigned int value) { headerTrigger = value; }
  void SetTrailerTrigger(unsigned int value) { trailerTrigger = value; }
  void SetTimeStamp1(unsigned int value) { timeStamp1 = value; }
  void SetTimeStamp2(unsigned int value) { timeStamp2 = value; }

  unsigned int GetHeaderTrigger() const { return headerTrigger; }
  unsigned int GetTrailerTrigger() const { return trailerTrigger; }
  unsigned int GetTimeStamp1() const { return timeStamp1; }
  unsigned int GetTimeStamp2() const { return timeStamp2; }
  unsigned int GetErrorCount() const { return errorCount; }
  unsigned int GetType15Index() const { return type15Index; }
  int GetDataLength() const { return dataLength; }
  const uint32_t* GetData() const { return data; }
  int GetRefCount() const { return refCount; }

  void retain() { ++refCount; }
  // Gives one reference back; the last one deletes the event.
  void release();

  // Analyses every channel and copies the results of channels 0 to 119 into
  // the per-channel arrays below.
  void Analyze();
  const std::array<uint32_t, kArrayChannels>& GetIntegrals() const { return integrals; }
  const std::array<int32_t, kArrayChannels>& GetSignalIntegrals() const { return signalIntegrals; }
  const std::array<uint16_t, kArrayChannels>& GetTrigPositions() const { return trigPositions; }
  const std::array<uint16_t, kArrayChannels>& GetMaxPositions() const { return maxPositions; }
  const std::array<uint16_t, kArrayChannels>& GetMaxValues() const { return maxValues; }
  const std::array<uint16_t, kArrayChannels>& GetPMaxtimes() const { return pMaxtimes; }
  const std::array<uint16_t, kArrayChannels>& GetPulseheights() const { return pulseheights; }
  const std::array<uint16_t, kArrayChannels>& GetPulsewidths() const { return pulsewidths; }
  const std::array<uint16_t, kArrayChannels>& GetAmplitudes() const { return amplitudes; }

  void Print(const char* option) const;

 private:
  uint32_t headerTrigger = 0;
  uint32_t trailerTrigger = 0;
  uint32_t timeStamp1 = 0;
  uint32_t timeStamp2 = 0;
  uint32_t errorCount = 0;
  int32_t refCount = 1;
  int32_t dataLength = 0;
  VFChannel* currentChannel = nullptr;
  uint8_t channelNumber = 255;
  bool channelPending = true;
  bool stampToggle = true;
  uint32_t type15Index = 0;
  uint8_t wordType = 15;
  const uint32_t* data = nullptr;
  std::vector<VFChannel*> channels;
  int32_t moduleNr = -1;
  std::array<uint32_t, kArrayChannels> integrals{};
  std::array<int32_t, kArrayChannels> signalIntegrals{};
  std::array<uint16_t, kArrayChannels> trigPositions{};
  std::array<uint16_t, kArrayChannels> maxPositions{};
  std::array<uint16_t, kArrayChannels> maxValues{};
  std::array<uint16_t, kArrayChannels> pMaxtimes{};
  std::array<uint16_t, kArrayChannels> pulseheights{};
  std::array<uint16_t, kArrayChannels> pulsewidths{};
  std::array<uint16_t, kArrayChannels> amplitudes{};
};
