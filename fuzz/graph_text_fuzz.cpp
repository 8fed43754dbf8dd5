// Any text as a graph file, and every setting text converted to every type a
// port can have: parsing and conversion report problems, never fail unsafely.
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "GraphFile.h"
#include "TarnBase.h"

namespace {

// The conversions of a plain node, as every plug-in inherits them.
struct Plain : TarnBase {
  Plain() : TarnBase(nullptr, "fuzz") {}
};

void convertAll(const Plain& p, const std::string& text) {
  short s;
  int i;
  int64_t l;
  float f;
  double d;
  std::string t;
  std::vector<char> c;
  std::vector<int> iv;
  std::vector<std::string> sv;
  std::vector<short> hv;
  std::vector<float> fv;
  std::vector<double> dv;
  p.convertToShort(text, s);
  p.convertToInt(text, i);
  p.convertToInt64(text, l);
  p.convertToFloat(text, f);
  p.convertToDouble(text, d);
  p.convertToString(text, t);
  p.convertToCString(text, c);
  p.convertToIntV(text, iv);
  p.convertToStringV(text, sv);
  p.convertToShortV(text, hv);
  p.convertToFloatV(text, fv);
  p.convertToDoubleV(text, dv);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<GraphProblem> problems;
  static const Plain plain;
  for (const GraphStatement& s : parseGraph(text, problems)) {
    std::string node, port;
    splitPortRef(s.node + "." + s.port, node, port);
    if (s.kind == GraphStatement::Set) convertAll(plain, s.text);
  }
  convertAll(plain, text);
  return 0;
}

std::vector<std::vector<uint8_t>> tarnFuzzSeeds() {
  const char* texts[] = {
      ("# A graph\nnode in RunFile\nnode show StrandPrinter\nset in.file run00001.mid.gz\n"
       "set in.steps 0x10\nset in.interval 1.5e-3\nconnect in.event show.fevent\nstart in\n"),
      "node f EventIdFilter\nset f.IDs 1 2 0x8000 -7\nset f.#0 true\n  \n\t# comment\nstart f",
      "set a.b 3.4028235e38 -1e-45 nan inf 0x7fffffff 2147483648 -32769\n",
      "connect a.b\nnode\nnode x\nset x\nstart\nbogus line\n",
  };
  std::vector<std::vector<uint8_t>> seeds;
  for (const char* t : texts) seeds.emplace_back(t, t + std::char_traits<char>::length(t));
  return seeds;
}
