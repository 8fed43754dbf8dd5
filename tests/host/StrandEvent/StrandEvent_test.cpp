#include "StrandEvent.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

StrandProperty prop(tarn_type t, void* v) { return StrandProperty(t, StrandBinning(), v); }

TEST(StrandEventText, ScalarsAndTextsInNameOrder) {
  uint16_t u16 = 65535;
  short s16 = -12;
  uint32_t u32 = 4000000000u;
  int i32 = -7;
  bool flag = true;
  float f = 1.5f;
  double d = 0.1;
  uint64_t u64 = 18446744073709551615ull;
  char cstr[] = "hello world";
  std::string str = "a string";
  StrandEvent e;
  e["b_u16"] = prop(TARN_UINT16, &u16);
  e["a_short"] = prop(TARN_SHORT, &s16);
  e["c_u32"] = prop(TARN_UINT32, &u32);
  e["d_int"] = prop(TARN_INT, &i32);
  e["e_bool"] = prop(TARN_BOOL, &flag);
  e["f_float"] = prop(TARN_FLOAT, &f);
  e["g_double"] = prop(TARN_DOUBLE, &d);
  e["h_u64"] = prop(TARN_UINT64, &u64);
  e["i_cstr"] = prop(TARN_CSTRING, cstr);
  e["j_str"] = prop(TARN_STRING, &str);
  EXPECT_EQ(e.str(),
            "a_short:\t-12\n"
            "b_u16:\t65535\n"
            "c_u32:\t4000000000\n"
            "d_int:\t-7\n"
            "e_bool:\t1\n"
            "f_float:\t1.5\n"
            "g_double:\t0.1\n"
            "h_u64:\t18446744073709551615\n"
            "i_cstr:\thello world\n"
            "j_str:\ta string\n");
  EXPECT_EQ(e.lastText(), e.str());
  flag = false;
  EXPECT_NE(e.str().find("e_bool:\t0\n"), std::string::npos);
}

TEST(StrandEventText, EveryVectorTypeUsesWidthFourAndTrailingBlank) {
  std::vector<short> vs{-1, 2, 12345};
  std::vector<int> vi{100000, -5};
  std::vector<uint64_t> vu{7};
  std::vector<bool> vb{true, false};
  std::vector<float> vf{0.5f, 2.0f};
  std::vector<double> vd{3.25};
  std::vector<std::string> vstr{"ab", "abcdef"};
  std::vector<int> empty;
  StrandEvent e;
  e["s"] = prop(TARN_SHORT_V, &vs);
  e["i"] = prop(TARN_INT_V, &vi);
  e["u"] = prop(TARN_UINT64_V, &vu);
  e["b"] = prop(TARN_BOOL_V, &vb);
  e["f"] = prop(TARN_FLOAT_V, &vf);
  e["d"] = prop(TARN_DOUBLE_V, &vd);
  e["t"] = prop(TARN_STRING_V, &vstr);
  e["z"] = prop(TARN_INT_V, &empty);
  EXPECT_EQ(e.str(),
            "b:\t   1    0 \n"
            "d:\t3.25 \n"
            "f:\t 0.5    2 \n"
            "i:\t100000   -5 \n"
            "s:\t  -1    2 12345 \n"
            "t:\t  ab abcdef \n"
            "u:\t   7 \n"
            "z:\t\n");
}

TEST(StrandEventText, TypesWithoutTextFormAndNullValuesPrintNothing) {
  int i = 3;
  StrandEvent e;
  e["default"];  // added by operator[]: type 18, no value
  e["object"] = prop(TARN_OBJECT, &i);
  e["null"] = prop(TARN_INT, nullptr);
  EXPECT_EQ(e["default"].type, TARN_OBJECT);
  EXPECT_EQ(e.str(), "default:\t\nnull:\t\nobject:\t\n");
}

TEST(StrandEventText, BinningWithAndWithoutEdges) {
  std::vector<int> v{1};
  StrandEvent e;
  e["a"] = StrandProperty(TARN_INT_V, StrandBinning(128.0, 0.0, 128), &v);
  e["a"].showBinning = 1;
  StrandBinning edged;
  edged.edges = {0, 1.5, 4};
  e["b"] = StrandProperty(TARN_INT_V, edged, &v);
  e["b"].showBinning = 1;
  e["c"] = StrandProperty(TARN_INT_V, StrandBinning(10, 0, 10), &v);  // flag off: no binning
  EXPECT_EQ(e.str(),
            "a:\t\nBinning: Min: 128, Max: 0, Bins: 128\nValue:\t   1 \n"
            "b:\t\nBinning: 01.54\nValue:\t   1 \n"
            "c:\t   1 \n");
}

TEST(StrandEventText, LayoutFlagShowsPrintedTypeNames) {
  int i = 1;
  double x = 2.5;
  std::vector<bool> vb;
  std::vector<std::vector<short>> vv;
  StrandEvent inner;  // shown in its own form: its layout flag is its own
  inner["x"] = prop(TARN_DOUBLE, &x);
  StrandEvent e;
  e["a"] = prop(TARN_INT, &i);
  e["b"] = prop(TARN_STRING_V, &i);
  e["c"] = prop(TARN_BOOL_V, &vb);      // no printed name
  e["d"] = prop(TARN_SHORT_VV, &vv);    // no printed name
  e["e"] = prop(TARN_STRANDEVENT, &inner);
  e["f"] = prop(TARN_CSTRING, nullptr);
  e.layout = true;
  EXPECT_EQ(e.str(),
            "a:\tint\n"
            "b:\tvector<string>\n"
            "c:\t\n"
            "d:\t\n"
            "e:\tStrandEvent: \nx:\t2.5\n\n"
            "f:\tc-string\n");
}

TEST(StrandEventText, NestedEventValue) {
  int i = 42;
  StrandEvent inner;
  inner["v"] = prop(TARN_INT, &i);
  StrandEvent e;
  e["n"] = prop(TARN_STRANDEVENT, &inner);
  e["o"] = prop(TARN_INT, &i);
  EXPECT_EQ(e.str(), "n:\t\nv:\t42\n\no:\t42\n");
}

TEST(StrandEventText, FailingFormulaShowsItsText) {
  int i = 5;
  formulaParser bad("1 / (2 - 2)");
  formulaParser good("(1 + 2) * 3");
  StrandEvent e;
  e["bad"] = prop(TARN_INT, &i);
  e["bad"].formula = &bad;
  e["good"] = prop(TARN_INT, &i);
  e["good"].formula = &good;
  EXPECT_EQ(e.str(), "bad:\t1 / (2 - 2)\ngood:\t5\n");
  EXPECT_DOUBLE_EQ(good.result(), 9.0);
}

TEST(StrandEvent, ResetKeepsPropertiesAndValuesButClearsLayout) {
  std::vector<int> v{1, 2};
  StrandEvent e;
  EXPECT_FALSE(e.layout);
  StrandProperty& p = e["v"];
  p = prop(TARN_INT_V, &v);
  e.layout = true;
  e.str();
  e.Reset();
  EXPECT_FALSE(e.layout);
  EXPECT_TRUE(e.lastText().empty());
  EXPECT_EQ(&e["v"], &p);
  EXPECT_EQ(e["v"].value, &v);
  EXPECT_EQ(e.size(), 1u);
}

TEST(StrandEvent, SetBinningsTakesRangeFromEdges) {
  StrandEvent e;
  StrandBinning b;
  b.edges = {-1, 0, 2, 5};
  e["a"] = StrandProperty(TARN_INT_V, b, nullptr);
  e["b"] = StrandProperty(TARN_INT_V, StrandBinning(128, 0, 128), nullptr);
  e.SetBinnings();
  EXPECT_EQ(e["a"].binning.bins, 3);
  EXPECT_EQ(e["a"].binning.min, -1);
  EXPECT_EQ(e["a"].binning.max, 5);
  EXPECT_EQ(e["b"].binning.bins, 128);
  EXPECT_EQ(e["b"].binning.min, 128);
}

TEST(FormulaParser, EvaluatesArithmeticAndRejectsNonsense) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  } cases[] = {{"1+2*3", true, 7},   {"-(2+3)/2", true, -2.5}, {" 4 ", true, 4},
               {"2*", false, 0},     {"(1", false, 0},         {"", false, 0},
               {"1/0", false, 0},    {"3 4", false, 0},        {"1e3 - 1", true, 999}};
  for (const Case& c : cases) {
    formulaParser f(c.text);
    EXPECT_EQ(f.eval(), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(f.result(), c.value) << c.text;
    }
  }
}

}  // namespace
