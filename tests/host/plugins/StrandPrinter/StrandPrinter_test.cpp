#include <gtest/gtest.h>

#include "StrandEvent.h"
#include "TarnTest.h"

namespace {

TEST(StrandPrinter, PrintsTheTextFormAndOneEmptyLineAndNoMessages) {
  tarntest::CapturedStdout out;
  {
    tarntest::Node printer("StrandPrinter", "show");
    int v = 3;
    std::vector<short> s{1, -2};
    StrandEvent e;
    e["N"] = StrandProperty(TARN_INT, StrandBinning(), &v);
    e["S"] = StrandProperty(TARN_SHORT_V, StrandBinning(), &s);
    printer->SetInput(0, &e);
    e.layout = true;
    printer->SetInput(0, &e);
  }
  EXPECT_EQ(out.text(), "N:\t3\nS:\t   1   -2 \n\nN:\tint\nS:\tvector<short>\n\n");
}

}  // namespace
