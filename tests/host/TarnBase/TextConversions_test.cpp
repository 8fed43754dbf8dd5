#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TarnBase.h"

namespace {

// One input of a given type; keeps a printable copy of the last value.
class Typed : public TarnBase {
 public:
  explicit Typed(tarn_type t) : TarnBase(nullptr, "NoName") {
    inputs.push_back(Input("in", static_cast<Handler>(&Typed::take), t, ""));
  }
  void take(void* v) {
    last = render(inputs[0].type, v);
    ++calls;
  }
  static std::string render(tarn_type t, void* v) {
    switch (t) {
      case TARN_UINT8: return std::to_string(*static_cast<uint8_t*>(v));
      case TARN_INT8: return std::to_string(*static_cast<int8_t*>(v));
      case TARN_CHAR: return std::string(1, *static_cast<char*>(v));
      case TARN_UINT16: return std::to_string(*static_cast<uint16_t*>(v));
      case TARN_SHORT: return std::to_string(*static_cast<short*>(v));
      case TARN_UINT32: return std::to_string(*static_cast<uint32_t*>(v));
      case TARN_INT: return std::to_string(*static_cast<int*>(v));
      case TARN_BOOL: return *static_cast<bool*>(v) ? "true" : "false";
      case TARN_FLOAT: return std::to_string(*static_cast<float*>(v));
      case TARN_DOUBLE: return std::to_string(*static_cast<double*>(v));
      case TARN_UINT64: return std::to_string(*static_cast<uint64_t*>(v));
      case TARN_CSTRING: return static_cast<char*>(v);
      case TARN_STRING: return *static_cast<std::string*>(v);
      case TARN_SHORT_V: return join(*static_cast<std::vector<short>*>(v));
      case TARN_INT_V: return join(*static_cast<std::vector<int>*>(v));
      case TARN_UINT64_V: return join(*static_cast<std::vector<uint64_t>*>(v));
      case TARN_FLOAT_V: return join(*static_cast<std::vector<float>*>(v));
      case TARN_DOUBLE_V: return join(*static_cast<std::vector<double>*>(v));
      case TARN_BOOL_V: return join(*static_cast<std::vector<bool>*>(v));
      case TARN_STRING_V: {
        std::string s;
        for (auto& w : *static_cast<std::vector<std::string>*>(v)) s += "[" + w + "]";
        return s;
      }
      default: return "?";
    }
  }
  template <typename V>
  static std::string join(const V& v) {
    std::string s;
    for (auto e : v) s += (s.empty() ? "" : ",") + std::to_string(e);
    return s;
  }
  std::string last;
  int calls = 0;
};

struct Case {
  tarn_type type;
  const char* text;
  const char* expected;  // null: the text must not convert
};

TEST(SetInputText, ConvertsToEveryTextType) {
  const Case cases[] = {
      {TARN_INT, "42", "42"},
      {TARN_INT, " -7 ", "-7"},
      {TARN_INT, "0x8000", "32768"},
      {TARN_INT, "2147483648", nullptr},
      {TARN_INT, "-2147483648", "-2147483648"},
      {TARN_INT, "12abc", nullptr},
      {TARN_INT, "", nullptr},
      {TARN_INT, "1.5", nullptr},
      {TARN_SHORT, "-32768", "-32768"},
      {TARN_SHORT, "32768", nullptr},
      {TARN_UINT16, "65535", "65535"},
      {TARN_UINT16, "-1", nullptr},
      {TARN_UINT32, "0xFFFFFFFF", "4294967295"},
      {TARN_UINT64, "18446744073709551615", "18446744073709551615"},
      {TARN_UINT64, "-1", nullptr},
      {TARN_UINT8, "255", "255"},
      {TARN_UINT8, "256", nullptr},
      {TARN_INT8, "-128", "-128"},
      {TARN_CHAR, "a", "a"},
      {TARN_CHAR, "ab", nullptr},
      {TARN_BOOL, "true", "true"},
      {TARN_BOOL, "No", "false"},
      {TARN_BOOL, "1", "true"},
      {TARN_BOOL, "maybe", nullptr},
      {TARN_FLOAT, "0.25", "0.250000"},
      {TARN_FLOAT, "1e39", nullptr},
      {TARN_FLOAT, "-3", "-3.000000"},
      {TARN_DOUBLE, "1e400", nullptr},
      {TARN_DOUBLE, "2.5e-3", "0.002500"},
      {TARN_DOUBLE, "x", nullptr},
      {TARN_CSTRING, "  keep  blanks ", "  keep  blanks "},
      {TARN_CSTRING, "", ""},
      {TARN_STRING, "a b  c", "a b  c"},
      {TARN_SHORT_V, "1 -2\t3", "1,-2,3"},
      {TARN_SHORT_V, "1 70000", nullptr},
      {TARN_INT_V, "", ""},
      {TARN_INT_V, "0xFFFFFFFF -1 5", "-1,-1,5"},
      {TARN_INT_V, "1 two", nullptr},
      {TARN_UINT64_V, "1 0x10", "1,16"},
      {TARN_FLOAT_V, "0.5 2", "0.500000,2.000000"},
      {TARN_DOUBLE_V, "1e-1", "0.100000"},
      {TARN_BOOL_V, "1 0 yes", "1,0,1"},
      {TARN_STRING_V, "  TDC0 ADC0\n MADC ", "[TDC0][ADC0][MADC]"},
      {TARN_OBJECT, "anything", nullptr},
      {TARN_STRANDEVENT, "x", nullptr},
      {TARN_SHORT_VV, "1", nullptr},
  };
  for (const Case& c : cases) {
    Typed t(c.type);
    bool ok = t.SetInput(0, std::string(c.text));
    SCOPED_TRACE(std::string(tarn_type_label(c.type)) + " '" + c.text + "'");
    if (c.expected) {
      EXPECT_TRUE(ok);
      EXPECT_EQ(t.last, c.expected);
      EXPECT_EQ(t.GetInputString(0), c.text);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(t.calls, 0);
    }
  }
}

TEST(SetInputText, ConversionHelpersGiveZeroOnFailure) {
  Typed t(TARN_INT);
  EXPECT_EQ(t.convertToInt("nope"), 0);
  EXPECT_EQ(t.convertToShort("-5"), -5);
  EXPECT_EQ(t.convertToInt64("-9000000000"), -9000000000LL);
  EXPECT_FLOAT_EQ(t.convertToFloat("2.5"), 2.5f);
  EXPECT_EQ(t.convertToDoubleV("1 x"), std::vector<double>{});
  EXPECT_EQ(t.convertToStringV("a b"), (std::vector<std::string>{"a", "b"}));
  std::vector<char> c = t.convertToCString("ab");
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[2], '\0');
}

}  // namespace
