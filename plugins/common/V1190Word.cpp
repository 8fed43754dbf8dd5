#include "V1190Word.h"

#include <cstdio>

#include "HexText.h"

namespace v1190 {

void reportUnexpected(uint32_t w) { hextext::printLine("unexpected tdc data 0x", w, 8); }

void traceWord(uint32_t w) {
  switch (type(w)) {
    case kHit:
      std::printf("hit: edge %d, chan %2d, time %6d, %7.1f ns\n", static_cast<int>(edge(w)),
                  static_cast<int>(channel(w)), static_cast<int>(time(w)), time(w) * kNsPerCount);
      break;
    case kTdcHeader:
      std::printf("tdc header,  tdc %d, event_id %d, bunch_id %d\n", static_cast<int>(tdc(w)),
                  static_cast<int>(eventId(w)), static_cast<int>(bunchId(w)));
      break;
    case kTdcTrailer:
      std::printf("tdc trailer, tdc %d, event_id %d, word_count %d\n", static_cast<int>(tdc(w)),
                  static_cast<int>(eventId(w)), static_cast<int>(tdcWordCount(w)));
      break;
    case kTdcError:
      std::printf("tdc error, tdc %d, error_flags %d\n", static_cast<int>(tdc(w)),
                  static_cast<int>(errorFlags(w)));
      break;
    case kGlobalHeader:
      std::printf("global header, event_count %d, geo %d\n", static_cast<int>(eventCount(w)),
                  static_cast<int>(geo(w)));
      break;
    case kGlobalTrailer:
      std::printf("trailer, status %d, word_count %d, geo %d\n", static_cast<int>(status(w)),
                  static_cast<int>(globalWordCount(w)), static_cast<int>(geo(w)));
      break;
    case kTriggerTimeTag:
      std::printf("trigger time tag %d\n", static_cast<int>(timeTag(w)));
      break;
    case kFiller:
      std::printf("filler\n");
      break;
    default:
      break;
  }
}

}  // namespace v1190
