#include "GrowingBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <new>

namespace py = pybind11;

namespace tarnpy {

namespace {

const size_t kHugePage = size_t{2} << 20;
const size_t kFirst = size_t{1} << 16;

size_t pageSize() {
  static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return page;
}

size_t roundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

// `length` bytes of fresh mapped memory (length a whole number of pages), on
// a huge page's boundary and asking for huge pages when it spans one.
// Only the pages written become resident; the whole length is counted
// against the system's commit limit, so that running out is a MemoryError.
char* mapFresh(size_t length) {
  const bool huge = length >= kHugePage;
  const size_t slack = huge ? kHugePage : 0;
  void* m = ::mmap(nullptr, length + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                   -1, 0);
  if (m == MAP_FAILED) throw std::bad_alloc();
  char* start = static_cast<char*>(m);
  char* aligned = reinterpret_cast<char*>(roundUp(reinterpret_cast<uintptr_t>(start), huge ? kHugePage : 1));
  if (aligned > start) ::munmap(start, static_cast<size_t>(aligned - start));
  if (start + length + slack > aligned + length)
    ::munmap(aligned + length, static_cast<size_t>(start + length + slack - (aligned + length)));
  if (huge) ::madvise(aligned, length, MADV_HUGEPAGE);  // a hint: without huge pages it works as well
  return aligned;
}

// The numpy array's hold on a mapping, which it unmaps when it goes.
struct Mapping {
  char* start;
  size_t length;
};

}  // namespace

GrowingBuffer::~GrowingBuffer() {
  if (data) ::munmap(data, capacity);
}

void GrowingBuffer::grow(size_t n) {
  size_t want = capacity ? capacity : kFirst;
  while (want - size < n) {
    if (want > SIZE_MAX / 4) throw std::bad_alloc();
    want *= 2;
  }
  want = roundUp(want, pageSize());
  char* bigger = mapFresh(want);
  if (data) {
    // The written pages move into the new place, which the kernel does by
    // their page tables: huge pages stay whole since both places are aligned.
    void* moved = ::mremap(data, capacity, want, MREMAP_MAYMOVE | MREMAP_FIXED, bigger);
    if (moved == MAP_FAILED) {
      ::munmap(bigger, want);
      throw std::bad_alloc();
    }
    if (want >= kHugePage) ::madvise(bigger, want, MADV_HUGEPAGE);  // the moved part keeps the old advice
  }
  data = bigger;
  capacity = want;
}

py::array GrowingBuffer::release(const py::dtype& dtype) {
  const size_t item = dtype.itemsize();
  const size_t n = size / item;
  if (n == 0) return py::array(dtype, {0}, {static_cast<py::ssize_t>(item)});
  // Room never written goes back now; the written pages are the array's.
  const size_t kept = roundUp(size, pageSize());
  if (capacity > kept) ::munmap(data + kept, capacity - kept);
  Mapping* owner = new Mapping{data, kept};
  data = nullptr;
  size = capacity = 0;
  py::capsule unmap_when_done(owner, [](void* p) {
    Mapping* m = static_cast<Mapping*>(p);
    ::munmap(m->start, m->length);
    delete m;
  });
  return py::array(dtype, {static_cast<py::ssize_t>(n)}, {static_cast<py::ssize_t>(item)}, owner->start,
                   unmap_when_done);
}

}  // namespace tarnpy
