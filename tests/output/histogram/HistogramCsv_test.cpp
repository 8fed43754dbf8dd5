// A histogram's table read back as it was written: what `tarn merge` sums is
// exactly what each run's Histogrammer counted.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "HistogramCsv.h"
#include "TarnTest.h"

TEST(HistogramCsv, ReadsBackEveryEdgeAndCountAndRefusesATableCutShort) {
  tarntest::TempDir dir;
  // Edges of no short decimal form, and values in every part of the table.
  hist::Histogram h({-1e300, -0.1, 1.0 / 3, 0.7, 2e-308 + 1});
  for (double x : {-1e301, -0.05, 0.0, 0.5, 0.5, 0.69, 5.0, 7.0})
    h.fill(x);
  h.fill(std::numeric_limits<double>::quiet_NaN(), 3);
  h.fill(0.2, 1ull << 62);
  const std::string path = dir.path() + "/t.csv";
  std::string error;
  ASSERT_TRUE(hist::writeCsv(h, path, error)) << error;
  hist::CsvTable t;
  ASSERT_TRUE(hist::readCsv(path, t, error)) << error;
  EXPECT_EQ(t.edges, h.edges());
  EXPECT_EQ(t.counts, h.counts());
  EXPECT_EQ(t.underflow, h.underflow());
  EXPECT_EQ(t.overflow, h.overflow());
  EXPECT_EQ(t.nans, 3u);

  const std::string text = tarntest::contentOf(path);
  dir.write("cut.csv", text.substr(0, text.find("\nnan") + 1));
  hist::CsvTable cut;
  EXPECT_TRUE(hist::readCsv(dir.path() + "/cut.csv", cut, error));  // NaN row is optional
  dir.write("cut2.csv", text.substr(0, text.find("inf,", 5)));
  EXPECT_FALSE(hist::readCsv(dir.path() + "/cut2.csv", cut, error));
}
