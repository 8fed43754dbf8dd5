// Which value lists hold unsigned numbers under a signed list type. Plug-ins
// that must load in other hosts keep their port and property types (a WORD
// bank is a vector<short> property there), so they say so through the C call
// below, looked up at run time; the host's sinks then write and bin the
// elements as the unsigned numbers they are.
#pragma once

extern "C" {
// The list at `container` holds unsigned elements of the width its property
// type gives (isUnsigned 1), or no longer does (0: said before it is freed,
// so that a later list at the same address is not taken for it).
__attribute__((visibility("default"))) void tarn_values_unsigned(const void* container, int isUnsigned);
}

// Host side: true when `container` was said to hold unsigned elements.
bool valuesUnsigned(const void* container);
// Changes whenever a list is marked or unmarked.
unsigned unsignedValuesVersion();

// One property's answer, asked again only when its list or some mark changed:
// a sink can ask once per event at the cost of an atomic load.
class UnsignedLookup {
 public:
  bool of(const void* container) {
    const unsigned now = unsignedValuesVersion();
    if (container != last || now != seen) {
      last = container;
      seen = now;
      answer = container && valuesUnsigned(container);
    }
    return answer;
  }

 private:
  const void* last = nullptr;
  unsigned seen = ~0u;
  bool answer = false;
};
