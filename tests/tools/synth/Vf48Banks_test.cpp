// The synthesiser's VF48 banks, decoded with the WaveEvent library and
// compared with the contents they were made from.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "ModuleBanks.h"
#include "SynthFiles.h"
#include "TarnTest.h"
#include "WaveEvent.h"

using namespace synth;

namespace {

std::vector<uint32_t> wordsOf(const Bank& b) {
  EXPECT_EQ(b.type, TID_DWORD);
  EXPECT_EQ(b.data.size() % 4, 0u);
  std::vector<uint32_t> w(b.data.size() / 4);
  for (size_t i = 0; i < w.size(); ++i)
    w[i] = uint32_t(b.data[4 * i]) | uint32_t(b.data[4 * i + 1]) << 8 |
           uint32_t(b.data[4 * i + 2]) << 16 | uint32_t(b.data[4 * i + 3]) << 24;
  return w;
}

// Decodes one bank as a producer does: the standard layout needs the module
// number first, the MERIDAX one finds it in the channel headers.
void expectDecodesTo(const Bank& bank, const Vf48Module& m, Vf48Layout layout) {
  SCOPED_TRACE(bank.name);
  EXPECT_EQ(bank.name, vf48BankName(layout, m.module));
  std::vector<uint32_t> w = wordsOf(bank);
  WaveEvent* e = new WaveEvent;
  if (layout == Vf48Layout::Standard) e->SetModuleNr(int(m.module));
  EXPECT_EQ(e->DecodeFromData(w.data(), int(w.size())), w.size());
  EXPECT_TRUE(e->IsGood());
  EXPECT_EQ(e->GetModuleNr(), int(m.module));
  EXPECT_EQ(e->GetHeaderTrigger(), m.trigger);
  EXPECT_EQ(e->GetTimeStamp(), m.timeStamp);
  ASSERT_EQ(e->GetChannels().size(), m.channels.size());
  for (size_t i = 0; i < m.channels.size(); ++i) {
    const VFChannel& got = *e->GetChannels()[i];
    const Vf48Channel& want = m.channels[i];
    SCOPED_TRACE(want.channel);
    EXPECT_EQ(got.GetChannel(), int(want.channel));
    EXPECT_EQ(got.GetWaveForm(), std::vector<unsigned short>(want.samples.begin(), want.samples.end()));
    EXPECT_EQ(got.GetCfdTime(), want.cfdTime);
    EXPECT_EQ(got.GetCharge(), int(want.charge));
    EXPECT_EQ(got.GetPMaxtime(), int(want.pMaxtime));
    EXPECT_EQ(got.GetPulsewidth(), int(want.pulsewidth));
    EXPECT_EQ(got.GetHWPedestal(), float(want.pedestalWord * 4 / 14));
    if (layout == Vf48Layout::Standard && want.pulse) {
      // The module's height less its pedestal is the pulse's own height.
      const uint32_t pedestal = want.pedestalWord * 4 / 14;
      EXPECT_EQ(got.GetPulseheight(), int(want.pulseheight - pedestal));
      EXPECT_GE(got.GetPulseheight(), 190);
    }
  }
  e->release();
}

TEST(SynthVf48, BanksDecodeToTheirContentsInBothLayouts) {
  for (bool meridax : {false, true}) {
    SCOPED_TRACE(meridax);
    RunSpec spec;
    spec.vf48Modules = 5;
    spec.vf48Meridax = meridax;
    const Vf48Layout layout = meridax ? Vf48Layout::Meridax : Vf48Layout::Standard;
    size_t missed = 0, flat = 0, exact = 0, stamps = 0;
    uint64_t lastTrigger = 0;
    std::set<uint32_t> highHalves;
    for (uint32_t i = 0; i < 200; ++i) {
      const Event e = makeEvent(spec, i);
      const Vf48Content c = makeVf48Content(spec, i);
      EXPECT_EQ(c.layout, layout);
      EXPECT_GT(c.triggerTime, lastTrigger + 80000);
      lastTrigger = c.triggerTime;
      missed += spec.vf48Modules - c.modules.size();
      // The VF48 banks come last, one per module read out.
      ASSERT_GE(e.banks.size(), c.modules.size());
      const size_t first = e.banks.size() - c.modules.size();
      for (size_t k = 0; k < c.modules.size(); ++k) {
        const Vf48Module& m = c.modules[k];
        if (k > 0) {
          EXPECT_GT(m.module, c.modules[k - 1].module);
        }
        EXPECT_EQ(m.trigger, i + 1);
        // Each clock runs at its fixed offset from the trigger, give or take two.
        const int64_t off = int64_t(m.timeStamp - c.triggerTime - vf48ClockOffset(m.module));
        EXPECT_LE(std::abs(off), 2);
        exact += off == 0;
        ++stamps;
        highHalves.insert(uint32_t(m.timeStamp >> 24));
        EXPECT_GE(m.channels.size(), 2u);
        for (const Vf48Channel& ch : m.channels) {
          EXPECT_LT(ch.channel, 48u);
          EXPECT_EQ(ch.samples.size(), 64u);
          flat += !ch.pulse;
        }
        expectDecodesTo(e.banks[first + k], m, layout);
      }
    }
    EXPECT_GT(missed, 0u);
    EXPECT_LT(missed, 40u);
    EXPECT_GT(flat, 0u);
    EXPECT_GT(exact, stamps * 3 / 4);
    EXPECT_LT(exact, stamps);
    // The low half carries into the high one after the first trigger.
    EXPECT_EQ(highHalves, (std::set<uint32_t>{0, 1, 2}));
  }
}

// A pulse rises in three samples and falls slowly: the module's values are
// those of the samples themselves.
TEST(SynthVf48, FirmwareValuesDescribeThePulse) {
  RunSpec spec;
  spec.vf48Modules = 2;
  for (uint32_t i = 0; i < 20; ++i)
    for (const Vf48Module& m : makeVf48Content(spec, i).modules)
      for (const Vf48Channel& c : m.channels) {
        if (!c.pulse) {
          EXPECT_EQ(c.cfdTime + c.charge + c.pulseheight + c.pedestalWord, 0u);
          continue;
        }
        const uint32_t pedestal = c.pedestalWord * 4 / 14;
        EXPECT_EQ(c.samples[c.pMaxtime], c.pulseheight);
        EXPECT_EQ(c.pMaxtime, c.cfdTime + 1);
        EXPECT_GE(c.cfdTime, 29u);  // after the 20 samples of the software pedestal
        EXPECT_GE(c.samples[c.cfdTime], pedestal + (c.pulseheight - pedestal) / 2);
        EXPECT_LT(c.samples[c.cfdTime - 1], pedestal + (c.pulseheight - pedestal) / 2);
        EXPECT_GT(c.pulsewidth, 3u);
        EXPECT_GT(c.charge, (c.pulseheight - pedestal) * 3);
      }
}

TEST(SynthVf48, OtherBanksAreThoseOfARunWithoutVf48) {
  RunSpec plain;
  plain.events = 30;
  plain.modules = true;
  RunSpec with = plain;
  with.vf48Modules = 3;
  for (uint32_t i = 0; i < plain.events; ++i) {
    Event a = makeEvent(plain, i);
    Event b = makeEvent(with, i);
    const size_t vf = makeVf48Content(with, i).modules.size();
    ASSERT_EQ(b.banks.size(), a.banks.size() + vf);
    b.banks.resize(a.banks.size());
    EXPECT_EQ(encodeEvent(a), encodeEvent(b)) << "event " << i;
  }
}

TEST(SynthVf48, CommandLineChoosesModulesAndLayout) {
  tarntest::TempDir dir;
  auto tool = [&](const std::string& args) {
    const int rc = std::system(("'" MIDAS_SYNTH_BINARY "' " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  };
  RunSpec spec;
  spec.events = 8;
  spec.vf48Modules = 3;
  for (bool meridax : {false, true}) {
    spec.vf48Meridax = meridax;
    std::string error;
    ASSERT_TRUE(writeRun(dir.path() + "/lib.mid", makeRun(spec), false, Damage::None, error));
    ASSERT_EQ(tool("--events 8 --vf48 3 " + std::string(meridax ? "--vf48-layout meridax " : "") +
                   dir.path() + "/cli.mid"),
              0);
    EXPECT_EQ(synthtest::readFile(dir.path() + "/cli.mid"),
              synthtest::readFile(dir.path() + "/lib.mid"));
  }
  ASSERT_EQ(tool("--events 8 --vf48 3 --vf48-layout standard " + dir.path() + "/std.mid"), 0);
  spec.vf48Meridax = false;
  std::string error;
  ASSERT_TRUE(writeRun(dir.path() + "/lib.mid", makeRun(spec), false, Damage::None, error));
  EXPECT_EQ(synthtest::readFile(dir.path() + "/std.mid"),
            synthtest::readFile(dir.path() + "/lib.mid"));
  for (const char* bad : {"--vf48", "--vf48 101", "--vf48 x", "--vf48-layout", "--vf48-layout odd"})
    EXPECT_EQ(tool(std::string(bad) + " " + dir.path() + "/bad.mid"), 2) << bad;
}

}  // namespace
