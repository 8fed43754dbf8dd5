#include "LiveSnapshot.h"

namespace hist {

LiveBoard::Snapshot liveSnapshot(const Histogram& h, const std::string& node,
                                 const std::string& property, const std::string& unit) {
  auto s = std::make_shared<LiveHistogram>();
  s->node = node;
  s->property = property;
  s->unit = unit;
  s->edges = h.edges();
  s->counts = h.counts();
  s->underflow = h.underflow();
  s->overflow = h.overflow();
  s->nan = h.nans();
  s->entries = h.entries();
  s->mean = h.mean();
  s->rms = h.rms();
  return s;
}

}  // namespace hist
