#include "VFChannel.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "WaveNumbers.h"

namespace {

const unsigned kPedestalSamples = 20;  // samples 0 to 19 form the pedestal
const uint16_t kWindow = 50;           // length of the moving sums
const float kPulseThreshold = 20.0f;   // above the pedestal: a pulse starts
const float kPedestalDivisor = 2.0f;
const double kStartFactor = -2.0;
const double kRounding = 0.5;
// Positions are stored in 16 bits; samples past the last position that fits
// still count in the sums but are not searched for the pulse or the maximum.
const size_t kLastPosition = std::numeric_limits<uint16_t>::max();

}  // namespace

VFChannel::VFChannel() : channel(255) {}

VFChannel::VFChannel(unsigned char number) : channel(number) {
  waveForm.reserve(512);
}

void VFChannel::Clear(const char* /*option*/) {
  channel = 255;
  cfdTime = 0;
  charge = 0;
}

int VFChannel::GetPulseheight() const {
  return wavenum::truncToInt32(static_cast<float>(pulseheight) - hwPedestal);
}

int VFChannel::GetSignalIntegral() const {
  const float product = static_cast<float>(waveForm.size()) * pedestal;
  // Modulo 2^32, as the 32-bit integral itself.
  const uint32_t pedestalSum = static_cast<uint32_t>(wavenum::truncToInt64(product));
  return static_cast<int32_t>(integral - pedestalSum);
}

void VFChannel::Analyze() {
  integral = 0;
  pedestal = 0.0f;
  trigPosition = 0;
  maxPosition = 0;
  maxValue = 0;
  windowSums.clear();
  windowSums.reserve(waveForm.size());

  uint16_t start = 0;  // 0: no pulse found yet
  double amp = 0.0;
  uint32_t windowSum = 0;
  for (size_t i = 0; i < waveForm.size(); ++i) {
    const unsigned short s = waveForm[i];
    const float sample = static_cast<float>(s);

    if (i == 0)
      pedestal = sample;
    else if (i < kPedestalSamples)
      pedestal = (pedestal + sample) / kPedestalDivisor;

    if (i <= kLastPosition) {
      const float above = sample - pedestal;
      if (start == 0 && above > kPulseThreshold) {
        start = static_cast<uint16_t>(i);
        amp = above;
      } else if (start != 0 && i == static_cast<size_t>(start) + 2) {
        const double divisor = s - amp;
        trigPosition = divisor == 0.0 ? 0
                                      : static_cast<uint16_t>(wavenum::truncToInt32(
                                            kRounding + (start + (amp * kStartFactor) / divisor)));
      }
      if (s > maxValue) {
        maxValue = s;
        maxPosition = static_cast<uint16_t>(i);
      }
    }

    integral += s;
    // The sum of the last kWindow samples (all of them for the first ones).
    windowSum += s;
    if (i >= kWindow) windowSum -= waveForm[i - kWindow];
    windowSums.push_back(windowSum);
  }
}

void VFChannel::Print(const char* option) const {
  std::printf("VFChannel:\n");
  std::printf("Channel:  %u\n", static_cast<unsigned>(channel));
  std::printf("CFD-time: %u\n", static_cast<unsigned>(cfdTime));
  std::printf("Charge:   %d\n", static_cast<int>(charge));
  if (option == nullptr || option[0] != 'a' || waveForm.empty()) return;
  std::printf("Wave-form:\n");
  for (size_t i = 0; i < waveForm.size(); ++i) {
    std::printf("%#6x ", static_cast<unsigned>(waveForm[i]));
    if (i % 11 == 10) std::printf("\n");
  }
  std::printf("\n");
}
