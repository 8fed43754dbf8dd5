// Bytes of one numpy column gathered in C++ and handed over without a copy.
#pragma once

#include <pybind11/numpy.h>

#include <cstddef>
#include <cstring>

namespace tarnpy {

// Bytes in memory mapped from the kernel for this buffer alone. Filling
// hundreds of megabytes costs little more than the copies once the kernel
// backs them with huge pages (one fault per 2 MiB, not per 4 KiB): large
// blocks start on a huge page's boundary and ask for them. Growing moves the
// mapping (mremap, no copy) to a new such boundary; room not yet written is
// never touched, so the memory used stays close to what is kept. Handed to
// numpy at the end without a copy.
class GrowingBuffer {
 public:
  GrowingBuffer() = default;
  GrowingBuffer(const GrowingBuffer&) = delete;
  GrowingBuffer(GrowingBuffer&& o) noexcept : data(o.data), size(o.size), capacity(o.capacity) {
    o.data = nullptr;
    o.size = o.capacity = 0;
  }
  ~GrowingBuffer();

  void append(const void* bytes, size_t n) {
    if (n == 0) return;  // an empty list's data() may be null, which memcpy must not see
    if (n > capacity - size) grow(n);
    std::memcpy(data + size, bytes, n);
    size += n;
  }
  template <class T>
  void push(T v) { append(&v, sizeof v); }
  size_t bytes() const { return size; }

  // An array of `dtype` over the bytes; the buffer is numpy's from then on.
  pybind11::array release(const pybind11::dtype& dtype);

 private:
  void grow(size_t n);

  char* data = nullptr;
  size_t size = 0, capacity = 0;
};

}  // namespace tarnpy
