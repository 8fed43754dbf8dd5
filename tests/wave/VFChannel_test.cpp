#include "VFChannel.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "TarnTest.h"

namespace {

using Samples = std::vector<unsigned short>;
using Sums = std::vector<uint32_t>;

VFChannel analysed(const Samples& samples) {
  VFChannel c(1);
  for (unsigned short s : samples) c.AddData(s);
  c.Analyze();
  return c;
}

Samples repeated(size_t count, unsigned short value, Samples tail = {}) {
  Samples s(count, value);
  s.insert(s.end(), tail.begin(), tail.end());
  return s;
}

TEST(VFChannelRecord, ConstructionClearAndPulseheight) {
  VFChannel none;
  EXPECT_EQ(none.GetChannel(), 255);
  EXPECT_TRUE(none.GetWaveForm().empty());
  VFChannel c(7);
  EXPECT_EQ(c.GetChannel(), 7);
  EXPECT_GE(c.GetWaveForm().capacity(), 512u);
  EXPECT_EQ(c.GetIntegral() + c.GetTrigPosition() + c.GetMaxValue() + c.GetMaxPosition(), 0u);
  EXPECT_EQ(c.GetPedestal(), 0.0f);

  c.AddData(3);
  c.SetCfdTime(9);
  c.SetCharge(-4);
  c.SetPMaxtime(5);
  c.SetPulsewidth(6);
  c.Clear("");
  EXPECT_EQ(c.GetChannel(), 255);
  EXPECT_EQ(c.GetCfdTime(), 0u);
  EXPECT_EQ(c.GetCharge(), 0);
  EXPECT_EQ(c.GetPMaxtime(), 5);
  EXPECT_EQ(c.GetPulsewidth(), 6);
  EXPECT_EQ(c.GetWaveForm(), Samples{3});

  // Pulse height less pedestal, truncated toward zero either way.
  const std::vector<std::tuple<int, float, int>> heights = {
      {42, 64.0f, -22},
      {100, 0.7f, 99},
      {10, 10.5f, 0},
      {10, 12.9f, -2},
      // Past the range of an int: the nearest one, never undefined.
      {INT_MAX, -1e10f, INT_MAX},
      {INT_MIN, 1e10f, INT_MIN},
      {5, NAN, 0}};
  for (const auto& [height, pedestal, expected] : heights) {
    c.SetPulseheight(height);
    c.SetHWPedestal(pedestal);
    EXPECT_EQ(c.GetPulseheight(), expected) << height << " " << pedestal;
  }
}

TEST(VFChannelAnalysis, PedestalIntegralMaximumAndMovingSums) {
  VFChannel c = analysed({100, 104, 98});
  EXPECT_EQ(c.GetPedestal(), 100.0f);
  EXPECT_EQ(c.GetIntegral(), 302u);
  EXPECT_EQ(c.GetMaxValue(), 104u);
  EXPECT_EQ(c.GetMaxPosition(), 1u);
  EXPECT_EQ(c.GetTrigPosition(), 0u);
  EXPECT_EQ(c.GetSignalIntegral(), 2);
  EXPECT_EQ(c.GetWindowSums(), (Sums{100, 204, 302}));

  // A second analysis starts over instead of adding to the first.
  c.Analyze();
  EXPECT_EQ(c.GetIntegral(), 302u);
  EXPECT_EQ(c.GetWindowSums().size(), 3u);

  VFChannel flat = analysed(repeated(10, 100));
  EXPECT_EQ(flat.GetMaxPosition(), 0u);  // the first maximum wins
  EXPECT_EQ(flat.GetSignalIntegral(), 0);
  EXPECT_EQ(flat.GetTrigPosition(), 0u);

  // The pedestal is a running average: the 20th sample weighs half.
  VFChannel step = analysed(repeated(19, 0, {40, 1000}));
  EXPECT_EQ(step.GetPedestal(), 20.0f);
  EXPECT_EQ(step.GetMaxPosition(), 20u);

  Samples ramp;
  for (unsigned short s = 1; s <= 60; ++s) ramp.push_back(s);
  VFChannel r = analysed(ramp);
  EXPECT_NEAR(r.GetPedestal(), 19.0f, 1e-4);
  EXPECT_EQ(r.GetTrigPosition(), 37u);
  ASSERT_EQ(r.GetWindowSums().size(), 60u);
  EXPECT_EQ(r.GetWindowSums()[48], 1225u);  // 1 + ... + 49
  EXPECT_EQ(r.GetWindowSums()[49], 1275u);  // 1 + ... + 50
  EXPECT_EQ(r.GetWindowSums()[50], 1325u);  // 2 + ... + 51
  EXPECT_EQ(r.GetWindowSums()[59], 1775u);  // 11 + ... + 60

  VFChannel empty = analysed({});
  EXPECT_EQ(empty.GetIntegral() + empty.GetMaxValue() + empty.GetTrigPosition(), 0u);
  EXPECT_EQ(empty.GetSignalIntegral(), 0);
  EXPECT_TRUE(empty.GetWindowSums().empty());
}

TEST(VFChannelAnalysis, PulseStart) {
  VFChannel c = analysed(repeated(21, 100, {125, 200, 400, 300, 300, 300, 300, 300, 300}));
  EXPECT_EQ(c.GetTrigPosition(), 21u);  // 21.5 - 50 / 375
  EXPECT_EQ(c.GetMaxValue(), 400u);
  EXPECT_EQ(c.GetMaxPosition(), 23u);
  EXPECT_EQ(c.GetIntegral(), 4625u);
  EXPECT_EQ(c.GetSignalIntegral(), 1625);

  // Exactly 20 above the pedestal is no pulse; the next sample then starts it.
  EXPECT_EQ(analysed(repeated(21, 100, {120, 200, 300})).GetTrigPosition(), 0u);
  EXPECT_EQ(analysed(repeated(21, 100, {120, 130, 200, 300})).GetTrigPosition(),
            static_cast<uint16_t>(0.5 + (22 + (30 * -2.0) / (300 - 30))));
  // A start formula below zero wraps to the low 16 bits.
  EXPECT_EQ(analysed(repeated(21, 100, {130, 100, 31})).GetTrigPosition(),
            static_cast<uint16_t>(-38));  // 21.5 - 60 / 1
  // A sample equal to the start amplitude would divide by zero: 0.
  EXPECT_EQ(analysed(repeated(21, 100, {130, 100, 30})).GetTrigPosition(), 0u);
  // Found too late to look two samples on.
  EXPECT_EQ(analysed(repeated(21, 100, {130})).GetTrigPosition(), 0u);
  EXPECT_EQ(analysed(repeated(21, 100, {130, 150})).GetTrigPosition(), 0u);
}

TEST(VFChannelAnalysis, WaveformsLongerThanSixteenBitPositions) {
  // Positions past 65535 cannot be stored: they are not searched, but every
  // sample still counts in the sums, and the analysis ends.
  Samples s = repeated(70000, 1);
  s[69000] = 500;
  VFChannel c = analysed(s);
  EXPECT_EQ(c.GetIntegral(), 70000u - 1 + 500);
  EXPECT_EQ(c.GetMaxValue(), 1u);
  EXPECT_EQ(c.GetMaxPosition(), 0u);
  EXPECT_EQ(c.GetTrigPosition(), 0u);
  ASSERT_EQ(c.GetWindowSums().size(), 70000u);
  EXPECT_EQ(c.GetWindowSums()[69000], 49u + 500);
  EXPECT_EQ(c.GetWindowSums()[69049], 49u + 500);
  EXPECT_EQ(c.GetWindowSums()[69050], 50u);
  EXPECT_EQ(c.GetSignalIntegral(), 499);
}

std::string printed(const VFChannel& c, const char* option) {
  tarntest::CapturedStdout out;
  c.Print(option);
  return out.text();
}

TEST(VFChannelPrint, HeaderLinesAndWaveForm) {
  VFChannel c(255);
  c.SetCfdTime(4000000000u);
  c.SetCharge(-3);
  const std::string header = "VFChannel:\nChannel:  255\nCFD-time: 4000000000\nCharge:   -3\n";
  EXPECT_EQ(printed(c, "a"), header);  // no samples, no wave-form
  for (unsigned short s = 0; s < 23; ++s) c.AddData(s == 22 ? 0x3FFF : s);
  EXPECT_EQ(printed(c, ""), header);
  EXPECT_EQ(printed(c, "c"), header);
  EXPECT_EQ(printed(c, "a"), header +
                                 "Wave-form:\n"
                                 "     0    0x1    0x2    0x3    0x4    0x5    0x6    0x7    0x8 "
                                 "   0x9    0xa \n"
                                 "   0xb    0xc    0xd    0xe    0xf   0x10   0x11   0x12   0x13 "
                                 "  0x14   0x15 \n"
                                 "0x3fff \n");
}

}  // namespace
