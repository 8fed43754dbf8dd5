#include "WaveEvent.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "TarnTest.h"

// Records what is freed, so that the tests can see release() delete an event.
// operator new is replaced too, so that every block freed here came from
// malloc: a sanitizer's own operator new must not meet this free().
static const void* lastFreed = nullptr;
__attribute__((noinline)) void* operator new(std::size_t n) {
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
// Not inlined: the compiler would see free() meet the built-in new and warn.
__attribute__((noinline)) void operator delete(void* p) noexcept {
  lastFreed = p;
  std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept {
  lastFreed = p;
  std::free(p);
}

namespace {

using Words = std::vector<uint32_t>;
using Samples = std::vector<unsigned short>;

// Decodes the first `length` of `words` (all of them by default) on `e`,
// from a buffer of exactly their size.
unsigned decode(WaveEvent& e, Words words, int length) {
  return e.DecodeFromData(words.data(), length);
}
unsigned decode(WaveEvent& e, const Words& words) {
  return decode(e, words, static_cast<int>(words.size()));
}

WaveEvent* standardEvent(const Words& words) {
  auto* e = new WaveEvent;
  e->SetModuleNr(0);
  decode(*e, words);
  return e;
}

std::string printed(const WaveEvent& e, const char* option) {
  tarntest::CapturedStdout out;
  e.Print(option);
  return out.text();
}

std::string triggerWarning(const WaveEvent& e, unsigned expected) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(e.GetTrigger(), expected);
  return testing::internal::GetCapturedStderr();
}

const std::string kWarning = "GetTrigger: WARNING - bad trigger number\n";

TEST(WaveEventDecode, StandardLayoutEvent) {
  WaveEvent e;
  e.SetModuleNr(0);
  const Words words = {0x80000005, 0xA0000010, 0xA0000002, 0xC0000013, 0x00250123, 0xE0000005};
  EXPECT_EQ(e.DecodeFromData(const_cast<uint32_t*>(words.data()), 6), 6u);
  ASSERT_EQ(e.GetChannels().size(), 1u);
  const VFChannel* c = e.GetChannels()[0];
  EXPECT_EQ(c->GetChannel(), 11);
  EXPECT_EQ(c->GetWaveForm(), (Samples{0x123, 0x025}));
  EXPECT_EQ(e.GetTimeStamp(), 0x2000010u);
  EXPECT_EQ(e.GetHeaderTrigger(), 5u);
  EXPECT_EQ(e.GetTrailerTrigger(), 5u);
  EXPECT_TRUE(e.IsGood());
  EXPECT_EQ(triggerWarning(e, 5), "");
  EXPECT_EQ(e.GetModuleNr(), 0);
  EXPECT_EQ(e.GetDataLength(), 6);
  EXPECT_EQ(e.GetData(), words.data());
  EXPECT_EQ(e.GetChannelWithNumber(11), c);
  EXPECT_EQ(e.GetChannelWithNumber(12), nullptr);
}

TEST(WaveEventDecode, StandardChargeCfdAndChannelWords) {
  std::unique_ptr<WaveEvent> e(standardEvent({0xC0000072, 0x50123456, 0x4ABCDEF1, 0x5100A814,
                                              0x520E0064, 0x53000001, 0xC000007F, 0x53000001}));
  ASSERT_EQ(e->GetChannels().size(), 2u);
  const VFChannel* c = e->GetChannels()[0];
  EXPECT_EQ(c->GetChannel(), 7 * 8 + 2);
  EXPECT_EQ(c->GetCharge(), 0x123456);
  EXPECT_EQ(c->GetCfdTime(), 0xBCDEF1u);
  EXPECT_EQ(c->GetPMaxtime(), 20);
  EXPECT_EQ(c->GetPulsewidth(), 100);
  EXPECT_EQ(c->GetHWPedestal(), 64.0f);
  EXPECT_EQ(c->GetPulseheight(), 42 - 64);
  // A sub-type that carries nothing still opens the pending channel.
  EXPECT_EQ(e->GetChannels()[1]->GetChannel(), 7 * 8 + 15);
  EXPECT_EQ(e->GetChannels()[1]->GetCharge(), 0);
  EXPECT_EQ(e->GetErrorCount(), 0u);

  // (0xFFE * 4) / 14 = 1169 in whole numbers, not 1169.714.
  std::unique_ptr<WaveEvent> p(standardEvent({0x52FFE000}));
  EXPECT_EQ(p->GetChannels()[0]->GetHWPedestal(), 1169.0f);
}

TEST(WaveEventDecode, MeridaxLayout) {
  WaveEvent e;  // module number unset
  EXPECT_EQ(decode(e, {0x80000007, 0xC0000395, 0x00250123, 0x5F12ABCD, 0xE0000007}), 5u);
  EXPECT_EQ(e.GetModuleNr(), 2);
  ASSERT_EQ(e.GetChannels().size(), 1u);
  const VFChannel* c = e.GetChannels()[0];
  EXPECT_EQ(c->GetChannel(), 75);
  // The module number set by the channel header does not switch the layout.
  EXPECT_EQ(c->GetWaveForm(), (Samples{0x123, 0x94}));
  EXPECT_EQ(c->GetCharge(), 0xABCD);
  EXPECT_EQ(c->GetPMaxtime(), 0);
  EXPECT_TRUE(e.IsGood());

  const std::vector<std::pair<uint32_t, int>> labels = {
      {0x00, 0}, {0x37, 37}, {0x59, 59}, {0x80, 60}, {0x95, 75}, {0xD9, 119}, {0xFF, 145}};
  for (const auto& [label, number] : labels) {
    WaveEvent m;
    decode(m, {0xC0000000 | label, 0x00000000});
    ASSERT_EQ(m.GetChannels().size(), 1u);
    EXPECT_EQ(m.GetChannels()[0]->GetChannel(), number) << std::hex << label;
    EXPECT_EQ(m.GetModuleNr(), -1);  // module bits 0 give -1
  }
}

TEST(WaveEventDecode, ErrorsAndSkippedWords) {
  WaveEvent e;
  e.SetModuleNr(0);
  EXPECT_EQ(decode(e, {0x80000001, 0xB0000000, 0xA0000003, 0x80000009, 0xF0000000, 0x10000000,
                       0x20000000, 0x30000000, 0x60000000, 0x70000000, 0x90000000, 0xD0000000,
                       0xF0000000, 0xE0000001}),
            14u);
  // The late header replaces the trigger and counts; type 0xB does not count.
  EXPECT_EQ(e.GetHeaderTrigger(), 9u);
  EXPECT_EQ(e.GetErrorCount(), 10u);
  EXPECT_EQ(e.GetType15Index(), 0u);  // errors came before the first type-15 word
  EXPECT_FALSE(e.IsGood());
  EXPECT_EQ(triggerWarning(e, 9), kWarning);
  EXPECT_TRUE(e.GetChannels().empty());

  WaveEvent f;
  decode(f, {0x80000002, 0xA0000001, 0xF0000000, 0xF0000000});
  EXPECT_EQ(f.GetType15Index(), 2u);
  EXPECT_EQ(f.GetErrorCount(), 2u);
  // No trailer: the trailer trigger stays 0, so only a zero header is good.
  EXPECT_EQ(f.GetTrailerTrigger(), 0u);
  WaveEvent g;
  decode(g, {0x80000000, 0xA0000001});
  EXPECT_TRUE(g.IsGood());
}

TEST(WaveEventDecode, TrailerEndsTheCallAndLengthBoundsIt) {
  WaveEvent e;
  e.SetModuleNr(0);
  EXPECT_EQ(decode(e, {0x80000004, 0xC0000001, 0x00020001, 0xE0000004, 0x00040003, 0x80000099,
                       0xE0000099}),
            4u);
  EXPECT_EQ(e.GetChannels()[0]->GetWaveForm(), (Samples{1, 2}));
  EXPECT_EQ(e.GetHeaderTrigger(), 4u);
  EXPECT_EQ(e.GetTrailerTrigger(), 4u);
  EXPECT_EQ(e.GetErrorCount(), 0u);

  WaveEvent shortLength;
  shortLength.SetModuleNr(0);
  EXPECT_EQ(decode(shortLength, {0x00020001, 0x10000000, 0xE0000004}, 1), 1u);
  EXPECT_EQ(shortLength.GetErrorCount(), 0u);
  EXPECT_EQ(shortLength.GetTrailerTrigger(), 0u);

  // Nothing to read: nothing decoded, and no length that cannot be read is kept.
  for (int length : {0, -1, -1000}) {
    WaveEvent none;
    EXPECT_EQ(decode(none, {0x00020001, 0xE0000004}, length), 0u);
    EXPECT_TRUE(none.GetChannels().empty());
    EXPECT_EQ(none.GetDataLength(), 0);
  }
  WaveEvent null;
  EXPECT_EQ(null.DecodeFromData(nullptr, 8), 0u);
  EXPECT_TRUE(null.GetChannels().empty());
  EXPECT_EQ(null.GetDataLength(), 0);
  null.SetData(nullptr, 3);
  EXPECT_EQ(null.GetDataLength(), 0);
}

TEST(WaveEventDecode, ChannelsOpenOnTheirFirstDataWord) {
  std::unique_ptr<WaveEvent> e(standardEvent(
      {0x000B000A, 0xC0000001, 0xC0000002, 0x40000005, 0xC0000003, 0xC0000002, 0x00000001}));
  std::vector<int> numbers;
  for (const VFChannel* c : e->GetChannels()) numbers.push_back(c->GetChannel());
  // Data before any header go to channel 255; header 1 has no data; 2 repeats.
  EXPECT_EQ(numbers, (std::vector<int>{255, 2, 2}));
  EXPECT_EQ(e->GetChannels()[0]->GetWaveForm(), (Samples{10, 11}));
  EXPECT_EQ(e->GetChannelWithNumber(2), e->GetChannels()[1]);
  EXPECT_EQ(e->GetChannelWithNumber(2)->GetCfdTime(), 5u);
  EXPECT_EQ(e->GetChannelWithNumber(255), e->GetChannels()[0]);
  EXPECT_EQ(e->GetChannelWithNumber(1), nullptr);
  EXPECT_EQ(e->GetChannelWithNumber(256 + 2), nullptr);
}

TEST(WaveEventState, ClearKeepsArraysAndNeverWritesIntoDeletedChannels) {
  WaveEvent e;
  e.SetModuleNr(0);
  decode(e, {0x80000003, 0xA0000001, 0xC0000004, 0x00640064});  // no trailer
  e.Analyze();
  e.retain();
  e.Clear("");
  EXPECT_TRUE(e.GetChannels().empty());
  EXPECT_EQ(e.GetHeaderTrigger(), 0u);
  EXPECT_EQ(e.GetTimeStamp(), 0u);
  EXPECT_EQ(e.GetModuleNr(), -1);
  EXPECT_EQ(e.GetData(), nullptr);
  EXPECT_EQ(e.GetRefCount(), 2);
  EXPECT_EQ(e.GetIntegrals()[4], 200u);

  // The channel of the earlier decode is gone: new samples need a new one,
  // numbered 255 since Clear forgot the channel header.
  e.SetModuleNr(0);
  decode(e, {0x00030002, 0xA0000007});
  ASSERT_EQ(e.GetChannels().size(), 1u);
  EXPECT_EQ(e.GetChannels()[0]->GetChannel(), 255);
  EXPECT_EQ(e.GetChannels()[0]->GetWaveForm(), (Samples{2, 3}));
  // The time-stamp toggle is decoding state and was not reset.
  EXPECT_EQ(e.GetTimeStamp2(), 7u);
  e.release();
}

TEST(WaveEventState, TimeStampIsFortyEightBits) {
  WaveEvent e;
  decode(e, {0xAFFFFFFF, 0xA1FFFFFE});
  EXPECT_EQ(e.GetTimeStamp(), 0xFFFFFEFFFFFFull);
  e.SetTimeStamp1(1);
  e.SetTimeStamp2(0x800000);
  EXPECT_EQ(e.GetTimeStamp(), 0x800000000001ull);
}

TEST(WaveEventState, LastReleaseDeletesTheEvent) {
  // Under valgrind operator delete is valgrind's: its leak check sees the
  // event freed instead.
  int* probe = new int(0);
  lastFreed = nullptr;
  delete probe;
  const bool seen = lastFreed == probe;

  auto* e = new WaveEvent;
  decode(*e, {0xC0000001, 0x00010001});
  e->retain();
  EXPECT_EQ(e->GetRefCount(), 2);
  lastFreed = nullptr;
  e->release();
  const void* afterFirst = lastFreed;
  EXPECT_EQ(afterFirst, nullptr);
  EXPECT_EQ(e->GetRefCount(), 1);
  e->release();
  const void* afterLast = lastFreed;
  // The event goes last, after its channels.
  if (seen) {
    EXPECT_EQ(afterLast, e);
  }
}

void expectOnlyChannel3(const WaveEvent& e) {
  for (unsigned n = 0; n < WaveEvent::kArrayChannels; ++n)
    if (n != 3) {
      EXPECT_EQ(e.GetIntegrals()[n] + e.GetMaxValues()[n] + e.GetAmplitudes()[n] +
                    e.GetPMaxtimes()[n] + e.GetPulsewidths()[n] + e.GetSignalIntegrals()[n],
                0u)
          << n;
    }
}

TEST(WaveEventAnalysis, ArraysByChannelNumberAndTheMessageForHighNumbers) {
  WaveEvent e;  // MERIDAX label 0xF0 is channel 130
  decode(e, {0xC00001F0, 0x00000001, 0x00000002, 0xC0000103, 0x00028064, 0x51002814, 0x520E0032,
             0xC0000103, 0x00000009});
  ASSERT_EQ(e.GetChannels().size(), 3u);
  std::string out;
  {
    tarntest::CapturedStdout capture;
    e.Analyze();
    out = capture.text();
  }
  EXPECT_EQ(out, "WaveEvent: Channel # >= 120. Not stored in Array; use the VFChannel.\n");
  const VFChannel* high = e.GetChannels()[0];
  EXPECT_EQ(high->GetChannel(), 130);
  EXPECT_EQ(high->GetIntegral(), 1u + 0 + 2 + 0);
  EXPECT_EQ(high->GetMaxValue(), 2u);

  // Channel 3 twice: the later one's results are kept.
  EXPECT_EQ(e.GetChannels()[1]->GetWaveForm(), (Samples{100, 10}));
  EXPECT_EQ(e.GetIntegrals()[3], 9u);
  EXPECT_EQ(e.GetMaxValues()[3], 9u);
  EXPECT_EQ(e.GetPMaxtimes()[3], 0u);
  EXPECT_EQ(e.GetPulseheights()[3], 0u);

  expectOnlyChannel3(e);

  // Standard layout, one channel 3: the module values and amplitude show.
  WaveEvent f;
  f.SetModuleNr(0);
  decode(f, {0xC0000003, 0x000A0064, 0x00640000, 0x51002814, 0x52032032});
  f.Analyze();
  // Pedestal (100 + 10) / 2 = 55, then (55 + 0) / 2 = 27.5, (27.5 + 100) / 2 = 63.75.
  EXPECT_EQ(f.GetIntegrals()[3], 210u);
  EXPECT_EQ(f.GetSignalIntegrals()[3], 210 - 255);
  EXPECT_EQ(f.GetMaxValues()[3], 100u);
  EXPECT_EQ(f.GetMaxPositions()[3], 0u);
  EXPECT_EQ(f.GetAmplitudes()[3], 36u);  // 0.5 + 100 - 63.75
  EXPECT_EQ(f.GetPMaxtimes()[3], 20u);
  EXPECT_EQ(f.GetPulseheights()[3], static_cast<uint16_t>(10 - 14));  // 50 * 4 / 14 = 14
  EXPECT_EQ(f.GetPulsewidths()[3], 50u);
  expectOnlyChannel3(f);
}

TEST(WaveEventPrint, HeaderLinesAndChannelsByOption) {
  const std::string header =
      "WaveEvent:\n"
      "Header trigger:  5\n"
      "Trailer trigger: 5\n"
      "Time-stamp 1:            16\n"
      "Time-stamp 2:    4294967295\n"
      "Module # :    -1\n";
  WaveEvent empty;
  decode(empty, {0x80000005, 0xA0000010, 0xE0000005});
  empty.SetTimeStamp2(4294967295u);
  EXPECT_EQ(printed(empty, "a"), header);
  EXPECT_EQ(printed(empty, "c"), header);

  WaveEvent e;
  decode(e, {0x80000005, 0xA0000010, 0xC0000012, 0x00010000, 0x5000FFFE, 0x40000007, 0xE0000005});
  e.SetTimeStamp2(4294967295u);
  EXPECT_EQ(printed(e, ""), header);
  EXPECT_EQ(printed(e, nullptr), header);
  const std::string channel =
      "VFChannel:\n"
      "Channel:  12\n"
      "CFD-time: 7\n"
      "Charge:   65534\n";
  EXPECT_EQ(printed(e, "c"), header + "Channels:        1\n" + channel);
  EXPECT_EQ(printed(e, "all"),
            header + "Channels:        1\n" + channel + "Wave-form:\n     0    0x4 \n");
}

}  // namespace
