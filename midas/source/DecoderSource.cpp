#include "DecoderSource.h"

#include <cstring>

DecoderSource::DecoderSource(std::unique_ptr<ByteSource> input, size_t step)
    : fInput(std::move(input)), fStep(step), fCapacity(kMaxPeek + step) {}

size_t DecoderSource::peek(size_t count, char** data) {
  if (!fBroken) going();
  if (count > kMaxPeek) count = kMaxPeek;
  if (!fBuffer) fBuffer.reset(new char[fCapacity]);
  while (fEnd - fBegin < count && !fBroken) {
    if (fCapacity - fEnd < fStep) {
      // What is held is mostly less than one event: the move is cheap.
      std::memmove(fBuffer.get(), fBuffer.get() + fBegin, fEnd - fBegin);
      fEnd -= fBegin;
      fBegin = 0;
    }
    const size_t made = decode(fBuffer.get() + fEnd, fStep);
    if (made == 0) break;  // stopped: End, Cut, Failed or Interrupted
    fEnd += made;
  }
  *data = fBuffer.get() + fBegin;
  return fEnd - fBegin;
}

// Bytes made into [out, out + room); 0 once the stream stopped, with stop() set.
size_t DecoderSource::decode(char* out, size_t room) {
  if (fBroken) return 0;  // the failure stays the stop
  for (;;) {
    if (fTrailing) {
      stopped(SourceStop::End);
      return 0;
    }
    char* in = nullptr;
    if (!fInUnit) {
      const size_t n = fInput->peek(2, &in);
      fInputHeld = n;
      if (fInput->stop() == SourceStop::Failed) break;
      if ((n == 0 || (fUnits > 0 && n < unitMagicSize())) && inputPaused()) return 0;
      if (n == 0) {
        // The input ends between units, where a file may end; before the
        // first unit it was cut (the magic number was seen).
        stopped(fUnits > 0 ? SourceStop::End : SourceStop::Cut);
        return 0;
      }
      if (fUnits > 0 && n < unitMagicSize()) {
        // Too few bytes to tell: trailing bytes so far, which end a file as
        // before, but a growing file's next unit may be starting.
        stopped(SourceStop::End);
        return 0;
      }
      Start start = Start::Unit;
      if (startUnit(in, n, fUnits == 0, &start) == Step::Failed) {
        fBroken = true;
        return 0;
      }
      if (start == Start::Trailing) {
        fTrailing = true;
        continue;
      }
      fInUnit = true;
      fHungry = false;
    }
    size_t want = fHungry ? fInputHeld + 1 : 1;
    if (want < inputWanted()) want = inputWanted();
    // A library that takes nothing from more input than any unit needs at
    // once would be fed for ever.
    if (want > (inputWanted() > kMaxPeek ? inputWanted() : kMaxPeek)) return noProgress();
    const size_t heldBefore = fHungry ? fInputHeld : 0;
    const size_t n = fInput->peek(want, &in);
    if (fInput->stop() == SourceStop::Failed) break;
    const bool ended = fInput->stop() != SourceStop::None;
    size_t used = 0, made = 0;
    const Step s = step(in, n, &used, out, room, &made);
    fInput->skip(used);
    fInputHeld = n - used;
    if (!fInput->intact()) break;  // the mapped input failed under the library
    if (s == Step::Failed) {
      fBroken = true;  // what was made before the error is still handed out
      return made;
    }
    if (s == Step::UnitEnd) {
      fInUnit = false;
      ++fUnits;
    }
    if (made > 0) return made;
    if (s == Step::Going && used == 0) {
      if (ended && inputPaused()) return 0;
      if (ended) {
        stopped(SourceStop::Cut);  // asked again, it goes on if the file grew
        return 0;
      }
      if (fHungry && n <= heldBefore) return noProgress();  // no more input will come at once
      fHungry = true;
    } else {
      fHungry = false;
    }
  }
  // The compressed input could not be read.
  failed(fInput->errorNumber(), fInput->errorText());
  fBroken = true;
  return 0;
}

// The input was told to stop waiting: no end and no cut, only a pause.
bool DecoderSource::inputPaused() {
  if (fInput->stop() != SourceStop::Interrupted) return false;
  stopped(SourceStop::Interrupted);
  return true;
}

size_t DecoderSource::noProgress() {
  failed(-1, "compressed stream: the decoder makes no progress");
  fBroken = true;
  return 0;
}
