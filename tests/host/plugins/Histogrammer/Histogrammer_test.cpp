#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <numeric>
#include <set>
#include <sstream>

#include "AxisTicks.h"
#include "StrandEvent.h"
#include "TarnTest.h"

// PLplot keeps the device modules it loads (libltdl), and its cairo device lays
// out text with pango, whose fontconfig caches are never freed: the leak
// checker of sanitised builds is told so.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libltdl.so\nleak:libfontconfig.so\nleak:libpango\n";
}

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool isPng(const std::string& path) {
  const std::string head = slurp(path).substr(0, 8);
  return head == "\x89PNG\r\n\x1a\n";
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The count column of a CSV, row by row after the header.
std::vector<long> counts(const std::string& csv) {
  std::vector<long> out;
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) out.push_back(std::stol(line.substr(line.rfind(',') + 1)));
  return out;
}

// What RunFile's "eor" sends: the end-of-run ODB text.
void endOfRun(tarntest::Node& h) {
  char odb[] = "<odb/>";
  ASSERT_TRUE(h->SetInput(h->GetNumberForInput("eor"), static_cast<void*>(odb)));
}

class HistogrammerTest : public ::testing::Test {
 protected:
  tarntest::TempDir dir;
  std::string prefix() const { return dir.path() + "/h"; }
};

TEST_F(HistogrammerTest, EdgesUnderAndOverflowNanAndTheUnpackersReversedRange) {
  std::vector<double> d;
  int n = 0;
  StrandEvent e;
  e["D"] = StrandProperty(TARN_DOUBLE_V, StrandBinning(4.0, 0.0, 4), &d);  // upper end first
  e["N"] = StrandProperty(TARN_INT, StrandBinning(0.0, 10.0, 5), &n);
  tarntest::CapturedStdout out;
  {
    tarntest::Node h("Histogrammer", "h");
    h->SetInput("prefix", prefix());
    e.layout = true;  // values of a layout event are not counted
    d = {1, 1, 1};
    h->SetInput(0, &e);
    e.layout = false;
    d = {-1, 0, 0.999, 1, 3.999, 4, 5, std::nan("")};
    h->SetInput(0, &e);
    for (int v : {0, 1, 2, 9, 10, -1}) {
      n = v;
      d.clear();
      h->SetInput(0, &e);
    }
  }
  EXPECT_EQ(slurp(prefix() + "_D.csv"),
            "low,high,count\n-inf,0,1\n0,1,2\n1,2,1\n2,3,0\n3,4,1\n4,inf,2\nnan,nan,1\n");
  EXPECT_EQ(slurp(prefix() + "_N.csv"),
            "low,high,count\n-inf,0,1\n0,2,3\n2,4,1\n4,6,0\n6,8,0\n8,10,1\n10,inf,1\n");
  EXPECT_TRUE(isPng(prefix() + "_D.png"));
  EXPECT_TRUE(isPng(prefix() + "_N.png"));
  // Entries count under- and overflow, not NaN; mean and RMS are of the in-range values.
  const std::string text = out.text();
  EXPECT_NE(text.find("h_D.csv, .png: 7 entries, mean 1.4995, RMS 1.4"), std::string::npos) << text;
  EXPECT_NE(text.find("h_N.csv, .png: 7 entries, mean 2.4, RMS 3.38"), std::string::npos) << text;
}

// Names that map to one file name keep apart (spelt out), and a name that
// maps to a file name of its own keeps the name stored files and merges know.
TEST_F(HistogrammerTest, PropertiesWhoseFileNamesMeetAreWrittenApart) {
  int slash = 1, question = 2, underscore = 3, space = 4;
  StrandEvent e;
  const StrandBinning bins(0.0, 8.0, 8);
  e["x/y"] = StrandProperty(TARN_INT, bins, &slash);
  e["x?y"] = StrandProperty(TARN_INT, bins, &question);
  e["x_y"] = StrandProperty(TARN_INT, bins, &underscore);
  e["a b"] = StrandProperty(TARN_INT, bins, &space);
  {
    tarntest::Node h("Histogrammer", "h");
    h->SetInput("prefix", prefix());
    h->SetInput(0, &e);
  }
  const std::pair<const char*, int> files[] = {{"_x_2Fy", 1}, {"_x_3Fy", 2}, {"_x_y", 3}, {"_a_b", 4}};
  for (const auto& f : files) {
    const std::vector<long> c = counts(slurp(prefix() + f.first + ".csv"));
    ASSERT_EQ(c.size(), 10u) << f.first;
    EXPECT_EQ(c[size_t(f.second) + 1], 1) << f.first;
  }
}

TEST_F(HistogrammerTest, ChosenPropertiesMissingInSomeEventsAutomaticRangeAndOverrides) {
  std::vector<short> a;
  std::vector<std::vector<short>> nested;
  float f = 0;
  std::string text = "x";
  StrandEvent even, odd;
  even["A"] = StrandProperty(TARN_SHORT_V, StrandBinning(), &a);  // no binning: automatic
  even["Text"] = StrandProperty(TARN_STRING, StrandBinning(), &text);
  odd["F"] = StrandProperty(TARN_FLOAT, StrandBinning(100.0, 0.0, 100), &f);
  odd["Nested"] = StrandProperty(TARN_SHORT_VV, StrandBinning(), &nested);
  odd["Skipped"] = StrandProperty(TARN_FLOAT, StrandBinning(1.0, 0.0, 1), &f);
  testing::internal::CaptureStderr();
  {
    tarntest::Node h("Histogrammer", "h");
    h->SetInput("prefix", prefix());
    h->SetInput("properties", "A F Nested Text Never");
    h->SetInput("bins", "F:4:8:0 F:0:1:2 junk");  // reversed override; two that do not parse
    h->SetInput("units", "F:mV bad");
    for (int i = 0; i < 200; ++i) {
      a = {short(3 + i), short(250 - i)};
      f = float(i % 9);
      nested = {{short(i % 3)}, {}, {1, 2}};
      h->SetInput(0, i % 2 ? &odd : &even);
    }
    endOfRun(h);
    EXPECT_TRUE(exists(prefix() + "_A.csv"));
  }
  const std::string err = testing::internal::GetCapturedStderr();
  // 3..250 in steps of 1: width 5 from 0, so 250 falls in the last bin [250, 255).
  const std::string csvA = slurp(prefix() + "_A.csv");
  EXPECT_EQ(csvA.substr(0, 34), "low,high,count\n-inf,0,0\n0,5,1\n5,10") << csvA;
  EXPECT_NE(csvA.find("\n250,255,1\n255,inf,0\n"), std::string::npos) << csvA;
  std::vector<long> c = counts(csvA);
  EXPECT_EQ(std::accumulate(c.begin(), c.end(), 0L), 200L);  // 100 events of two values
  // The override, its range reversed, wins over the property's binning; 8 goes to overflow.
  EXPECT_EQ(slurp(prefix() + "_F.csv"), "low,high,count\n-inf,0,0\n0,2,23\n2,4,22\n4,6,22\n6,8,22\n8,inf,11\n");
  c = counts(slurp(prefix() + "_Nested.csv"));  // every inner element counted
  EXPECT_EQ(std::accumulate(c.begin(), c.end(), 0L), 300L);
  EXPECT_FALSE(exists(prefix() + "_Skipped.csv"));  // not chosen
  EXPECT_FALSE(exists(prefix() + "_Text.csv"));
  for (const char* m : {"binning 'F:0:1:2' is not", "binning 'junk' is not", "unit 'bad' is not",
                        "property Text of type string holds no numbers", "property Never was in no event"})
    EXPECT_NE(err.find(std::string("h: ") + m), std::string::npos) << m << "\n" << err;
}

TEST_F(HistogrammerTest, EorWritesAtOnceAndTheEndRewritesOnlyAfterNewValues) {
  double x = 0.5;
  StrandEvent e;
  e["X"] = StrandProperty(TARN_DOUBLE, StrandBinning(0.0, 1.0, 2), &x);
  const std::string csv = prefix() + "_X.csv";
  {
    tarntest::Node h("Histogrammer", "h");
    h->SetInput("prefix", prefix());
    h->SetInput(0, &e);
    endOfRun(h);
    EXPECT_EQ(counts(slurp(csv)), (std::vector<long>{0, 0, 1, 0}));
    std::remove(csv.c_str());
  }
  EXPECT_FALSE(exists(csv));  // nothing new since "eor"
  {
    tarntest::Node h("Histogrammer", "h");
    h->SetInput("prefix", prefix());
    h->SetInput(0, &e);
    endOfRun(h);
    x = 0.1;
    h->SetInput(0, &e);
  }
  EXPECT_EQ(counts(slurp(csv)), (std::vector<long>{0, 1, 1, 0}));  // the whole run so far
}

TEST_F(HistogrammerTest, UnwritablePrefixIsReportedAndNothingElseHappens) {
  double x = 1;
  StrandEvent e;
  e["X"] = StrandProperty(TARN_DOUBLE, StrandBinning(), &x);
  testing::internal::CaptureStderr();
  {
    tarntest::Node h("Histogrammer", "h");
    h->SetInput("prefix", dir.path() + "/no/such/dir/h");
    h->SetInput(0, &e);
  }
  EXPECT_NE(testing::internal::GetCapturedStderr().find("h: cannot write " + dir.path() + "/no/such/dir/h_X.csv"),
            std::string::npos);
}

// The plots' tick labels read differently however narrow the range is, say
// the number each tick stands at, and fit side by side on the axis.
TEST(AxisTicks, LabelsAreDistinctWhereTheRangeIsNarrow) {
  const std::pair<double, double> ranges[] = {{1000.0, 1000.5}, {1e6, 1e6 + 20}, {1e12, 1e12 + 0.2},
                                              {-32768, 32768},  {0, 1e-6},       {-1e-3, 1e-3}};
  for (const auto& r : ranges) {
    const hist::AxisTicks t = hist::axisTicks(r.first, r.second);
    const std::vector<double> values = hist::tickValues(t, r.first, r.second);
    EXPECT_GE(values.size(), 2u) << r.first;
    std::set<std::string> labels;
    size_t width = 0;
    for (double v : values) {
      const std::string label = t.label(v);
      labels.insert(label);
      width += label.size() + 2;
      EXPECT_NEAR(std::strtod(label.c_str(), nullptr), v, t.step / 2) << label;
    }
    EXPECT_EQ(labels.size(), values.size()) << r.first << " to " << r.second;
    EXPECT_LE(width, 52u) << r.first;
  }
}

}  // namespace
