#include "WaveEvent.h"

#include <cstdio>
#include <iostream>

#include "WaveNumbers.h"

namespace {

enum WordType : uint8_t {
  kSamples = 0x0,
  kCfdTime = 0x4,
  kCharge = 0x5,
  kHeader = 0x8,
  kTimeStamp = 0xA,
  kFiller = 0xB,
  kChannelHeader = 0xC,
  kTrailer = 0xE,
  kType15 = 0xF,
};

const uint32_t k24Bits = 0xFFFFFF;

// Channel label of the MERIDAX layout: two decimal digits in bits 6..0,
// plus 60 when bit 7 is set.
uint8_t meridaxChannel(uint32_t word) {
  uint8_t c = static_cast<uint8_t>(word & 0xFF);
  if (c >= 0x80) c = static_cast<uint8_t>(c - 0x20);
  return static_cast<uint8_t>(c - 6 * (c >> 4));
}

uint16_t low16(int32_t value) {
  return static_cast<uint16_t>(value);
}

}  // namespace

WaveEvent::WaveEvent() {
  Clear("");
}

WaveEvent::~WaveEvent() {
  Clear("");
}

void WaveEvent::Clear(const char* /*option*/) {
  for (VFChannel* channel : channels) delete channel;
  channels.clear();
  // The current channel was one of those just deleted: the next data word
  // opens a new one instead of writing into freed memory.
  currentChannel = nullptr;
  headerTrigger = 0;
  trailerTrigger = 0;
  errorCount = 0;
  timeStamp1 = 0;
  timeStamp2 = 0;
  dataLength = 0;
  data = nullptr;
  moduleNr = -1;
  channelNumber = 255;
}

void WaveEvent::SetData(void* words, int length) {
  data = static_cast<const uint32_t*>(words);
  // A count that cannot be read (no words, or a negative count) is kept as
  // 0, so that readers of GetData() never walk past what was given.
  dataLength = data != nullptr && length > 0 ? length : 0;
}

unsigned int WaveEvent::DecodeFromData(void* words, int length) {
  SetData(words, length);
  const bool standard = moduleNr >= 0;
  unsigned int index = 0;
  const unsigned int end = static_cast<unsigned int>(dataLength);
  for (; index < end && wordType != kTrailer; ++index) {
    const uint32_t w = data[index];
    wordType = static_cast<uint8_t>(w >> 28);

    if (wordType == kSamples || wordType == kCfdTime || wordType == kCharge) {
      if (channelPending || currentChannel == nullptr) {
        currentChannel = new VFChannel(channelNumber);
        AddChannel(currentChannel);
        channelPending = false;
      }
    }

    switch (wordType) {
      case kSamples:
        if (standard) {
          currentChannel->AddData(static_cast<unsigned short>(w & 0x3FF));
          currentChannel->AddData(static_cast<unsigned short>((w >> 16) & 0x3FF));
        } else {
          currentChannel->AddData(static_cast<unsigned short>(w & 0x3FFF));
          currentChannel->AddData(static_cast<unsigned short>((w >> 14) & 0x3FFF));
        }
        break;
      case kCfdTime: currentChannel->SetCfdTime(w & k24Bits); break;
      case kCharge:
        if (!standard) {
          currentChannel->SetCharge(static_cast<int>(w & 0xFFFF));
          break;
        }
        {
          const uint32_t v = w & k24Bits;
          switch ((w >> 24) & 0xF) {
            case 0: currentChannel->SetCharge(static_cast<int>(v)); break;
            case 1:
              currentChannel->SetPMaxtime(static_cast<int>(v & 0x3FF));
              currentChannel->SetPulseheight(static_cast<int>((v >> 10) & 0x3FFF));
              break;
            case 2:
              currentChannel->SetPulsewidth(static_cast<int>(v & 0xFFF));
              currentChannel->SetHWPedestal(static_cast<float>(((v >> 12) & 0xFFF) * 4 / 14));
              break;
            default: break;  // carries nothing we keep
          }
        }
        break;
      case kHeader:
        headerTrigger = w & k24Bits;
        if (index != 0) ++errorCount;
        break;
      case kTimeStamp:
        if (stampToggle)
          timeStamp1 = w & k24Bits;
        else
          timeStamp2 = w & k24Bits;
        stampToggle = !stampToggle;
        break;
      case kFiller: break;
      case kChannelHeader:
        if (standard) {
          channelNumber = static_cast<uint8_t>(((w >> 4) & 7) * 8 + (w & 0xF));
        } else {
          moduleNr = static_cast<int32_t>((w & 0xFF00) >> 8) - 1;
          channelNumber = meridaxChannel(w);
        }
        channelPending = true;
        break;
      case kTrailer: trailerTrigger = w & k24Bits; break;
      case kType15:
        if (errorCount == 0) type15Index = index;
        ++errorCount;
        break;
      default: ++errorCount; break;
    }
  }
  return index;
}

VFChannel* WaveEvent::GetChannelWithNumber(unsigned int number) const {
  for (VFChannel* channel : channels)
    if (static_cast<unsigned int>(channel->GetChannel()) == number) return channel;
  return nullptr;
}

uint64_t WaveEvent::GetTimeStamp() const {
  return static_cast<uint64_t>(timeStamp2) << 24 | static_cast<uint64_t>(timeStamp1);
}

bool WaveEvent::IsGood() const {
  return headerTrigger == trailerTrigger && errorCount == 0;
}

unsigned int WaveEvent::GetTrigger() const {
  if (!IsGood()) std::cerr << "GetTrigger: WARNING - bad trigger number" << std::endl;
  return headerTrigger;
}

void WaveEvent::release() {
  if (--refCount <= 0) delete this;
}

void WaveEvent::Analyze() {
  for (VFChannel* channel : channels) {
    const int n = channel->GetChannel();
    channel->Analyze();
    if (n < 0 || static_cast<unsigned>(n) >= kArrayChannels) {
      std::printf("WaveEvent: Channel # >= 120. Not stored in Array; use the VFChannel.\n");
      continue;
    }
    integrals[n] = channel->GetIntegral();
    signalIntegrals[n] = channel->GetSignalIntegral();
    trigPositions[n] = channel->GetTrigPosition();
    maxPositions[n] = channel->GetMaxPosition();
    maxValues[n] = channel->GetMaxValue();
    pMaxtimes[n] = low16(channel->GetPMaxtime());
    pulseheights[n] = low16(channel->GetPulseheight());
    pulsewidths[n] = low16(channel->GetPulsewidth());
    const double above = static_cast<float>(channel->GetMaxValue()) - channel->GetPedestal();
    amplitudes[n] = low16(wavenum::truncToInt32(0.5 + above));
  }
}

void WaveEvent::Print(const char* option) const {
  std::printf("WaveEvent:\n");
  std::printf("Header trigger:  %u\n", static_cast<unsigned>(headerTrigger));
  std::printf("Trailer trigger: %u\n", static_cast<unsigned>(trailerTrigger));
  std::printf("Time-stamp 1:    %10u\n", static_cast<unsigned>(timeStamp1));
  std::printf("Time-stamp 2:    %10u\n", static_cast<unsigned>(timeStamp2));
  std::printf("Module # :    %d\n", static_cast<int>(moduleNr));
  const char first = option != nullptr ? option[0] : '\0';
  if ((first != 'a' && first != 'c') || channels.empty()) return;
  std::printf("Channels:        %u\n", static_cast<unsigned>(channels.size()));
  for (const VFChannel* channel : channels) channel->Print(first == 'a' ? option : "");
}
