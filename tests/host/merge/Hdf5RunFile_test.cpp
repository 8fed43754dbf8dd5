// A run's file as the Hdf5Writer writes it, read by the merge's checker: the
// two must agree on how a value, a list and a list of lists are laid out, or
// the merge refuses (or miscounts) every run of a batch.
#include <gtest/gtest.h>

#include <vector>

#include "Hdf5RunFile.h"
#include "StrandEvent.h"
#include "TarnTest.h"

TEST(Hdf5RunFile, TheWritersValueListAndListOfListsReadAsTheirParts) {
  tarntest::TempDir dir;
  const std::string path = dir.path() + "/run00012.h5";
  short s = 0;
  std::vector<short> sv;
  std::vector<std::vector<short>> svv;
  StrandEvent e;
  const StrandBinning none;
  e["s"] = StrandProperty(TARN_SHORT, none, &s);
  e["sv"] = StrandProperty(TARN_SHORT_V, none, &sv);
  e["svv"] = StrandProperty(TARN_SHORT_VV, none, &svv);
  {
    tarntest::Node w("Hdf5Writer", "w");
    w->SetInput("file", path);
    e.layout = true;  // announces only: not an event
    w->SetInput(0, &e);
    e.layout = false;
    for (int k = 0; k < 4; ++k) {
      s = short(-k);
      sv.assign(size_t(k), short(k));
      svv = {{short(k)}, {}, std::vector<short>(size_t(k), 7)};
      w->SetInput(0, &e);
    }
  }
  const merge::Run run{"run00012", path, 0, 12, -1};
  const merge::Source source{&run, path};
  merge::RunFile f;
  std::string why;
  ASSERT_TRUE(merge::readRunFile(source, f, why)) << why;
  EXPECT_EQ(f.events, 4);
  const merge::Part &value = f.parts.at("s"), &list = f.parts.at("sv"), &lists = f.parts.at("svv");
  EXPECT_EQ(value.tarnType, TARN_SHORT);
  EXPECT_EQ(value.depth, 0);
  EXPECT_EQ(value.entries, 4);
  EXPECT_EQ(value.values, 4);
  EXPECT_EQ(list.tarnType, TARN_SHORT_V);
  EXPECT_EQ(list.depth, 1);
  EXPECT_EQ(list.entries, 4);
  EXPECT_EQ(list.values, 0 + 1 + 2 + 3);
  EXPECT_EQ(lists.tarnType, TARN_SHORT_VV);
  EXPECT_EQ(lists.depth, 2);
  EXPECT_EQ(lists.entries, 4);
  EXPECT_EQ(lists.inner, 4 * 3);  // three inner lists an entry
  EXPECT_EQ(lists.values, 4 + (0 + 1 + 2 + 3));
}
