// Keeps a bus error in a mapped window of a file from ending the process.
// Touching a mapped page the file no longer has (it was cut short by another
// program) or cannot give (a failed disk read) raises SIGBUS; inside a watched
// window the handler puts zero pages in the window's place and marks it, so
// the reader reports an error where read() would have returned one.
#pragma once

#include <atomic>
#include <cstddef>

namespace busguard {

// Takes a slot for one reader's windows. Returns -1 when every slot is taken
// or no handler could be installed: the reader must not map then.
int watch();
// Makes [begin, begin + length) the slot's window (null: none) and clears its mark.
void cover(int slot, char* begin, size_t length);
// Whether a bus error hit the slot's window since it was covered; a slot of
// -1 never trips. Cheap enough to ask for every event.
const std::atomic<bool>* tripped(int slot);
// Stops watching; the last slot to go puts back the former handler.
void forget(int slot);

}  // namespace busguard
