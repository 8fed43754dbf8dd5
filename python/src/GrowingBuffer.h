// Bytes of one numpy column gathered in C++ and handed over without a copy.
#pragma once

#include <pybind11/numpy.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tarnpy {

// Bytes grown by realloc: large blocks move by remapping rather than copying,
// and room not yet written is never touched, so the memory used stays close
// to what is kept. Handed to numpy at the end without a copy.
class GrowingBuffer {
 public:
  GrowingBuffer() = default;
  GrowingBuffer(const GrowingBuffer&) = delete;
  GrowingBuffer(GrowingBuffer&& o) noexcept : data(o.data), size(o.size), capacity(o.capacity) { o.data = nullptr; }
  ~GrowingBuffer() { std::free(data); }

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
  pybind11::array release(const pybind11::dtype& dtype) {
    const size_t item = dtype.itemsize();
    const size_t n = size / item;
    if (n == 0) return pybind11::array(dtype, {0}, {static_cast<pybind11::ssize_t>(item)});
    if (capacity > size) {
      if (char* fitted = static_cast<char*>(std::realloc(data, size))) data = fitted;
    }
    char* owned = data;
    data = nullptr;
    pybind11::capsule free_when_done(owned, [](void* p) { std::free(p); });
    return pybind11::array(dtype, {static_cast<pybind11::ssize_t>(n)}, {static_cast<pybind11::ssize_t>(item)}, owned, free_when_done);
  }

 private:
  void grow(size_t n) {
    size_t want = capacity ? capacity : 1 << 16;
    while (want - size < n) {
      if (want > SIZE_MAX / 2) throw std::bad_alloc();
      want *= 2;
    }
    char* bigger = static_cast<char*>(std::realloc(data, want));
    if (!bigger) throw std::bad_alloc();
    data = bigger;
    capacity = want;
  }

  char* data = nullptr;
  size_t size = 0, capacity = 0;
};

}  // namespace tarnpy
