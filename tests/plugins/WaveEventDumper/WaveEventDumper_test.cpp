#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "../common/PortListing.h"
#include "TarnTest.h"
#include "WaveEvent.h"

namespace {

TEST(WaveEventDumperPorts, AnnouncesItselfBeforeDeclaringItsOneInput) {
  EXPECT_EQ(porttest::lifeOf("WaveEventDumper", "dump"),
            "dump instantiated\n"
            "Print summary of WaveEvent to STDOUT\n"
            "vf_event 18 WaveEvent from WaveDecoder\n"
            "dump deleted\n");
}

std::string header(unsigned head, unsigned trail, unsigned ts1, unsigned ts2, int module) {
  char buf[300];
  std::snprintf(buf, sizeof buf,
                "WaveEvent:\nHeader trigger:  %u\nTrailer trigger: %u\nTime-stamp 1:    %10u\n"
                "Time-stamp 2:    %10u\nModule # :    %d\n",
                head, trail, ts1, ts2, module);
  return buf;
}

TEST(WaveEventDumper, PrintsTheSixEventLinesWhateverTheChannels) {
  WaveEvent plain, full, bad;
  plain.SetHeaderTrigger(7);
  plain.SetTrailerTrigger(7);
  plain.SetTimeStamp1(0xFFFFFF);
  plain.SetTimeStamp2(3);
  full.SetHeaderTrigger(8);
  full.SetTrailerTrigger(8);
  full.SetModuleNr(5);
  for (unsigned char n : {0, 11, 130}) {
    VFChannel* c = new VFChannel(n);
    c->SetCfdTime(99);
    for (unsigned short s = 0; s < 30; ++s) c->AddData(s);
    full.AddChannel(c);
  }
  bad.SetHeaderTrigger(9);
  bad.SetTrailerTrigger(10);

  std::string out;
  testing::internal::CaptureStderr();
  {
    tarntest::Node d("WaveEventDumper", "dump");
    tarntest::CapturedStdout capture;
    for (WaveEvent* e : {&plain, &full, &bad}) d->SetInput(0, e);
    out = capture.text();
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // not even for the bad event
  EXPECT_EQ(out, header(7, 7, 16777215, 3, -1) + header(8, 8, 0, 0, 5) + header(9, 10, 0, 0, -1));
  for (WaveEvent* e : {&plain, &full, &bad}) EXPECT_EQ(e->GetRefCount(), 1);
}

}  // namespace
